// The console's connection stream on a socket whose peer reads late and
// little: held bytes and an answer too large to hold must leave whole and in
// order through partial sends, and a peer that never reads must fail the
// write within the write timeout rather than hold the thread; a peer that
// is gone fails it at once.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "host/vmadmd/ConnectionStream.h"
#include "platform/String.h"

namespace {

using std::chrono::milliseconds;

struct Pair {
    int writer = -1, reader = -1;
    Pair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
        writer = fds[0];
        reader = fds[1];
        int small = 4096;
        ::setsockopt(writer, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        ::setsockopt(reader, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    ~Pair() {
        ::close(writer);
        ::close(reader);
    }
};

String pattern(std::size_t size, char first) {
    String bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(first + i % 23);
    return bytes;
}

TEST(ConnectionStream, LargeWritesLeaveWholeThroughPartialSends) {
    Pair pair;
    ASSERT_GE(pair.writer, 0);
    auto received = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(50));  // the socket fills first
        String got;
        char buffer[1000];
        for (ssize_t n; (n = ::recv(pair.reader, buffer, sizeof buffer, 0)) > 0;)
            got.append(buffer, static_cast<std::size_t>(n));
        return got;
    });
    ConnectionStream stream(pair.writer, -1, std::chrono::seconds(5));
    const String head = pattern(300, 'a'), body = pattern(200 * 1024, 'A'), tail = "end";
    EXPECT_EQ(stream.write(head.data(), head.size()), static_cast<ssize_t>(head.size()));
    EXPECT_EQ(stream.write(body.data(), body.size()), static_cast<ssize_t>(body.size()));
    EXPECT_EQ(stream.write(tail.data(), tail.size()), static_cast<ssize_t>(tail.size()));
    EXPECT_TRUE(stream.flush());
    // Nothing held this time: the large write goes alone.
    EXPECT_EQ(stream.write(body.data(), body.size()), static_cast<ssize_t>(body.size()));
    EXPECT_TRUE(stream.flush());
    ::shutdown(pair.writer, SHUT_WR);
    String got = received.get();
    const String sent = head + body + tail + body;
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "the bytes arrived changed or out of order";
}

TEST(ConnectionStream, APeerThatNeverReadsFailsTheWriteInTimeAndOneGoneAtOnce) {
    Pair pair;
    ASSERT_GE(pair.writer, 0);
    ConnectionStream stream(pair.writer, -1, std::chrono::seconds(1));
    const String body = pattern(200 * 1024, 'A');
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(stream.write(body.data(), body.size()), -1);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, milliseconds(900));
    EXPECT_LT(took, milliseconds(3000));

    // A peer that is gone fails the next write at once, and raises no SIGPIPE.
    ::close(pair.reader);
    pair.reader = -1;
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(stream.write(body.data(), body.size()), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(500));
}

}  // namespace

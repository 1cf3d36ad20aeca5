// The console under hostile clients: bodies without end, clients that send
// their headers a byte a second, many connections from one address.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "host/vmadmd/BoundedServer.h"
#include "tests/vmadmd/ConsoleFixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kMiB = 1024 * 1024;

// A TCP connection to the console from the loopback address `from`.
int connectFrom(const char* from, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{}, remote{};
    local.sin_family = remote.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What the console sends within `wait`; `closed` tells whether it then
// closed the connection.
String readAnswer(int fd, milliseconds wait, bool& closed) {
    String answer;
    char buffer[4096];
    closed = false;
    for (auto end = Clock::now() + wait; Clock::now() < end;) {
        pollfd ready = {fd, POLLIN, 0};
        if (::poll(&ready, 1, 50) <= 0) continue;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EAGAIN) continue;
        if (n <= 0) return closed = true, answer;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    return answer;
}

int statusOf(const String& answer) {
    return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::stoi(answer.substr(9, 3)) : -1;
}

// The most memory the process ever had resident, in kB.
long peakKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (String line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Sends the head, then up to `size` bytes of body as fast as the console
// takes them, until it answers; `sent` counts the bytes.
String sendBody(int port, const String& head, std::size_t size, bool chunked, std::size_t& sent,
                bool& closed) {
    int fd = connectFrom("127.0.0.1", port);
    EXPECT_GE(fd, 0);
    const String piece(64 * 1024, 'x');
    const String framed = chunked ? "10000\r\n" + piece + "\r\n" : piece;
    String pending = head;
    sent = 0;
    for (pollfd ready = {fd, POLLIN | POLLOUT, 0}; sent < size;) {
        if (::poll(&ready, 1, 5000) <= 0 || (ready.revents & (POLLIN | POLLERR | POLLHUP))) break;
        if (pending.empty()) pending = framed;
        ssize_t n = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EAGAIN) continue;
        if (n < 0) break;
        pending.erase(0, static_cast<std::size_t>(n));
        sent += static_cast<std::size_t>(n);
    }
    String answer = readAnswer(fd, milliseconds(3000), closed);
    ::close(fd);
    return answer;
}

using ConsoleLimitsTest = ConsoleFixture;

TEST_F(ConsoleLimitsTest, BodiesOverTheLimitAreRefusedBeforeTheyAreRead) {
    struct Case {
        const char* path;
        bool token;
        bool chunked;
        std::size_t size;
        int status;
    } cases[] = {
        {"/", false, true, 128 * kMiB, 413},
        {"/api/forms/2/get", true, true, 128 * kMiB, 413},
        {"/", false, false, 100 * kMiB, 413},
        {"/api/forms/2/get", false, false, 100 * kMiB, 401},
    };
    const long startKb = peakKb(vmadmd_.pid());
    for (const Case& c : cases) {
        SCOPED_TRACE(String(c.path) + (c.chunked ? " chunked" : " with a length"));
        String head = "POST " + String(c.path) +
                      " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                      "\r\nContent-Type: application/json\r\n";
        if (c.token) head += "Authorization: Bearer " + token_ + "\r\n";
        head += c.chunked ? "Transfer-Encoding: chunked\r\n\r\n"
                          : "Content-Length: " + std::to_string(c.size) + "\r\n\r\n";
        std::size_t sent = 0;
        bool closed = false;
        String answer = sendBody(port_, head, c.size, c.chunked, sent, closed);
        EXPECT_EQ(statusOf(answer), c.status) << answer.substr(0, 200);
        EXPECT_LT(sent, 16 * kMiB);  // socket buffers' worth, not the body
        EXPECT_TRUE(closed) << "the unread rest of a refused body ends the connection";
    }
    // Growth, not the peak itself: a sanitizer build starts far higher.
    EXPECT_LT(peakKb(vmadmd_.pid()) - startKb, 32 * 1024) << "growth of vmadmd's peak, kB";
}

TEST_F(ConsoleLimitsTest, SlowClientsNeitherStarveSignedInRequestsNorStay) {
    constexpr int kSlow = 100;
    const String request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Filler: " + String(40, 'y');
    // Four addresses, so the per-address cap leaves them all open.
    const char* from[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"};
    std::vector<int> slow;
    for (int i = 0; i < kSlow; ++i) slow.push_back(connectFrom(from[i % 4], port_));
    std::vector<Clock::duration> open(kSlow, Clock::duration::max());
    auto began = Clock::now();
    std::thread trickle([&] {
        // An answer (400) or the end of the connection: the console gave up.
        auto gaveUp = [&](int fd) {
            char buffer[512];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            return n >= 0 || errno != EAGAIN;
        };
        int left = kSlow;
        for (std::size_t sent = 0; left > 0 && Clock::now() - began < std::chrono::seconds(10);
             sent = (sent + 1) % request.size()) {
            for (int i = 0; i < kSlow; ++i) {
                if (open[i] != Clock::duration::max()) continue;
                if (gaveUp(slow[i]) || ::send(slow[i], &request[sent], 1, MSG_NOSIGNAL) != 1) {
                    open[i] = Clock::now() - began;
                    --left;
                }
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    std::this_thread::sleep_for(milliseconds(1500));
    Clock::duration slowest{};
    for (int i = 0; i < 20; ++i) {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(std::chrono::seconds(3));
        auto start = Clock::now();
        auto reply = client.Get("/api/session", headers(token_));
        slowest = std::max(slowest, Clock::now() - start);
        EXPECT_EQ(reply ? reply->status : -1, 200);
        if (!reply) break;
    }
    EXPECT_LT(slowest, milliseconds(100)) << "a signed-in request while 100 clients trickle";
    trickle.join();
    for (int fd : slow) ::close(fd);
    EXPECT_LE(*std::max_element(open.begin(), open.end()),
              BoundedServer::kHeaderTime + std::chrono::seconds(2))
        << "a slow connection outlived the time for its headers";
}

TEST_F(ConsoleLimitsTest, ConnectionsPerAddressAreCapped) {
    std::vector<int> idle;
    for (std::size_t i = 0; i < BoundedServer::kPerPeer; ++i)
        idle.push_back(connectFrom("127.0.0.1", port_));
    std::this_thread::sleep_for(milliseconds(300));
    int extra = connectFrom("127.0.0.1", port_);
    ASSERT_GE(extra, 0);
    bool closed = false;
    String refusal = readAnswer(extra, milliseconds(1000), closed);
    EXPECT_TRUE(closed) << "the connection over the cap is closed at once";
    EXPECT_EQ(statusOf(refusal), 503);
    ::close(extra);

    int other = connectFrom("127.0.0.2", port_);
    ASSERT_GE(other, 0);
    String ask = "GET /api/session HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token_ +
                 "\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(::send(other, ask.data(), ask.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(ask.size()));
    String answer = readAnswer(other, milliseconds(1000), closed);
    EXPECT_EQ(statusOf(answer), 200) << "another address is served";
    ::close(other);
    for (int fd : idle) ::close(fd);
}

// Answers are held until httplib has written them whole; what must reach the
// client before it sends more (an interim answer) or before the next answer
// (requests sent together) must not wait behind that hold.
TEST_F(ConsoleLimitsTest, AnswersLeaveWhenTheClientNeedsThem) {
    const String body = R"({"fields":{"0":"SYSTEM","1":"x"}})";
    const String head =
        "POST /api/forms/2/get HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
        "\r\nAuthorization: Bearer " + token_ +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n";
    int fd = connectFrom("127.0.0.1", port_);
    ASSERT_GE(fd, 0);
    auto send = [&](const String& bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    };
    // Waits for `count` complete answers (a body follows each final one).
    auto answers = [&](std::size_t count) {
        String got;
        char buffer[4096];
        for (auto end = Clock::now() + milliseconds(2000); Clock::now() < end;) {
            std::size_t done = 0;
            for (std::size_t at = got.find("HTTP/1.1 "); at != String::npos;
                 at = got.find("HTTP/1.1 ", at + 1))
                done +=
                    got.compare(at, 12, "HTTP/1.1 100") == 0 || got.find("}", at) != String::npos;
            if (done >= count) break;
            pollfd ready = {fd, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) continue;
            ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    };
    ASSERT_TRUE(send(head + "Expect: 100-continue\r\n\r\n"));
    String interim = answers(1);
    EXPECT_EQ(interim.rfind("HTTP/1.1 100", 0), 0u) << "no interim answer before the body";
    ASSERT_TRUE(send(body));
    EXPECT_EQ(statusOf(answers(1)), 200);
    ASSERT_TRUE(send(head + "\r\n" + body + head + "\r\n" + body));
    String both = answers(2);
    EXPECT_NE(both.find("HTTP/1.1 200", both.find("HTTP/1.1 200") + 1), String::npos)
        << "two requests sent together, answered: " << both.substr(0, 300);
    ::close(fd);
}

}  // namespace

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "host/platform/HostPlatform.h"
#include "host/platform/MsgChannel.h"
#include "host/platform/MsgServer.h"
#include "platform/FileSystem.h"
#include "platform/OrvexMsgClient.h"
#include "tests/testing/PlatformFixture.h"

namespace {

// A stream socket connected to (or, with bind, bound at) box 7's resource 2.
int socketAt(bool bind = false) {
    String path = MsgChannel::socketPath(7, 2);
    sockaddr_un address;
    EXPECT_TRUE(HostPlatform::makeParentDirectories(path));
    EXPECT_TRUE(MsgChannel::socketAddress(path, &address));
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    auto* at = reinterpret_cast<sockaddr*>(&address);
    EXPECT_EQ(bind ? ::bind(fd, at, sizeof address) : ::connect(fd, at, sizeof address), 0);
    return fd;
}

String frame(std::uint32_t magic, int opcode, int type, std::uint32_t length, String body = "") {
    MsgFrameHeader header{magic, opcode, type, length};
    return String(reinterpret_cast<const char*>(&header), sizeof header) + body;
}

std::ptrdiff_t openDescriptors() {
    std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
}

// A client of box 7, resource 2, sending `body` with opcode 42.
class MsgTransportTest : public PlatformFixture {
  protected:
    const MCStatus& call(const String& body = "ping", int timeoutMs = -1) {
        client.allocate();
        client.opcode(42);
        client.to()[1] = 7;
        client.to()[2] = 2;
        std::memcpy(client.body(), body.data(), body.size());
        client.length(static_cast<int>(body.size()));
        return client.access_with_reply(timeoutMs, 3);
    }

    static std::optional<String> echo(int, const String& body) { return "re:" + body; }

    OrvexMsgClient client{nullptr, 1114};
};

TEST_F(MsgTransportTest, NobodyListening) {
    EXPECT_EQ(call().status, MSG_NO_LISTENER);  // no socket file
    ::close(socketAt(/*bind=*/true));           // a socket file left by a server that is gone
    EXPECT_EQ(call().status, MSG_NO_LISTENER);
}

TEST_F(MsgTransportTest, SocketPathBeyondSunPathIsRefused) {
    HostPlatform::setRoot(root_ + "/" + String(120, 'd'));
    EXPECT_EQ(call().status, MSG_BAD_ADDRESS);
    MsgServer server(7, 2, echo);
    EXPECT_FALSE(server.start());
    EXPECT_EQ(errno, ENAMETOOLONG);
}

TEST_F(MsgTransportTest, TimeLimitEndsTheWaitForASlowOwner) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    MsgServer server(7, 2, [released](int, const String&) {
        released.wait();
        return std::optional<String>("late");
    });
    ASSERT_TRUE(server.start());
    EXPECT_EQ(call("ping", 50).status, MSG_TIMED_OUT);
    release.set_value();  // its reply then meets a closed client
}

TEST_F(MsgTransportTest, ServerSurvivesBadClientsAndStopsCleanly) {
    FileSystem::exists("/vm");  // the platform keeps the root's descriptor from its first lookup
    auto before = openDescriptors();
    {
        MsgServer server(7, 2, echo);
        ASSERT_TRUE(server.start());
        EXPECT_EQ(server.socketPath(), hostPath("/vm/run/box7.2"));
        EXPECT_TRUE(FileSystem::exists("/vm/run/box7.2"));
        EXPECT_FALSE(server.start());
        // Garbage, a body over the limit, a reply where a request belongs,
        // nothing, and a whole request whose client is gone before the reply.
        for (const String& bytes :
             {String(40, 'x'), frame(kMsgFrameMagic, 42, kMsgRequestType, 9000),
              frame(kMsgFrameMagic, 42, kMsgReplyType, 0), String(),
              frame(kMsgFrameMagic, 42, kMsgRequestType, 4, "gone")}) {
            int fd = socketAt();
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            ::close(fd);
        }
        ASSERT_EQ(call().status, 0u);
        EXPECT_EQ(String(client.body(), client.length()), "re:ping");

        int stalled = socketAt();  // half a header, never finished
        ::send(stalled, "MSG", 3, MSG_NOSIGNAL);
        server.stop();
        ::close(stalled);
        EXPECT_FALSE(FileSystem::exists("/vm/run/box7.2"));
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(MsgTransportTest, SilentClientsDelayNobodyAndTheOldestMakesRoomBeyondTheCap) {
    MsgServer server(7, 2, echo);
    ASSERT_TRUE(server.start());
    std::vector<int> silent;
    for (std::size_t i = 0; i < MsgServer::maxConnections; ++i) silent.push_back(socketAt());
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(call("ping", 2000).status, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    // The oldest silent client made room and sees its connection closed; the
    // newest is still waited for.
    pollfd oldest{silent.front(), POLLIN, 0}, newest{silent.back(), POLLIN, 0};
    ASSERT_EQ(::poll(&oldest, 1, 1000), 1);
    char byte;
    EXPECT_EQ(::recv(silent.front(), &byte, 1, MSG_DONTWAIT), 0);
    EXPECT_EQ(::poll(&newest, 1, 0), 0);
    server.stop();
    EXPECT_TRUE(traces->contains(1, "at its limit of"));
    for (int fd : silent) ::close(fd);
}

TEST_F(MsgTransportTest, MalformedRepliesFailWithTheirOwnStatus) {
    const String goodHeader = frame(kMsgFrameMagic, 42, kMsgReplyType, 16);
    const struct {
        const char* name;
        String reply;
        std::uint32_t status;
    } cases[] = {
        {"Nothing", "", MSG_PEER_CLOSED},
        {"HalfHeader", goodHeader.substr(0, 6), MSG_PEER_CLOSED},
        {"BodyCutShort", goodHeader + "abcd", MSG_PEER_CLOSED},
        {"Garbage", String(16, 'x'), MSG_BAD_FRAME},
        {"OtherOpcode", frame(kMsgFrameMagic, 41, 3, 0), MSG_BAD_FRAME},
        {"Oversized", frame(kMsgFrameMagic, 42, 3, 9000), MSG_REPLY_TOO_LONG},
        {"WrongType", frame(kMsgFrameMagic, 42, 2, 0), MSG_WRONG_TYPE},
    };
    for (const auto& c : cases) {
        // A peer that reads one request, answers with raw bytes and closes.
        int listener = socketAt(/*bind=*/true);
        ASSERT_EQ(::listen(listener, 1), 0);
        std::thread peer([&] {
            int fd = ::accept(listener, nullptr, nullptr);
            MsgChannel channel(fd, 5000);
            MsgFrameHeader request;
            String body(MCMsg::maxBody, '\0');
            channel.receive(&request, body.data(), body.size());
            ::send(fd, c.reply.data(), c.reply.size(), MSG_NOSIGNAL);
        });
        EXPECT_EQ(call().status, c.status) << c.name;
        peer.join();
        ::close(listener);
        ::unlink(MsgChannel::socketPath(7, 2).c_str());
    }
}

}  // namespace

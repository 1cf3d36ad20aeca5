#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <random>
#include <sstream>
#include <vector>

#include "host/platform/MsgChannel.h"
#include "host/platform/MsgServer.h"
#include "message/PropertiesObjectInput.h"
#include "platform/FileSystem.h"
#include "platform/MCMsg.h"
#include "platform/OrvexMsgClient.h"
#include "platform/Rsc_id.h"
#include "properties/COSProperties.h"
#include "tests/testing/PlatformFixture.h"
#include "tests/testing/VmpropdProcess.h"

namespace {

using A = PropertyAttributes;
using Io = MsgChannel::Io;
constexpr int kUpdate = 39169;
constexpr std::uint16_t kOwnerBox = 333;

String streamOf(const Properties& set) {
    std::ostringstream out;
    set.save(out);
    return out.str();
}

void putValue(Properties& set, const String& name, const String& value) {
    Property p;
    p.name = Symbol(name);
    p.attributes.set_readable(A::Server, true);
    p.attributes.set_writeable(A::Server, true);
    p.value.modify(value, 0);
    ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
}

String cosKey(std::uint32_t number) {
    return String(reinterpret_cast<const char*>(&number), sizeof number);
}

// An update frame as a sender builds it; each field gets at most 1024 bytes
// (a text of 1024 bytes has no NUL left).
String update(const String& handoff, const String& factory = "COSProperties",
              const String& key = cosKey(7), int opcode = kUpdate) {
    Rsc_id owner{kOwnerBox, 0, 1};
    PropertiesObjectInput input{};
    std::memcpy(input.key, key.data(), std::min<std::size_t>(key.size(), 1024));
    std::memcpy(input.tmp_path, handoff.data(), std::min<std::size_t>(handoff.size(), 1024));
    std::memcpy(input.factory_name, factory.data(), std::min<std::size_t>(factory.size(), 1024));
    MsgFrameHeader header{kMsgFrameMagic, opcode, kMsgRequestType, sizeof owner + sizeof input};
    return String(reinterpret_cast<const char*>(&header), sizeof header) +
           String(reinterpret_cast<const char*>(&owner), sizeof owner) +
           String(reinterpret_cast<const char*>(&input), sizeof input);
}

std::uint32_t wordAt(const String& body, std::size_t offset) {
    std::uint32_t value = 0;
    if (body.size() >= offset + 4) std::memcpy(&value, body.data() + offset, 4);
    return value;
}

int connectToOwner() {
    sockaddr_un address;
    EXPECT_TRUE(MsgChannel::socketAddress(MsgChannel::socketPath(kOwnerBox, 1), &address));
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

struct Exchange {
    Io io = Io::failed;
    String reply;
};

// Sends raw bytes on a fresh connection, ends the sending side, reads the reply.
Exchange exchange(const String& bytes, int timeoutMs = 5000) {
    int fd = connectToOwner();
    MsgChannel channel(fd, timeoutMs);
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    Exchange result;
    MsgFrameHeader header;
    result.reply.assign(MCMsg::maxBody, '\0');
    result.io = channel.receive(&header, result.reply.data(), result.reply.size());
    result.reply.resize(result.io == Io::ok ? header.length : 0);
    return result;
}

// The daemon as box 333 on the test's root; the test process is box 1.
class Vmpropd : public PlatformFixture {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        COSProperties::btreeFD = -1;  // nothing of an earlier root stays open
        Properties::myPBox = 0;
        ASSERT_TRUE(daemon.start(root_, kOwnerBox)) << readFile("/vmpropd.out");
        COSProperties scratch;
        putValue(scratch, "Greeting", "hello");
        goodStream = streamOf(scratch);
        writeFile("/vm/tmp/good", goodStream);
    }
    void TearDown() override {
        EXPECT_EQ(daemon.stop(), 0) << readFile("/vmpropd.out");
        Properties::myPBox = 0;
        PlatformFixture::TearDown();
    }

    static Properties::PropertiesStatus counterOf(std::uint32_t number) {
        return COSProperties(static_cast<unsigned long>(number)).getStatus();
    }
    static String goodRequest() { return update("/vm/tmp/good"); }

    VmpropdProcess daemon;
    String goodStream;
};

TEST_F(Vmpropd, NonOwnerSaveIsStoredByTheDaemonWithTheNextCounter) {
    COSProperties set(7UL);
    Properties::PropertiesStatus before = set.getStatus();
    putValue(set, "Greeting", "hello");
    ASSERT_TRUE(set.save()) << Properties::error_name(set.getError());
    EXPECT_EQ(set.getStatus(), before + 1);
    putValue(set, "Other", "value");
    ASSERT_TRUE(set.save()) << Properties::error_name(set.getError());
    EXPECT_EQ(set.getStatus(), before + 2);

    COSProperties third(7UL);
    EXPECT_EQ(third.getStatus(), set.getStatus());
    EXPECT_EQ(streamOf(third), streamOf(set));
    EXPECT_TRUE(listDirectory("/vm/tmp").size() == 1u) << "only the fixture's file is left";
}

TEST_F(Vmpropd, WithTheDaemonStoppedSaveFailsAndLeavesNoHandOffFile) {
    ASSERT_EQ(daemon.stop(), 0);
    EXPECT_FALSE(FileSystem::exists("/vm/run/box333.1"));
    FileSystem::unlink("/vm/tmp/good");
    COSProperties set(7UL);
    putValue(set, "Greeting", "hello");
    errno = 0;
    bool saved = set.save();
    int error = errno;
    EXPECT_FALSE(saved);
    EXPECT_EQ(set.getError(), Properties::OS_SYSTEM_ERROR);
    EXPECT_EQ(error, EHOSTUNREACH);
    EXPECT_TRUE(traces->contains(1, std::to_string(MSG_NO_LISTENER)));
    EXPECT_TRUE(listDirectory("/vm/tmp").empty());
}

TEST_F(Vmpropd, FileKindIsWrittenAndAnsweredWithTheFileTime) {
    ASSERT_TRUE(FileSystem::makeDirectories("/VM/config"));
    Exchange done = exchange(update("/vm/tmp/good", "FileProperties", "/VM/config/props"));
    ASSERT_EQ(done.io, Io::ok);
    EXPECT_EQ(wordAt(done.reply, 0), 0u);
    struct stat info;
    ASSERT_EQ(::stat(hostPath("/VM/config/props").c_str(), &info), 0);
    EXPECT_EQ(wordAt(done.reply, 4), static_cast<std::uint32_t>(info.st_mtime));
    EXPECT_EQ(readFile("/VM/config/props"), goodStream);
}

TEST_F(Vmpropd, FullServerQueuesAClientAndStopsDespiteSilentOnes) {
    std::vector<int> silent;
    for (std::size_t i = 0; i < MsgServer::maxConnections; ++i) silent.push_back(connectToOwner());
    auto queued = std::async(std::launch::async, [] { return exchange(goodRequest(), 4000); });
    EXPECT_EQ(queued.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "served beyond the connection limit";
    ::close(silent.back());
    silent.pop_back();
    // Well before the silent connections' own time limit runs out: the ones
    // still open do not delay it.
    ASSERT_EQ(queued.wait_for(std::chrono::milliseconds(MsgServer::requestTimeoutMs / 2)),
              std::future_status::ready);
    EXPECT_EQ(queued.get().io, Io::ok);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(daemon.stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    for (int fd : silent) ::close(fd);
}

// What becomes of a well-formed update frame before it is sent.
enum class Mangle { none, otherOpcode, shortBody, truncated, randomBytes };

// A request the daemon must refuse: the error code and errno of its reply
// (error 0: no reply, the connection is closed).
struct Refusal {
    const char* name;
    String handoff;
    std::uint32_t error;
    std::uint32_t errorNo;  // checked for OS_SYSTEM_ERROR only
    String factory = "COSProperties";
    String key = cosKey(7);
    Mangle mangle = Mangle::none;

    String bytes() const {
        String whole = update(handoff, factory, key, mangle == Mangle::otherOpcode ? 1 : kUpdate);
        MsgFrameHeader shortHeader{kMsgFrameMagic, kUpdate, kMsgRequestType, 100};
        if (mangle == Mangle::shortBody)
            return String(reinterpret_cast<const char*>(&shortHeader), 16) + whole.substr(16, 100);
        if (mangle == Mangle::truncated) return whole.substr(0, whole.size() / 2);
        if (mangle != Mangle::randomBytes) return whole;
        std::mt19937 generator(20240611);
        for (char& c : whole) c = static_cast<char>(generator());
        return whole;
    }
};

Refusal refused(const char* name, String handoff, int errorNo, String factory = "COSProperties",
                String key = cosKey(7)) {
    return {name,    handoff, Properties::OS_SYSTEM_ERROR, static_cast<std::uint32_t>(errorNo),
            factory, key};
}

Refusal dropped(const char* name, Mangle mangle) {
    return {name, "/vm/tmp/good", 0, 0, "COSProperties", cosKey(7), mangle};
}

void PrintTo(const Refusal& c, std::ostream* out) {
    *out << c.name;
}

class VmpropdRefusal : public Vmpropd, public ::testing::WithParamInterface<Refusal> {
  protected:
    void SetUp() override {
        Vmpropd::SetUp();
        writeFile("/vm/x", goodStream);
        ASSERT_EQ(::symlink("/vm/x", hostPath("/vm/tmp/link").c_str()), 0);
        ASSERT_EQ(::mkfifo(hostPath("/vm/tmp/fifo").c_str(), 0600), 0);
        writeFile("/vm/tmp/garbage", "not a property stream\n");
    }
};

TEST_P(VmpropdRefusal, IsAnsweredAsDocumentedWritesNothingAndServingGoesOn) {
    const Refusal& c = GetParam();
    ASSERT_EQ(exchange(goodRequest()).io, Io::ok);  // a record that a wrong write would change
    Properties::PropertiesStatus before = counterOf(7);
    ASSERT_GT(before, 0u);
    Exchange answer = exchange(c.bytes());
    if (c.error != 0) {
        ASSERT_EQ(answer.io, Io::ok);
        EXPECT_NE(wordAt(answer.reply, 0), 0u);
        EXPECT_EQ(wordAt(answer.reply, 8), c.error);
        if (c.error == Properties::OS_SYSTEM_ERROR) {
            EXPECT_EQ(wordAt(answer.reply, 12), c.errorNo);
        }
    } else {
        EXPECT_EQ(answer.io, Io::closed) << "dropped at once, not left to time out";
    }
    EXPECT_EQ(counterOf(7), before);

    Exchange served = exchange(goodRequest());
    ASSERT_EQ(served.io, Io::ok);
    EXPECT_EQ(wordAt(served.reply, 0), 0u);
    EXPECT_EQ(wordAt(served.reply, 4), before + 1);
    EXPECT_EQ(counterOf(7), before + 1);
}

const String kGood = "/vm/tmp/good";

INSTANTIATE_TEST_SUITE_P(
    Requests, VmpropdRefusal,
    ::testing::Values(
        refused("DotDotOutOfTmp", "/vm/tmp/../x", EACCES),
        refused("SymlinkLeadingOut", "/vm/tmp/link", EACCES),
        refused("MissingFile", "/vm/tmp/absent", ENOENT), refused("Fifo", "/vm/tmp/fifo", EINVAL),
        refused("UnknownKind", kGood, ENOENT, "NoSuchProperties"),
        refused("NameWithoutNul", kGood, EINVAL, String(1024, 'C')),
        refused("PathWithoutNul", kGood + String(1024, 'p'), EINVAL),
        refused("FileKeyLeavingTheRoot", kGood, EINVAL, "FileProperties", "/VM/../../x"),
        refused("FileKeyThatIsAFifo", kGood, EINVAL, "FileProperties", "/vm/tmp/fifo"),
        Refusal{"StreamThatDoesNotRead", "/vm/tmp/garbage", Properties::CANT_PARSE_VERSION, 0},
        dropped("OtherOpcode", Mangle::otherOpcode), dropped("ShortBody", Mangle::shortBody),
        dropped("Truncated", Mangle::truncated), dropped("RandomBytes", Mangle::randomBytes)),
    [](const auto& info) { return String(info.param.name); });

}  // namespace

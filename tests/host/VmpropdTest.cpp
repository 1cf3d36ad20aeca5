#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "host/platform/MsgChannel.h"
#include "message/PropertiesObjectInput.h"
#include "platform/FileSystem.h"
#include "platform/MCMsg.h"
#include "platform/OrvexMsgClient.h"
#include "platform/Rsc_id.h"
#include "properties/COSProperties.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"
#include "tests/testing/VmpropdProcess.h"

namespace {

using Io = MsgChannel::Io;
constexpr int kUpdate = 39169;
constexpr std::uint16_t kOwnerBox = 333;

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

TEST_F(Vmpropd, RecordsAtTheEndsOfTheAcceptedRangesAreStored) {
    for (const auto& [kind, number] : {std::pair<String, std::uint32_t>{"COSProperties", 0},
                                       {"COSProperties", 0xFFFFFFFE},
                                       {"SubscriberProperties", 0x3FFFFE}}) {
        Exchange done = exchange(update("/vm/tmp/good", kind, cosKey(number)));
        ASSERT_EQ(done.io, Io::ok);
        EXPECT_EQ(wordAt(done.reply, 0), 0u)
            << kind << " " << number << ": errno " << wordAt(done.reply, 12);
    }
}

TEST_F(Vmpropd, IdleAndSlowPeersDoNotDelayAnUpdate) {
    ASSERT_EQ(exchange(goodRequest()).io, Io::ok);  // the index is open: only waiting counts
    std::vector<int> peers;
    for (int i = 0; i < 100; ++i) {
        peers.push_back(connectToOwner());
        // Every other peer has started its frame and stalls in the header.
        if (i % 2 == 1) ::send(peers.back(), "MSG1", 4, MSG_NOSIGNAL);
    }
    auto start = std::chrono::steady_clock::now();
    Exchange served = exchange(goodRequest(), 20000);
    auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(served.io, Io::ok);
    EXPECT_EQ(wordAt(served.reply, 0), 0u);
    EXPECT_LT(took, std::chrono::milliseconds(100))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(daemon.stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    for (int fd : peers) ::close(fd);
}

TEST_F(Vmpropd, SaysOnceWhereItListensAndASecondInstanceLeavesItServing) {
    EXPECT_EQ(daemon.output(), "vmpropd: box 333 listening on /vm/run/box333.1\n");
    VmpropdProcess second("second.out");
    EXPECT_FALSE(second.start(root_, kOwnerBox));
    EXPECT_EQ(second.stop(), 1);
    EXPECT_NE(readFile("/second.out").find("pid " + std::to_string(daemon.pid())), String::npos)
        << readFile("/second.out");
    Exchange served = exchange(goodRequest());
    ASSERT_EQ(served.io, Io::ok);
    EXPECT_EQ(wordAt(served.reply, 0), 0u);
}

TEST_F(Vmpropd, StartIsRefusedForAMissingRootOrABoxThatOwnsNothing) {
    const struct {
        String root;
        std::uint16_t box;
        const char* says;
    } cases[] = {{root_ + "/missing", kOwnerBox, "cannot be used"}, {root_, 334, "owns no kind"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        VmpropdProcess refused(root_ + "/refused.out");
        EXPECT_FALSE(refused.start(c.root, c.box));
        EXPECT_EQ(refused.stop(), 2);
        EXPECT_NE(readFile("/refused.out").find(c.says), String::npos) << readFile("/refused.out");
    }
    EXPECT_FALSE(FileSystem::exists("/missing")) << "a mistyped root became a tree";
    EXPECT_FALSE(FileSystem::exists("/vm/run/box334.1"));
}

TEST_F(Vmpropd, StartSweepsHandOffAndValueFilesOfGoneProcessesOnly) {
    const pid_t live = ::getpid(), dead = ::fork();  // a sender pid no process has any more
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const struct {
        const char* name;
        pid_t sender;
        String suffix;
        int ageSeconds;
        bool beingRead;
        bool removed;
    } cases[] = {
        {"GoneSender", dead, "COSProperties", 60, false, true},
        {"GoneSenderOfASubscriber", dead, "SubscriberProperties", 60, false, true},
        {"GoneSenderJustNow", dead, "COSProperties", 0, false, false},
        {"GoneSenderBeingRead", dead, "COSProperties", 60, true, false},
        {"LiveSender", live, "COSProperties", 60, false, false},
        {"LiveSenderLongAgo", live, "COSProperties", 7200, false, true},
        // A value's file goes with its process, or when it is older than
        // the process now bearing its pid (this test's); the files of a
        // process that lives on stay, however old (init's).
        {"ValueFileOfAGoneProcess", dead, ".p", 60, false, true},
        {"ValueFileOfAGoneProcessJustNow", dead, ".p", 0, false, false},
        {"ValueFileOfAnEarlierProcessOfThePid", live, ".p", 3600, false, true},
        {"ValueFileOfALiveProcess", 1, ".p", 30, false, false},
    };
    ASSERT_EQ(daemon.stop(), 0);
    std::vector<int> readers;
    // A sender's name: pid, salt, counter, then the kind.
    auto pathOf = [&cases](const auto& c) {
        return "/vm/tmp/" + std::to_string(c.sender) + "_1a2b3c_" + std::to_string(&c - cases) +
               c.suffix;
    };
    for (const auto& c : cases) {
        writeFile(pathOf(c), goodStream);
        timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - c.ageSeconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, hostPath(pathOf(c)).c_str(), times, 0), 0);
        if (c.beingRead) {
            readers.push_back(::open(hostPath(pathOf(c)).c_str(), O_RDONLY));
            ASSERT_EQ(::flock(readers.back(), LOCK_SH), 0);
        }
    }
    ASSERT_TRUE(daemon.start(root_, kOwnerBox)) << readFile("/vmpropd.out");
    for (const auto& c : cases) EXPECT_EQ(FileSystem::exists(pathOf(c)), !c.removed) << c.name;
    for (int fd : readers) ::close(fd);
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

class VmpropdRefusal : public Vmpropd, public ::testing::WithParamInterface<Refusal> {
  protected:
    void SetUp() override {
        Vmpropd::SetUp();
        writeFile("/vm/x", goodStream);
        ASSERT_EQ(::symlink("/vm/x", hostPath("/vm/tmp/link").c_str()), 0);
        ASSERT_EQ(::mkfifo(hostPath("/vm/tmp/fifo").c_str(), 0600), 0);
        ASSERT_EQ(::link(hostPath("/vm/x").c_str(), hostPath("/vm/tmp/hard").c_str()), 0);
        writeFile("/vm/tmp/garbage", "not a property stream\n");
        writeFile("/vm/tmp/locked", goodStream);
        lockedFd = ::open(hostPath("/vm/tmp/locked").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(lockedFd, LOCK_EX), 0);
    }
    void TearDown() override {
        ::close(lockedFd);
        Vmpropd::TearDown();
    }

    int lockedFd = -1;
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
    EXPECT_EQ(readFile("/vm/x"), goodStream) << "a file outside /vm/tmp was changed";

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
        refused("HardLinkToAFileElsewhere", "/vm/tmp/hard", EMLINK),
        refused("HandOffLockedByAnother", "/vm/tmp/locked", EAGAIN),
        refused("FileKind", kGood, EPERM, "FileProperties", "/VM/config/props"),
        refused("FileKindLeavingTheRoot", kGood, EPERM, "FileProperties", "/VM/../../x"),
        refused("SystemKind", kGood, EPERM, "SystemProperties", "/VM/config/sys_prop_db"),
        refused("CosNumberThatMeansNone", kGood, ERANGE, "COSProperties", cosKey(0xFFFFFFFF)),
        refused("SubscriberBeyondTheRange", kGood, ERANGE, "SubscriberProperties",
                cosKey(0x3FFFFF)),
        refused("KeyBytesAfterTheNumber", kGood, EINVAL, "COSProperties", cosKey(7) + "x"),
        Refusal{"StreamThatDoesNotRead", "/vm/tmp/garbage", Properties::CANT_PARSE_VERSION, 0},
        dropped("OtherOpcode", Mangle::otherOpcode), dropped("ShortBody", Mangle::shortBody),
        dropped("Truncated", Mangle::truncated), dropped("RandomBytes", Mangle::randomBytes)),
    [](const auto& info) { return String(info.param.name); });

}  // namespace

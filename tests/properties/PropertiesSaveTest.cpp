#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>

#include "host/platform/FaultInjector.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/MsgServer.h"
#include "platform/FileSystem.h"
#include "tests/properties/MemoryProperties.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using A = PropertyAttributes;

// What the owner box saw of one request.
struct Seen {
    std::mutex mutex;
    int requests = 0;
    String body;
    String handedOver;  // the hand-off file's bytes while the request was served
};

class PropertiesSave : public PlatformFixture {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        Properties::myPBox = 0;
        kind.pbox = 333;
        Property p = make("Greeting", 0, "hello", {A::Server}, {});
        ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
    }

    void TearDown() override {
        Properties::myPBox = 0;
        PlatformFixture::TearDown();
    }

    // An owner box that answers every request with result/status/error/errno.
    std::unique_ptr<MsgServer> owner(std::uint32_t result, std::uint32_t status,
                                     std::uint32_t error = 0, std::uint32_t errnum = 0) {
        auto server = std::make_unique<MsgServer>(
            333, 1, [=, this](int, const String& body) -> std::optional<String> {
                std::lock_guard<std::mutex> lock(seen.mutex);
                ++seen.requests;
                seen.body = body;
                String path(body.c_str() + 8 + 1024);
                seen.handedOver = readFile(Path(path));
                return ownerReply(result, status, error, errnum);
            });
        EXPECT_TRUE(server->start());
        return server;
    }

    Properties::knownInfo kind;
    MemoryProperties set{kind, "/VM/orvex/sd/sdata/COSproperties#0042"};
    Seen seen;
};

TEST_F(PropertiesSave, LocalStoreWhenNoOtherBoxOwnsTheKind) {
    kind.pbox = 0;
    EXPECT_TRUE(set.save());
    EXPECT_EQ(set.saves, 1);
    EXPECT_EQ(set.stored, streamOf(set));
    EXPECT_TRUE(set.save()) << "unmodified and unchanged: nothing to write";
    EXPECT_EQ(set.saves, 1);
    set.storeChanged = true;
    EXPECT_TRUE(set.save());
    EXPECT_EQ(set.saves, 2) << "a changed store is written again";

    Properties::myPBox = 0;  // as in a process on the owner box
    HostPlatform::setBox(333);
    kind.pbox = 333;
    Property p;
    p.name = Symbol("More");
    ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
    EXPECT_TRUE(set.save());
    EXPECT_EQ(set.saves, 3) << "the owner box writes its own sets";
    EXPECT_EQ(Properties::myPBox, 333);
}

TEST_F(PropertiesSave, OwnerTakesTheSetThroughAHandOffFile) {
    auto server = owner(0, 777);
    String expected = streamOf(set);
    ASSERT_TRUE(set.save());
    server->stop();
    // Only box 333's resource 1 listens: a request seen went to the owner.
    ASSERT_EQ(seen.requests, 1);
    ASSERT_EQ(seen.body.size(), 3080u);
    String key = "/VM/orvex/sd/sdata/COSproperties#0042";
    EXPECT_EQ(seen.body.substr(8, 1024), key + String(1024 - key.size(), '\0'));
    String path(seen.body.c_str() + 8 + 1024);
    EXPECT_EQ(path.rfind("/vm/tmp/", 0), 0u);
    EXPECT_EQ(path.substr(path.size() - 16), "MemoryProperties");
    EXPECT_EQ(String(seen.body.c_str() + 8 + 2048), "MemoryProperties");
    EXPECT_EQ(seen.handedOver, expected);
    EXPECT_FALSE(FileSystem::exists(Path(path))) << "the hand-off file is deleted";
    EXPECT_EQ(set.status, 777u);
    EXPECT_EQ(set.saves, 1);
    EXPECT_FALSE(set.isModified());
}

TEST_F(PropertiesSave, OwnerRefusalBringsItsErrorBack) {
    auto server = owner(1, 0, Properties::OS_SYSTEM_ERROR, EACCES);
    errno = 0;
    EXPECT_FALSE(set.save());
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(set.getError(), Properties::OS_SYSTEM_ERROR);
    EXPECT_EQ(set.saves, 0);
    EXPECT_TRUE(set.isModified());
    EXPECT_TRUE(listDirectory("/vm/tmp").empty());
    EXPECT_FALSE(set.save()) << "a set holding an error is not handed over again";
    EXPECT_TRUE(traces->contains(1, "failed write to tmpFile w/OS_SYSTEM_ERROR"));
    EXPECT_EQ(seen.requests, 1);
}

TEST_F(PropertiesSave, UnreachableOwnerOrNoStoreFailsAndLeavesNoFile) {
    EXPECT_FALSE(set.save());
    EXPECT_EQ(set.getError(), Properties::OS_SYSTEM_ERROR);
    EXPECT_EQ(set.saves, 0);
    EXPECT_TRUE(listDirectory("/vm/tmp").empty());
    set.hasStore = false;
    EXPECT_FALSE(set.save());
    EXPECT_EQ(set.getError(), Properties::CANT_OPEN);
}

TEST_F(PropertiesSave, HandOffFileFailuresSendNothingAndSayWhy) {
    auto server = owner(0, 1);
    set.storeChanged = true;
    for (auto [op, error] : {std::pair{FaultOp::Open, EACCES}, {FaultOp::Write, ENOSPC}}) {
        set.reinit();
        FaultInjector::add(op, error, "/vm/tmp/");
        errno = 0;
        EXPECT_FALSE(set.save());
        EXPECT_EQ(set.getError(), Properties::OS_SYSTEM_ERROR) << error;
        EXPECT_EQ(errno, error);
        EXPECT_TRUE(listDirectory("/vm/tmp").empty());
    }
    EXPECT_TRUE(traces->contains(1, "Properties::save() - can't create stream from tmpfile: '"));
    server->stop();
    EXPECT_EQ(seen.requests, 0);
}

TEST_F(PropertiesSave, UnknownOwnBoxIsTracedAndAskedAgain) {
    HostPlatform::setBox(0);
    kind.pbox = 0;
    EXPECT_TRUE(set.save());
    kind.pbox = 333;
    set.storeChanged = true;
    auto server = owner(0, 5);
    EXPECT_TRUE(set.save()) << "an unknown own box is not the owner: the owner is asked";
    EXPECT_EQ(seen.requests, 1);
    auto messages = traces->messages();
    auto failure = std::make_pair(1, String("Properties::setMyPbox() who_am_i() failed!, "
                                            "potentially unexpected properties results!"));
    EXPECT_EQ(std::count(messages.begin(), messages.end(), failure), 2)
        << "a failed lookup is retried on the next save";
    EXPECT_EQ(Properties::myPBox, 0);
}

}  // namespace

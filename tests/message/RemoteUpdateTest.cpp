#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

#include "host/platform/MsgServer.h"
#include "message/RemoteUpdate.h"
#include "platform/OrvexCallback.h"
#include "platform/OrvexMsgClient.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"

namespace {

constexpr Rsc_id kOwner{333, 0, 1};

// An owner box that records the request it got and answers with a fixed body.
class RemoteUpdateTest : public PlatformFixture {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        std::memset(&input, 0, sizeof input);
        std::strcpy(input.key, key.c_str());
        std::strcpy(input.tmp_path, "/vm/tmp/a1b2c3SubscriberProperties");
        std::strcpy(input.factory_name, "SubscriberProperties");
        output = {111, 222, 333};
    }

    // nullopt: the owner closes without answering.
    MsgServer owner(std::optional<String> reply) {
        return MsgServer(kOwner.box, kOwner.rsc, [this, reply](int opcode, const String& body) {
            std::lock_guard<std::mutex> lock(mutex);
            seenOpcode = opcode;
            seenBody = body;
            return reply;
        });
    }

    const String key = "/VM/config/props/subscribers/00000000042";  // 40 characters
    PropertiesObjectInput input;
    PropertiesObjectOutput output;
    std::mutex mutex;
    int seenOpcode = 0;
    String seenBody;
};

TEST_F(RemoteUpdateTest, SendsRscIdAndNulPaddedInput) {
    MsgServer server = owner(ownerReply(0, 1700000000, 0, 0));
    ASSERT_TRUE(server.start());

    EXPECT_EQ(updateProperties(kOwner, &input, &output), 0);
    server.stop();
    EXPECT_EQ(seenOpcode, 39169);
    ASSERT_EQ(seenBody.size(), 3080u);
    EXPECT_EQ(seenBody.substr(0, 8), String("\x4d\x01\0\0\x01\0\0\0", 8));
    EXPECT_EQ(seenBody.substr(8, 40), key);
    EXPECT_EQ(seenBody.substr(48, 984), String(984, '\0'));
    // Each text field reads back as its C string: it ends with a NUL.
    EXPECT_STREQ(seenBody.c_str() + 8 + 1024, "/vm/tmp/a1b2c3SubscriberProperties");
    EXPECT_STREQ(seenBody.c_str() + 8 + 2048, "SubscriberProperties");
}

// A success or a refusal comes back with the output filled; a messaging
// failure, and an answer shorter than the whole reply record is one, leaves
// the output as the caller set it.
TEST_F(RemoteUpdateTest, OnlyAWholeReplyFillsTheOutput) {
    const auto kUntouched = std::vector<std::uint32_t>{111, 222, 333};
    const struct {
        const char* label;
        bool listening;
        std::optional<String> reply;
        std::uint32_t result;
        std::vector<std::uint32_t> output;  // status, error_code, error_no
    } cases[] = {
        {"Success", true, ownerReply(0, 1700000000, 0, 0), 0, {1700000000, 0, 0}},
        {"Refusal", true, ownerReply(1, 0, 5, 13), 1, {0, 5, 13}},
        {"NobodyListening", false, "", MSG_NO_LISTENER, kUntouched},
        {"NoAnswer", true, std::nullopt, MSG_PEER_CLOSED, kUntouched},
        {"EmptyAnswer", true, "", MSG_SHORT_REPLY, kUntouched},
        {"OneWord", true, ownerReply(0, 7, 0, 0).substr(0, 4), MSG_SHORT_REPLY, kUntouched},
        {"ByteShort", true, ownerReply(0, 7, 0, 0).substr(0, 15), MSG_SHORT_REPLY, kUntouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        output = {111, 222, 333};
        MsgServer server = owner(c.reply);
        if (c.listening) {
            ASSERT_TRUE(server.start());
        }
        EXPECT_EQ(updateProperties(kOwner, &input, &output), static_cast<int>(c.result));
        EXPECT_EQ((std::vector<std::uint32_t>{output.status, output.error_code, output.error_no}),
                  c.output);
    }
}

TEST_F(RemoteUpdateTest, TimesOnlySuccessfulCallsWhenPerformanceIsOn) {
    ASSERT_GE(updatePropertiesMark.id, 0);
    OrvexCallback::instance().setPerf(true);
    std::uint64_t before = updatePropertiesMark.calls();
    EXPECT_NE(updateProperties(kOwner, &input, &output), 0);
    EXPECT_EQ(updatePropertiesMark.calls(), before);

    MsgServer server = owner(ownerReply(0, 1, 0, 0));
    ASSERT_TRUE(server.start());
    EXPECT_EQ(updateProperties(kOwner, &input, &output), 0);
    EXPECT_EQ(updatePropertiesMark.calls(), before + 1);

    OrvexCallback::instance().setPerf(false);
    EXPECT_EQ(updateProperties(kOwner, &input, &output), 0);
    EXPECT_EQ(updatePropertiesMark.calls(), before + 1);
}

}  // namespace

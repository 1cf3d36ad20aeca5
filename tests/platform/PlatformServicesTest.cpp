#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/RunTokenHolder.h"
#include "platform/BlockingCall.h"
#include "platform/Symbol.h"
#include "platform/Trace.h"
#include "tests/testing/PlatformFixture.h"

namespace {

// No platform path may name a host file outside the root.
TEST(PlatformRoot, PathsAreNormalisedInsideTheRoot) {
    struct Case {
        const char* path;
        const char* host;
    } cases[] = {
        {"/VM/config/x", "/r/VM/config/x"},
        {"/../x", "/r/x"},
        {"/VM/../../../etc", "/r/etc"},
        {"relative/x", "/r/relative/x"},
        {"../x", "/r/x"},
        {"//VM/./config//x/", "/r/VM/config/x"},
        {"/", "/r"},
        {"/..", "/r"},
        {"/a/b/..", "/r/a"},
        {"/a/..b", "/r/a/..b"},
    };
    HostPlatform::setRoot("/r/");
    for (const Case& c : cases) EXPECT_EQ(HostPlatform::hostPath(c.path), c.host) << c.path;
    HostPlatform::setRoot("/");
    EXPECT_EQ(HostPlatform::hostPath("/../etc/x"), "/etc/x");
    EXPECT_EQ(HostPlatform::hostPath(""), "");
}

TEST(Symbol, OneTextPerNameEvenWhenThreadsInternAtOnce) {
    EXPECT_TRUE(Symbol("Apple") < Symbol("Greeting"));
    EXPECT_FALSE(Symbol("Greeting") < Symbol("Greeting"));
    EXPECT_TRUE(Symbol().empty() && Symbol("") == Symbol());
    EXPECT_EQ(Symbol(String("a\0b", 3)).length(), 3u);
    // More names than the table first holds, so that it grows while others read.
    constexpr int kNames = 5000;
    std::vector<std::vector<const String*>> seen(4, std::vector<const String*>(kNames));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&seen, t] {
            for (int i = 0; i < kNames; ++i) {
                int k = t % 2 ? kNames - 1 - i : i;
                seen[t][k] = &Symbol("concurrent " + std::to_string(k)).text();
            }
        });
    for (std::thread& thread : threads) thread.join();
    for (int k = 0; k < kNames; ++k) {
        ASSERT_EQ(*seen[0][k], "concurrent " + std::to_string(k));
        ASSERT_EQ(&Symbol(*seen[0][k]).text(), seen[0][k]) << "interned again from a copy";
        for (int t = 1; t < 4; ++t) ASSERT_EQ(seen[t][k], seen[0][k]) << k;
    }
    // Looked up again in order (each text is often the one made after the
    // last), in every second order and with gaps, while another thread makes
    // new texts next to them: always the same text, never a neighbour's.
    threads.clear();
    threads.emplace_back([] {
        for (int i = 0; i < kNames; ++i) Symbol("meanwhile " + std::to_string(i));
    });
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&seen, t] {
            for (int i = 0; i < kNames; i += t + 1)
                ASSERT_EQ(&Symbol("concurrent " + std::to_string(i)).text(), seen[0][i]) << i;
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(Symbol("meanwhile " + std::to_string(kNames - 1)).text(),
              "meanwhile " + std::to_string(kNames - 1));
}

class TraceTest : public PlatformFixture {};

TEST_F(TraceTest, MessagesAboveTheLevelAreDroppedAndEachStartsClean) {
    HostTrace::setLevel(2);
    MC_std_trace() << "failure " << std::hex << 255 << oops;
    MC_std_trace() << "progress " << 255 << trace;
    MC_std_trace() << "detail" << verbose;
    verbose("printf %s %d", "style", 7);
    auto messages = traces->messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], std::make_pair(1, String("failure ff")));
    // Formatting state must not leak into the next message.
    EXPECT_EQ(messages[1], std::make_pair(2, String("progress 255")));
    EXPECT_EQ(MC_current_trace_level(), 2);
}

class RunTokenTest : public PlatformFixture {};

TEST_F(RunTokenTest, BlockingCallLetsAnotherThreadRun) {
    bool otherRan = false;
    int result = blockingCall("test: blocking", "test: back", [&] {
        std::thread other([&] {
            RunTokenHolder hold;  // would deadlock if the token were still held
            otherRan = true;
        });
        other.join();
        errno = EAGAIN;
        return 7;
    });
    EXPECT_EQ(result, 7);
    EXPECT_EQ(errno, EAGAIN) << "the blocking call's errno survives taking the token back";
    EXPECT_TRUE(otherRan);
    EXPECT_TRUE(RunTokenHolder::heldByCurrentThread());
}

TEST_F(RunTokenTest, MisuseIsTracedNotFatal) {
    OrvexRunToken handle;
    EXPECT_FALSE(handle.acquire("nothing released"));
    EXPECT_TRUE(traces->contains(1, "nothing released through this handle"));
    std::thread stranger([] {
        OrvexRunToken other;
        EXPECT_FALSE(other.release("not mine", false));
    });
    stranger.join();
    EXPECT_TRUE(traces->contains(1, "OrvexRunToken::release(not mine) - run token not held"));
    EXPECT_TRUE(RunTokenHolder::heldByCurrentThread());
}

}  // namespace

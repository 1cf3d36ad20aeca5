#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <thread>
#include <vector>

#include "host/platform/FaultInjector.h"
#include "host/platform/RunTokenHolder.h"
#include "platform/BlockingCall.h"
#include "platform/FileNaming.h"
#include "platform/FileSystem.h"
#include "tests/testing/PlatformFixture.h"
#include "tests/testing/VmcfgRunner.h"
#include "util/Critical_Region.h"
#include "util/MarkerFile.h"

namespace {

using MarkerFileTest = PlatformFixture;

TEST_F(MarkerFileTest, WritesOneLineAndAnswersWithItsCode) {
    struct Case {
        const char* name;
        const char* text;
        std::optional<FaultOp> fault;
        int result;
        const char* trace;
        const char* content;  // nullptr: no file
    } cases[] = {
        {"/VM/config/cadisc", "Marker file for CAD custom ", std::nullopt, 0, "lv_mkr: pass",
         "Marker file for CAD custom \n"},
        {"/VM/config/cadisc", "", std::nullopt, 0, "lv_mkr: pass", "\n"},
        {"cdr", "relative", std::nullopt, 0, "writing relative to /VM/config/cdr", "relative\n"},
        {"/VM/config/full", "x", FaultOp::Write, 3, "lv_mkr: ESRCH", ""},
        {"/VM/config/nostat", "x", FaultOp::Stat, -1, "lv_mkr: stat failed rc=-1", "x\n"},
        {"/VM/config/notext", nullptr, std::nullopt, 9, "lv_mkr: can't write file", ""},
        {"/VM/absent/dir/m", "x", std::nullopt, 9, "lv_mkr: can't write file", nullptr},
        {nullptr, "x", std::nullopt, 9, "lv_mkr: can't write file", nullptr},
    };
    FileSystem::makeDirectories("/VM/config");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        FaultInjector::clear();
        if (c.fault) FaultInjector::add(*c.fault, ENOSPC, "/VM/config/");
        traces->clear();
        EXPECT_EQ(lv_mkr(c.name, c.text), c.result);
        EXPECT_TRUE(traces->contains(3, c.trace));
        if (c.content == nullptr) continue;
        char path[zrbFilenameMax];
        zrb_filename(nullptr, c.name, path);
        EXPECT_EQ(readFile(path), c.content);
    }
}

// Each worker enters the region, notes its entry, gives the run token up
// for a while (so the other could run into the region) and notes its exit.
TEST(CriticalRegion, OneThreadAtATimeAndEveryReleaseWakes) {
    _Critical_Region region;
    std::vector<int> log;
    auto worker = [&](int id) {
        RunTokenHolder token;
        Critical_Region guard(region);
        log.push_back(id);
        blockingCall("test: inside", "test: back", [] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            return 0;
        });
        log.push_back(-id);
    };
    std::vector<std::thread> threads;
    for (int id = 1; id <= 3; ++id) threads.emplace_back(worker, id);
    for (std::thread& t : threads) t.join();
    ASSERT_EQ(log.size(), 6u);
    for (std::size_t i = 0; i < log.size(); i += 2) EXPECT_EQ(log[i + 1], -log[i]) << i;
    EXPECT_FALSE(region.busy);

    RunTokenHolder token;
    {
        Critical_Region early(region);
        early.release();
        EXPECT_FALSE(region.busy);
        Critical_Region again(region);  // would wait for ever if not released
    }
    auto* first = new Critical_Region(region);
    auto block = reinterpret_cast<std::uintptr_t>(first);
    delete first;
    auto* second = new Critical_Region(region);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(second), block) << "the pool serves it again";
    delete second;
}

using FeatureCommandTest = VmcfgFixture;

TEST_F(FeatureCommandTest, RecordsTheActiveMarkersAndFailsWithoutTheDirectory) {
    EXPECT_EQ(run("", "mkgf_act").status, 1);
    writeFile("/VM/config/tan_mbx", "Marker file for Tandem Mailbox custom \n");
    writeFile("/VM/config/cadisc", "Marker file for CAD custom \n");
    writeFile("/VM/config/sys_prop_db", "component-file-version=2\n");
    EXPECT_EQ(run("", "mkgf_act").status, 0);
    EXPECT_EQ(readFile("/vm/run/features.active"), "CAD\nTandem Mailbox\n");
    EXPECT_NE(
        readFile("/vm/log/trace.log").find(" 1 mkgf_act: active features: CAD, Tandem Mailbox\n"),
        String::npos);
}

}  // namespace

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "host/common/HandoffSweep.h"
#include "platform/FileSystem.h"
#include "tests/testing/VmcfgRunner.h"

namespace {

class VmcfgSweep : public VmcfgFixture {
  protected:
    // Writes /vm/tmp/NAME, last written ageSeconds ago.
    void leave(const String& name, int ageSeconds) const {
        writeFile("/vm/tmp/" + name, "left behind");
        timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - ageSeconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, hostPath("/vm/tmp/" + name).c_str(), times, 0), 0);
    }
};

// The rules themselves are the owner daemon's (its sweep test covers each);
// here: the command sweeps by them, --dry-run only names, and the output
// says what went and why.
TEST_F(VmcfgSweep, RemovesWhatGoneProcessesLeftAndDryRunOnlyNamesIt) {
    ASSERT_EQ(run("init").status, 0);
    const pid_t dead = ::fork();  // a pid no process has any more
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const String gone = std::to_string(dead), live = std::to_string(::getpid());
    const String handOff = gone + "_1a2b_0COSProperties", value = gone + "_1a2b_1.p",
                 stale = live + "_1a2b_4COSProperties";
    const String kept[] = {live + "_1a2b_2SubscriberProperties", gone + "_1a2b_3COSProperties",
                           "notes.txt"};
    leave(handOff, 60);
    leave(value, 60);
    leave(kept[0], 60);  // its sender lives
    leave(kept[1], 0);   // too fresh: its sender may not have asked yet
    leave(kept[2], 7200);
    leave(stale, 7200);  // its sender lives, but not this long in a hand-off

    VmcfgRunner::Outcome dry = run("sweep --dry-run");
    ASSERT_EQ(dry.status, 0) << dry.err;
    for (const String& line : {"would remove hand-off file /vm/tmp/" + handOff +
                                   " (11 bytes, pid " + gone + ", process gone)\n",
                               "would remove value file /vm/tmp/" + value,
                               "would remove hand-off file /vm/tmp/" + stale + " (11 bytes, pid " +
                                   live + ", over an hour old)\n"})
        EXPECT_NE(dry.out.find(line), String::npos) << dry.out;
    EXPECT_TRUE(FileSystem::exists("/vm/tmp/" + handOff) && FileSystem::exists("/vm/tmp/" + value));

    VmcfgRunner::Outcome swept = run("sweep --json");
    ASSERT_EQ(swept.status, 0) << swept.err;
    nlohmann::json removed = nlohmann::json::parse(swept.out).at("removed");
    ASSERT_EQ(removed.size(), 3U) << swept.out;
    for (const auto& file : removed) {
        const bool old = file.at("file") == stale;
        EXPECT_EQ(file.at("pid"), old ? ::getpid() : dead);
        EXPECT_EQ(file.at("reason"), old ? "over an hour old" : "process gone");
        EXPECT_EQ(file.at("kind"), file.at("file") == value ? "value" : "hand-off");
    }
    EXPECT_FALSE(FileSystem::exists("/vm/tmp/" + handOff) ||
                 FileSystem::exists("/vm/tmp/" + value) || FileSystem::exists("/vm/tmp/" + stale));
    for (const String& name : kept) EXPECT_TRUE(FileSystem::exists("/vm/tmp/" + name)) << name;

    EXPECT_EQ(run("sweep").out, "nothing to remove in /vm/tmp\n");
}

// A value lives as long as its process holds it, days if need be: a live
// process's value file two hours old by the sweep's clock stays, where a
// hand-off file of the same age goes. No process of the test lives two
// hours, so the sweep is run against a clock two hours ahead.
TEST_F(VmcfgSweep, ALiveProcessesValueFileStaysHoweverOld) {
    ASSERT_EQ(run("init").status, 0);
    const String live = std::to_string(::getpid());
    const String value = live + "_1a2b_1.p", handOff = live + "_1a2b_2COSProperties";
    leave(value, 0);
    leave(handOff, 0);
    const HandoffSweep sweep({"COSProperties", "SubscriberProperties"});
    const std::time_t later = std::time(nullptr) + 2 * 3600;

    std::vector<HandoffSweep::Removal> removed = sweep.run(false, later);
    ASSERT_EQ(removed.size(), 1U);
    EXPECT_EQ(removed[0].name, handOff);
    EXPECT_FALSE(removed[0].gone);
    EXPECT_TRUE(FileSystem::exists("/vm/tmp/" + value));
    EXPECT_TRUE(sweep.run(false, later).empty());
}

}  // namespace

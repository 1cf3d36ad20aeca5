#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/testing/FullDisk.h"
#include "tests/testing/VmcfgRunner.h"
#include "tests/testing/VmpropdProcess.h"

namespace {

using Outcome = VmcfgRunner::Outcome;

const Path kIndexDirectory = "/VM/orvex/sd/sdata";
const char kNoSpace[] = "errno=28(No space left on device)";
// A value larger than the small map below: LMDB refuses it as map-full.
const String kLargeValue = "\"$(head -c 100000 /dev/zero | tr '\\0' x)\"";

class VmcfgFullDisk : public VmcfgFixture {
  protected:
    void SetUp() override {
        VmcfgFixture::SetUp();
        ASSERT_EQ(run("init").status, 0);
    }
};

// Each case runs one command (on box 1 unless it says otherwise, with the
// owner's daemon when asked) with no room left where it writes.
struct Case {
    const char* name;
    const char* full;     // the platform directory with no room left, or null
    const char* mapSize;  // VM_BTREE_MAPSIZE, or null
    bool daemon;
    String command;
    int status;
    const char* shown;     // in the error output
    const char* notShown;  // never in it
};

const Case kCases[] = {
    {"MapFullAtTheOwner", nullptr, "65536", true, "props put --cos 1 Big " + kLargeValue, 1,
     kNoSpace, "errno=17"},
    {"ShowOfAMissingIndex", "/VM/orvex/sd/sdata", nullptr, false, "props show --subscriber 5", 0,
     "", "can't"},
    {"OwnerSaveMakingTheIndex", "/VM/orvex/sd/sdata", nullptr, false,
     "--box 333 props put --cos 1 Colour blue", 1, kNoSpace, "NO_ERROR"},
    {"RemoteSaveMakingTheIndex", "/VM/orvex/sd/sdata", nullptr, true,
     "props put --subscriber 1001 Colour blue", 1, kNoSpace, "NO_ERROR"},
    {"HandOffDirectoryFull", "/vm/tmp", nullptr, false, "props put --cos 1 Colour blue", 1,
     kNoSpace, "NO_ERROR"},
};

TEST_F(VmcfgFullDisk, TheErrorShownIsTheOneThatHappenedAndNothingIsLeft) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        if (c.mapSize) setenv("VM_BTREE_MAPSIZE", c.mapSize, 1);
        // The report: exit status, error output, then the daemon's exit and
        // the index files left, a line each.
        auto command = [&] {
            VmpropdProcess daemon;
            if (c.daemon && !daemon.start(root_, 333)) return String("daemon did not start\n");
            Outcome o = run(c.command);
            String report = std::to_string(o.status) + "\n" + o.err;
            if (c.daemon) report += "\ndaemon exit " + std::to_string(daemon.stop());
            report += "\nleft:";
            for (const String& name : listDirectory(kIndexDirectory))
                if (name != ".filler") report += " " + name;
            return report;
        };
        FullDisk::Outcome outcome =
            c.full ? FullDisk::run(c.full, command) : FullDisk::Outcome{"", 0, command()};
        unsetenv("VM_BTREE_MAPSIZE");
        if (!outcome.skipped.empty()) GTEST_SKIP() << outcome.skipped;
        EXPECT_EQ(outcome.signal, 0) << strsignal(outcome.signal);
        const String& report = outcome.report;
        EXPECT_EQ(report.substr(0, report.find('\n')), std::to_string(c.status)) << report;
        EXPECT_NE(report.find(c.shown), String::npos) << report;
        EXPECT_EQ(report.find(c.notShown), String::npos) << report;
        if (c.daemon) {
            EXPECT_NE(report.find("daemon exit 0"), String::npos) << report;
        }
        if (c.full && c.full == kIndexDirectory.text()) {
            EXPECT_EQ(report.substr(report.rfind('\n') + 1), "left:") << report;
        }
    }
}

}  // namespace

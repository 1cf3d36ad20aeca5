#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "tests/testing/VmcfgRunner.h"

namespace {

class VmcfgFeatures : public VmcfgFixture {};

// One demo root, the steps in order: each sees what the earlier ones did.
// The feature command is the built mkgf_act beside vmcfg.
TEST_F(VmcfgFeatures, ListSwitchAndRefuseInWords) {
    ASSERT_EQ(run("init --demo").status, 0);
    writeFile("/no", "n\n");
    const struct {
        String command;
        int status;
        const char* shows;  // in standard output, or in standard error on failure
    } steps[] = {
        {"features", 0, "2  off  Tandem Mailbox?"},
        {"features set nosuch on", 2, "no feature \"nosuch\""},
        {"features set 'tandem mailbox' on <" + hostPath("/no"), 1, "not confirmed"},
        {"features set 2 on --yes", 0, "switched on"},
        {"features set cad ON --yes", 1, "incompatible features"},
        {"--json features set 'Disable Message Delivery?' on -y", 0, "\"changed\":true"},
        {"features set 5 on --yes", 0, "already on"},
        {"props show --system --name 'ORVEX DISABLE MESSAGE DELIVERY'", 0, "(1 bytes): \\x01"},
    };
    for (const auto& step : steps) {
        VmcfgRunner::Outcome o = run(step.command);
        EXPECT_EQ(o.status, step.status) << step.command << "\n" << o.err;
        EXPECT_NE((step.status == 0 ? o.out : o.err).find(step.shows), String::npos)
            << step.command << "\n"
            << o.out << o.err;
    }
    EXPECT_EQ(readFile("/vm/run/features.active"), "Tandem Mailbox\ndisable message delivery\n");
}

TEST_F(VmcfgFeatures, RowDecidedByAParameterIsShownAndNotSwitched) {
    ASSERT_EQ(run("init").status, 0);
    writeFile("/VM/config/config_params",
              "precedence global default\nglobal default : (Number of CDR Files)=3\n");
    VmcfgRunner::Outcome listed = run("--json features");
    EXPECT_NE(listed.out.find(R"("offered":false,"question":null,"row":1,)"), String::npos)
        << listed.out;
    VmcfgRunner::Outcome refused = run("features set CDR on --yes");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("the form does not offer it"), String::npos) << refused.err;
}

// The feature command reads "/VM/config": a FIFO there is skipped, not
// waited on (the run is bounded by timeout(1) should it wait).
TEST_F(VmcfgFeatures, AFifoAmongTheMarkersDoesNotHoldTheSwitch) {
    ASSERT_EQ(run("init --demo").status, 0);
    ASSERT_EQ(::mkfifo(hostPath("/VM/config/pipe").c_str(), 0644), 0);
    auto start = std::chrono::steady_clock::now();
    VmcfgRunner::Outcome o =
        runWith("timeout 20", "--root " + root_ + " features set 'tandem mailbox' on --yes");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(readFile("/vm/run/features.active"), "Tandem Mailbox\n");
}

// A feature command that fails (its record cannot be written) after the form
// changed the marker: the switch fails with a warning saying what changed.
TEST_F(VmcfgFeatures, AFailedCommandIsReportedWithWhatChangedAnyway) {
    ASSERT_EQ(run("init --demo").status, 0);
    std::filesystem::create_directories(hostPath("/vm/run/features.active"));
    const struct {
        String command;
        const char* shows;  // in standard error, or standard output for --json
        const char* also;
    } steps[] = {
        {"features set 2 on --yes", "marker file was written and stays", "(Tandem Mailbox)"},
        {"features set 5 on --yes", "\"ORVEX DISABLE MESSAGE DELIVERY\" was not changed",
         "warning: the feature command"},
        {"--json features set 5 off --yes",
         R"("error":"the feature command \"mkgf_act\" failed","exit":1)",
         R"("setting_now":"off","system_property_set":true)"},
    };
    for (const auto& step : steps) {
        VmcfgRunner::Outcome o = run(step.command);
        EXPECT_EQ(o.status, 1) << step.command;
        const String& shown = step.command.starts_with("--json") ? o.out : o.err;
        for (const char* part : {step.shows, step.also})
            EXPECT_NE(shown.find(part), String::npos) << step.command << "\n" << o.out << o.err;
    }
    VmcfgRunner::Outcome rows = run("features");
    EXPECT_NE(rows.out.find("2  on   Tandem Mailbox?"), String::npos) << rows.out;
    EXPECT_NE(run("props show --system --name 'ORVEX DISABLE MESSAGE DELIVERY'").out.find("\\x00"),
              String::npos);
}

}  // namespace

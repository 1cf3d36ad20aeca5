#include <gtest/gtest.h>

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

}  // namespace

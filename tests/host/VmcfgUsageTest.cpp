#include <gtest/gtest.h>

#include "tests/testing/VmcfgRunner.h"

namespace {

class VmcfgUsage : public VmcfgFixture {};

// A mistyped or missing command is named with the group it belongs to, the
// command meant when one is close, and where the help is; in both the
// program's own groups and those of its commands library.
TEST_F(VmcfgUsage, BadCommandsAreNamedWithTheNearestOne) {
    const std::pair<const char*, const char*> cases[] = {
        {"prop", "vmcfg: 'prop' is not a command (did you mean 'props'?); see 'vmcfg --help'\n"},
        {"props shwo --system",
         "vmcfg props: 'shwo' is not a command (did you mean 'show'?); see 'vmcfg props --help'\n"},
        {"props rm0ve",
         "vmcfg props: 'rm0ve' is not a command (did you mean 'remove'?); see "
         "'vmcfg props --help'\n"},
        {"index lst", "vmcfg index: 'lst' is not a command; see 'vmcfg index --help'\n"},
        {"param",
         "vmcfg param: a command is needed: get, explain, check, types, list; see "
         "'vmcfg param --help'\n"},
        {"param get", "vmcfg param get: key is required; see 'vmcfg param get --help'\n"},
    };
    // Before the root is made, a bad line is still told as such, not as a
    // root to initialise.
    for (bool made : {false, true}) {
        if (made) {
            ASSERT_EQ(run("init").status, 0);
        }
        for (const auto& [arguments, expected] : cases) {
            VmcfgRunner::Outcome outcome = run(arguments);
            EXPECT_EQ(outcome.status, 2) << arguments << (made ? "" : ", before init");
            EXPECT_EQ(outcome.err, expected) << arguments << (made ? "" : ", before init");
        }
    }
    EXPECT_EQ(run("--json param gte").out,
              R"({"error":"param: 'gte' is not a command (did you mean 'get'?); see )"
              R"('vmcfg param --help'","exit":2})"
              "\n");
}

}  // namespace

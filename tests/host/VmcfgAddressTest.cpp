// vmcfg address and vmcfg message on a root made by "init --demo"
// (DemoDirectory): one command per case, its exit status and what it shows.

#include <gtest/gtest.h>

#include "tests/testing/PlatformFixture.h"
#include "tests/testing/VmcfgRunner.h"

namespace {

struct Case {
    const char* id;
    const char* command;
    int status;
    const char* out;  // expected in standard output ("": nothing asked)
    const char* err = "";
};

const Case kCases[] = {
    {"Locate", "address locate 1002@BOSTON BOSTON", 0, "user id: 1002"},
    {"LocateJson", "--json address locate jane.doe@example.net INTERNET", 0,
     R"("full_address":"jane.doe@example.net","id":1005,"kind":4)"},
    {"LocateUnknownNode", "address locate 1002@NOWHERE NOWHERE", 1,
     "result 1114: the directory has no node of that name"},
    {"LocateUsage", "address locate 1002@BOSTON", 2, ""},
    {"Build", "address build 200001", 0, "address: 1002@BOSTON\nnode: BOSTON"},
    {"BuildKind0", "address build 200009", 1, "", "result 1114"},
    {"Props", "message props 200001", 0, "ORVEX Priority 1"},
    {"PropsNoFile", "message props 200008", 1, "", "no property file"},
    {"Check", "message check 200005", 0, "user id: 1002\nnode: 1\nmailbox: 1002"},
    {"CheckElevenCharMailbox", "message check 200006", 0, "mailbox: 90011234567"},
    {"CheckJson", "--json message check 200007", 1, R"("result":1230)"},
    {"CheckAbsent", "message check 200001", 0, "nothing to check"},
};

class VmcfgAddress : public PlatformFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(VmcfgAddress, Command) {
    const Case& c = GetParam();
    ASSERT_EQ(VmcfgRunner::run(root_, "init --demo", root_).status, 0);
    VmcfgRunner::Outcome outcome = VmcfgRunner::run(root_, c.command, root_);
    EXPECT_EQ(outcome.status, c.status) << outcome.out << outcome.err;
    EXPECT_NE(outcome.out.find(c.out), String::npos) << outcome.out;
    EXPECT_NE(outcome.err.find(c.err), String::npos) << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(Cases, VmcfgAddress, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return String(info.param.id); });

}  // namespace

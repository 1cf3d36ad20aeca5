#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/testing/PlatformFixture.h"
#include "tests/testing/VmcfgRunner.h"

namespace {

using Outcome = VmcfgRunner::Outcome;

class VmcfgProps : public PlatformFixture {
  protected:
    Outcome run(const String& arguments) const { return VmcfgRunner::run(root_, arguments, root_); }
    const String db = "/VM/config/sys_prop_db";
};

// One command on a root prepared by "init --demo" (see DemoContent), then (optionally) a
// command whose output shows the command's effect.
struct Case {
    const char* id;
    const char* command;
    int status;
    const char* err;  // expected on standard error ("": nothing asked)
    const char* then = "";
    const char* shows = "";  // expected in then's output (or the command's, without then)
    const char* hides = "";  // must not be in that output
};

const Case kCases[] = {
    {"ShowSystem", "props show --system", 0, "", "", "english spanish french"},
    {"ShowCosAsMinimal", "props show --cos 1 --access Minimal", 0, "", "",
     "COS Max Message Length 1"},
    {"ShowSubscriberHidesFromMinimal", "props show --subscriber 1001 --access Minimal", 0, "", "",
     "", "Subscriber Language"},
    {"ShowMessageFile", "props show --message /VM/orvex/sd/msg/1001/0001.prop", 0, "", "",
     "urgent"},
    {"ShowDefaultsFile", "props show /VM/config/COSPropertyDefaults --name 'COS Mailbox Capacity'",
     0, "", "", "value (2 bytes): 50"},
    {"CheckCos", "props check --cos 2", 0, "", "", "class of service 2: 3 properties"},
    {"PutKnownTakesKnownAttributes", "props put --system 'System Greeting Length' 45", 0, "",
     "props show --system --name 'System Greeting Length'", "write: Trusted  version 1"},
    {"PutKnownRefusedToWeakClass",
     "props put --system 'System Max Message Length' 10 --access Standard", 1, "PUT_NO_PERMISSION",
     "props show --system", "value (3 bytes): 300", "(2 bytes): 10"},
    {"PutUnknownClaimingKnownRefused",
     "props put --cos 1 Colour blue --server-known --access Standard", 1,
     "PUT_NO_ATTRIBUTE_PERMISSION"},
    {"PutOnOwnerBoxWritesRecord", "--box 333 props put --cos 1 'COS Mailbox Capacity' 75", 0, "",
     "props show --cos 1 --name 'COS Mailbox Capacity'", "value (2 bytes): 75"},
    {"PutOffOwnerWithoutDaemon", "props put --subscriber 1001 Pin 1234", 1,
     "owner box 333 is not listening (messaging status 1401)", "props show --subscriber 1001", "",
     "Pin"},
    {"RemoveName", "props remove --message /VM/orvex/sd/msg/1001/0001.prop 'ORVEX Priority'", 0, "",
     "props show --message /VM/orvex/sd/msg/1001/0001.prop", "ORVEX Primary Media",
     "ORVEX Priority"},
    {"RemoveAll", "props remove --system --all", 0, "", "props check --system", "0 properties"},
    {"RemoveMissingName", "props remove --system Nothing", 1, "REMOVE_NO_SUCH_PROPERTY"},
    {"RemoveWithoutName", "props remove --system", 2, "remove takes NAME"},
    {"RemoveAllWithName", "props remove --system --all SysLang", 2, "name one set"},
    {"RemoveAllWithIndex", "props remove --system --all --index 1", 2, "takes no --index"},
    {"PutEmptyName", "props put --cos 1 '' x", 2, "name is empty"},
    {"RemoveEmptyName", "props remove --system ''", 2, "name is empty"},
    {"TwoTargets", "props show --system --cos 1", 2, "name one set"},
    {"NoTarget", "props put Name Value", 2, "name one set"},
    {"FileAndTarget", "props show /VM/config/sys_prop_db --system", 2, "name one set"},
    {"CosOutOfRange", "props show --cos 4294967295", 2, ""},
    {"MissingFile", "props show /VM/config/absent", 2, "No such file or directory"},
    {"MissingMessageFile", "props remove --message /VM/absent Name", 2,
     "No such file or directory"},
    {"ControlBytesShownEscaped", "props put --system \"$(printf 'Bad\\033Name')\" x", 0, "",
     "props show --system", "Bad\\x1bName"},
    {"DirectoryIsNoSet", "props show /VM/config", 2, "not a regular file"},
    {"DotDotStaysInTheRoot", "props show /../../VM/config/sys_prop_db", 0, "", "",
     "english spanish french"},
    {"UnknownClass", "props show --system --access Nobody", 2, "unknown access class"},
};

class VmcfgTargets : public VmcfgProps, public ::testing::WithParamInterface<Case> {};

TEST_P(VmcfgTargets, CommandOnTarget) {
    const Case& c = GetParam();
    ASSERT_EQ(run("init --demo").status, 0);
    Outcome outcome = run(c.command);
    EXPECT_EQ(outcome.status, c.status) << outcome.err;
    EXPECT_NE(outcome.err.find(c.err), String::npos) << outcome.err;
    if (*c.then) outcome = run(c.then);
    EXPECT_NE(outcome.out.find(c.shows), String::npos) << outcome.out;
    if (*c.hides) {
        EXPECT_EQ(outcome.out.find(c.hides), String::npos) << outcome.out;
    }
    EXPECT_TRUE(listDirectory("/vm/tmp").empty()) << "no hand-off file left";
}

INSTANTIATE_TEST_SUITE_P(Table, VmcfgTargets, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return String(info.param.id); });

TEST_F(VmcfgProps, PutWritesTheStreamAndShowHidesWhatTheClassMayNotRead) {
    ASSERT_EQ(run("props put " + db + " Greeting hello --read Minimal").status, 0);
    ASSERT_EQ(run("props put " + db + " Pin 1234").status, 0);
    EXPECT_EQ(readFile(db),
              "component-file-version=2\nnumber of properties=2\n"
              "8 Greeting 1\n5 2 10 1 3 0 \n5 hello \n\n"
              "3 Pin 1\n5 3 0 1 3 0 \n4 1234 \n\n");
    Outcome shown = run("props show " + db + " --access Standard");
    EXPECT_NE(shown.out.find("Greeting 1"), String::npos);
    EXPECT_EQ(shown.out.find("Pin"), String::npos) << shown.out;
}

TEST_F(VmcfgProps, RefusedPutLeavesTheFileAlone) {
    ASSERT_EQ(run("props put " + db + " Pin 1234").status, 0);
    String before = readFile(db);
    Outcome refused = run("props put " + db + " Pin 0000 --index 1 --access Standard");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("PUT_NO_PERMISSION"), String::npos);
    EXPECT_EQ(readFile(db), before);
    EXPECT_EQ(listDirectory("/VM/config").size(), 1u) << "no temporary file left behind";
}

TEST_F(VmcfgProps, BadContentsAreReportedWithTheirError) {
    writeFile(db, "component-file-version=2\nnumber of properties=2\n8 Greeting 0\n");
    for (const String& command :
         {"props check " + db, String("props check --system"), "props put " + db + " Name value"}) {
        Outcome bad = run(command);
        EXPECT_EQ(bad.status, 1) << command;
        EXPECT_NE(bad.err.find("CANT_PARSE_FILE"), String::npos) << command << ": " << bad.err;
    }
}

TEST_F(VmcfgProps, JsonSurvivesBytesThatAreNotText) {
    writeFile(db,
              "component-file-version=2\nnumber of properties=1\n"
              "3 Bin 1\n5 1 0 1 3 0 \n3 \xff\n\x01 \n\n");
    Outcome shown = run("--json props show --system");
    ASSERT_EQ(shown.status, 0) << shown.err;
    auto list = nlohmann::json::parse(shown.out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["name"], "Bin");
    EXPECT_EQ(list[0]["length"], 3);
}

}  // namespace

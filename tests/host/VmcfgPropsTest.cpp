#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/testing/VmcfgRunner.h"

namespace {

using Outcome = VmcfgRunner::Outcome;

class VmcfgProps : public VmcfgFixture {
  protected:
    const String db = "/VM/config/sys_prop_db";
};

// A put the class may not make then leaves the file as it was.
TEST_F(VmcfgProps, PutWritesTheStreamAndShowHidesWhatTheClassMayNotRead) {
    ASSERT_EQ(run("init").status, 0);
    ASSERT_EQ(run("props put " + db + " Greeting hello --read Minimal").status, 0);
    ASSERT_EQ(run("props put " + db + " Pin 1234").status, 0);
    const String stream =
        "component-file-version=2\nnumber of properties=2\n"
        "8 Greeting 1\n5 2 10 1 3 0 \n5 hello \n\n"
        "3 Pin 1\n5 3 0 1 3 0 \n4 1234 \n\n";
    EXPECT_EQ(readFile(db), stream);
    Outcome shown = run("props show " + db + " --access Standard");
    EXPECT_NE(shown.out.find("Greeting 1"), String::npos);
    EXPECT_EQ(shown.out.find("Pin"), String::npos) << shown.out;
    Outcome refused = run("props put " + db + " Pin 0000 --index 1 --access Standard");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "vmcfg: class Standard lacks the write right on copy 1 of 'Pin'\n");
    EXPECT_EQ(readFile(db), stream);
    EXPECT_EQ(listDirectory("/VM/config").size(), 1u) << "no temporary file left behind";
}

// A show that finds nothing says why on standard error (and still
// succeeds), so that a mistyped record, name or copy is not taken for an
// empty answer; JSON stays an empty list.
TEST_F(VmcfgProps, AShowThatFindsNothingSaysWhy) {
    ASSERT_EQ(run("init").status, 0);
    ASSERT_EQ(run("props put " + db + " Pin 1234").status, 0);
    const std::pair<String, String> cases[] = {
        {"props show --cos 99", "class of service 99 holds no property"},
        {"props show " + db + " --name Nope", "no 'Nope' that class Server may read in " + db},
        {"props show " + db + " --name Pin --index 2",
         "no copy 2 of 'Pin' that class Server may read in " + db},
        {"props show " + db + " --access Minimal",
         "no property that class Minimal may read in " + db},
    };
    for (const auto& [command, why] : cases) {
        Outcome o = run(command);
        EXPECT_EQ(o.status, 0) << command;
        EXPECT_EQ(o.out, "") << command;
        EXPECT_EQ(o.err, "vmcfg: " + why + "\n") << command;
    }
    Outcome json = run("--json props show --cos 99");
    EXPECT_EQ(json.out, "[]\n");
    EXPECT_EQ(json.err, "");
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

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

TEST_F(VmcfgProps, PutWritesTheStreamAndShowHidesWhatTheClassMayNotRead) {
    ASSERT_EQ(run("props put " + db + " Greeting hello --read Minimal").status, 0);
    ASSERT_EQ(run("props put " + db + " Pin 1234").status, 0);
    EXPECT_EQ(readFile(db),
              "component-file-version=2\nnumber of properties=2\n"
              "8 Greeting 1\n5 2 10 1 3 0 \n5 hello \n\n"
              "3 Pin 1\n5 3 0 1 3 0 \n4 1234 \n\n");
    Outcome shown = run("props show " + db + " --access Standard");
    EXPECT_EQ(shown.status, 0);
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

TEST_F(VmcfgProps, BadFilesAreReportedWithTheirError) {
    writeFile(db, "component-file-version=2\nnumber of properties=2\n8 Greeting 0\n");
    Outcome bad = run("props check " + db);
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("CANT_PARSE_FILE"), String::npos) << bad.err;
    Outcome missing = run("props show /VM/config/absent");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("No such file or directory"), String::npos);
    EXPECT_EQ(run("props show " + db + " --access Nobody").status, 2);
}

TEST_F(VmcfgProps, JsonSurvivesBytesThatAreNotText) {
    writeFile(db,
              "component-file-version=2\nnumber of properties=1\n"
              "3 Bin 1\n5 1 0 1 3 0 \n3 \xff\n\x01 \n\n");
    Outcome shown = run("--json props show " + db);
    ASSERT_EQ(shown.status, 0) << shown.err;
    auto list = nlohmann::json::parse(shown.out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["name"], "Bin");
    EXPECT_EQ(list[0]["length"], 3);
}

}  // namespace

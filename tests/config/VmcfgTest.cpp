#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/config/ConfigFixture.h"
#include "tests/testing/VmcfgRunner.h"

namespace {

using Outcome = VmcfgRunner::Outcome;

// Runs the built vmcfg on the fixture's platform root.
class Vmcfg : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        setenv("SITE_NAME", "east", 1);
        ASSERT_TRUE(std::filesystem::exists(binary())) << binary() << ": build the vmcfg target";
        writeFile("/VM/config/config_params",
                  "#site parameters\n"
                  "precedence node $(echo vm7)\n"
                  "precedence site ${SITE_NAME}\n"
                  "precedence global default\n"
                  "node vm7 : max_ports=48 greeting=(Good morning)\n"
                  "node vm8 : max_ports=96\n"
                  "site east : max_ports=24 language=english\n"
                  "global default : max_ports=12 timeout=30 language=(US english) "
                  "(Number of CDR Files)=4\n");
    }

    static String binary() { return VmcfgRunner::binary(); }

    Outcome run(const String& arguments) const { return VmcfgRunner::run(root_, arguments, root_); }
};

TEST_F(Vmcfg, GetPrintsValueAndSource) {
    Outcome found = run("param get max_ports");
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.out, "48 (node=vm7)\n");
    EXPECT_EQ(found.err, "");
    Outcome missing = run("param get absent_key");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("absent_key"), String::npos);
}

TEST_F(Vmcfg, GetAsJson) {
    Outcome found = run("--json param get 'Number of CDR Files'");
    EXPECT_EQ(found.status, 0);
    auto reply = nlohmann::json::parse(found.out);
    EXPECT_EQ(reply, nlohmann::json({{"key", "Number of CDR Files"},
                                     {"value", "4"},
                                     {"type", "global"},
                                     {"type_value", "default"}}));
    Outcome missing = run("--json param get nothing");
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(nlohmann::json::parse(missing.out)["value"].is_null());
}

TEST_F(Vmcfg, ExplainShowsEveryTypeAndTheWinner) {
    Outcome outcome = run("param explain language");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out,
              "slot 0: node=vm7  does not hold language\n"
              "slot 1: site=east  holds language=english  <- wins\n"
              "slot 2: global=default  holds language=US english\n"
              "language=english from site=east\n");
    Outcome json = run("--json param explain max_ports");
    auto reply = nlohmann::json::parse(json.out);
    EXPECT_EQ(reply["winner"], "node");
    ASSERT_EQ(reply["types"].size(), 3u);
    EXPECT_EQ(reply["types"][2]["value"], "12");
    EXPECT_EQ(reply["types"][1]["wins"], false);
    EXPECT_EQ(run("param explain absent_key").status, 1);
}

TEST_F(Vmcfg, CheckReportsTheParseResult) {
    Outcome good = run("param check");
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.out, "/VM/config/config_params: ok, 3 precedence types\n");
    EXPECT_EQ(good.err, "");
    Outcome traced = run("param check --debug 1");
    EXPECT_EQ(traced.status, 0);
    EXPECT_NE(traced.err.find("precedence node=vm7 in slot 0\n"), String::npos);
    writeFile("/VM/config/bad", "precedence g x\nnot a parameter line\n");
    Outcome bad = run("param check --file /VM/config/bad");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err,
              "/VM/config/bad Can't parse line:  2, line is:\nnot a parameter line\n"
              "Can't find configuration\n");
}

TEST_F(Vmcfg, TypesInSlotOrder) {
    Outcome outcome = run("param types");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "0 node=vm7\n1 site=east\n2 global=default\n");
    auto reply = nlohmann::json::parse(run("--json param types").out);
    EXPECT_EQ(reply["types"][1],
              nlohmann::json({{"slot", 1}, {"type", "site"}, {"type_value", "east"}}));
}

TEST_F(Vmcfg, BadUsageAndUnreadableFiles) {
    Outcome missing = run("param get k --file /VM/config/none");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err,
              "vmcfg: can't read configuration file /VM/config/none: No such file or directory\n");
    EXPECT_EQ(run("param").status, 2);
    EXPECT_EQ(run("param get").status, 2);
    EXPECT_EQ(run("--box x param types").status, 2);
}

}  // namespace

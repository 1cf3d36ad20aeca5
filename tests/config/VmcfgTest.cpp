#include <gtest/gtest.h>

#include <filesystem>

#include "tests/config/ConfigFixture.h"

namespace {

// Runs the built vmcfg on the fixture's platform root.
class Vmcfg : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        setenv("SITE_NAME", "east", 1);
        writeFile("/VM/config/config_params",
                  "#site parameters\n"
                  "precedence node $(echo vm7)\n"
                  "precedence site ${SITE_NAME}\n"
                  "precedence global default\n"
                  "node vm7 : max_ports=48 greeting=(Good morning)\n"
                  "node vm8 : max_ports=96\n"
                  "site east : max_ports=24 language=english esc=a\x1b]0;t\x07z del=\x7f "
                  "c1=\xc2\x9b bad=\xff\xc3 utf8=\xc3\xa9\xe2\x80\x94 tab=(a\tb)\n"
                  "global default : max_ports=12 timeout=30 language=(US english) "
                  "(Number of CDR Files)=4\n");
        writeFile("/VM/config/bad", "precedence g x\ng x : k=1\nnot a parameter line\n");
    }
};

TEST_F(Vmcfg, ParamCommands) {
    std::jthread release = fifoAndDevice();
    struct Case {
        const char* arguments;
        int status;
        const char *out, *err;  // nullptr: not compared
    };
    const Case cases[] = {
        {"param get max_ports", 0, "48 (node=vm7)\n", ""},
        {"param get absent_key", 1, "",
         "vmcfg: absent_key: no precedence type holds this key in /VM/config/config_params\n"},
        {"--json param get 'Number of CDR Files'", 0,
         R"({"key":"Number of CDR Files","type":"global","type_value":"default","value":"4"})"
         "\n",
         ""},
        {"--json param get nothing", 1,
         R"({"error":"nothing: no precedence type holds this key in /VM/config/config_params",)"
         R"("exit":1,"key":"nothing","type":null,"type_value":null,"value":null})"
         "\n",
         nullptr},
        {"param explain language", 0,
         "slot 0: node=vm7  does not hold language\n"
         "slot 1: site=east  holds language=english  <- wins\n"
         "slot 2: global=default  holds language=US english\n"
         "language=english from site=east\n",
         ""},
        {"--json param explain max_ports", 0,
         R"({"key":"max_ports","types":[)"
         R"({"holds":true,"slot":0,"type":"node","type_value":"vm7","value":"48","wins":true},)"
         R"({"holds":true,"slot":1,"type":"site","type_value":"east","value":"24","wins":false},)"
         R"({"holds":true,"slot":2,"type":"global","type_value":"default","value":"12",)"
         R"("wins":false}],"value":"48","winner":"node"})"
         "\n",
         ""},
        {"param explain absent_key", 1, nullptr, nullptr},
        {"param check", 0, "/VM/config/config_params: ok, 3 precedence types\n", ""},
        {"param check --file /VM/config/bad", 1, "/VM/config/bad: failed, 1 precedence type\n",
         "/VM/config/bad Can't parse line:  3, line is:\nnot a parameter line\n"},
        {"param get k --file /VM/config/bad", 1, "1 (g=x)\n", nullptr},
        {"param list --file /VM/config/bad", 1, "k=1 (g=x)\n",
         "/VM/config/bad Can't parse line:  3, line is:\nnot a parameter line\n"},
        {"--json param list --file /VM/config/bad", 1,
         R"({"error":"/VM/config/bad: the parse failed","exit":1,"file":"/VM/config/bad",)"
         R"("keys":[{"key":"k","type":"g","type_value":"x","value":"1"}],"ok":false,)"
         R"("types":[{"slot":0,"type":"g","type_value":"x"}]})"
         "\n",
         nullptr},
        {"--json param check --file /VM/config/bad", 1,
         R"({"diagnostics":[{"line":3,"message":"not a comment, precedence or parameter line",)"
         R"("text":"not a parameter line"}],"error":"/VM/config/bad: the parse failed","exit":1,)"
         R"("file":"/VM/config/bad","ok":false,"types":1})"
         "\n",
         "/VM/config/bad Can't parse line:  3, line is:\nnot a parameter line\n"},
        {"param list", 0, nullptr, ""},
        {"param types --file /VM/config/bad", 1, "0 g=x\n", nullptr},
        {"param explain k --file /VM/config/bad", 1, nullptr, nullptr},
        {"param types", 0, "0 node=vm7\n1 site=east\n2 global=default\n", ""},
        {"--json param types", 0,
         R"({"file":"/VM/config/config_params","types":[{"slot":0,"type":"node",)"
         R"("type_value":"vm7"},{"slot":1,"type":"site","type_value":"east"},)"
         R"({"slot":2,"type":"global","type_value":"default"}]})"
         "\n",
         ""},
        {"param get k --file /VM/config/none", 2, "",
         "vmcfg: can't read configuration file /VM/config/none: No such file or directory\n"},
        {"param check --debug -1", 2, "", nullptr},
        {"param list --file /VM/config/none", 2, "",
         "vmcfg: can't read configuration file /VM/config/none: No such file or directory\n"},
        {"param check --file /VM/config", 2, "", nullptr},
        {"param check --file /VM/config/fifo", 2, "", nullptr},
        {"param types --file /VM/config/device", 2, "", nullptr},
        // Bytes that are not printable text are shown escaped.
        {"param get esc", 0, "a\\x1b]0;t\\x07z (site=east)\n", ""},
        {"param get del", 0, "\\x7f (site=east)\n", ""},
        {"param get c1", 0, "\\xc2\\x9b (site=east)\n", ""},
        {"param get bad", 0, "\\xff\\xc3 (site=east)\n", ""},
        {"param get utf8", 0, "\xc3\xa9\xe2\x80\x94 (site=east)\n", ""},
        {"param get tab", 0, "a\\x09b (site=east)\n", ""},
        {"--box x param types", 2, "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        VmcfgRunner::Outcome outcome = run(c.arguments);
        EXPECT_EQ(outcome.status, c.status);
        if (c.out) {
            EXPECT_EQ(outcome.out, c.out);
        }
        if (c.err) {
            EXPECT_EQ(outcome.err, c.err);
        }
    }
    // Hex beside JSON text that is not UTF-8; the bytes alone with -o value.
    EXPECT_EQ(run("param get bad -o value").out, "\xff\xc3\n");
    EXPECT_NE(run("param get bad --json").out.find(R"("value_hex":"ffc3")"), String::npos);
    VmcfgRunner::Outcome traced = run("param check --debug 1");
    EXPECT_EQ(traced.status, 0);
    EXPECT_NE(traced.err.find("precedence node=vm7 in slot 0\n"), String::npos);
}

// Commands of $(...) terms run by default, as the format says; with
// --no-commands none starts and each term reads as empty.
TEST_F(Vmcfg, NoCommandsReadsCommandTermsAsEmpty) {
    const String marker = hostPath("/ran");
    writeFile("/VM/config/touching", "precedence node $(touch '" + marker +
                                         "'; echo vm7)\nprecedence global default\n"
                                         "node vm7 : k=7\nglobal default : k=0\n");
    for (const char* command : {"check", "types", "get k", "explain k", "list"}) {
        SCOPED_TRACE(command);
        VmcfgRunner::Outcome quiet =
            run(String("param ") + command + " --no-commands --file /VM/config/touching");
        EXPECT_EQ(quiet.status, 0) << quiet.err;
        EXPECT_FALSE(std::filesystem::exists(marker)) << "a command ran";
    }
    EXPECT_EQ(run("param get k --no-commands -o value --file /VM/config/touching").out, "0\n");
    EXPECT_EQ(run("param list --no-commands --file /VM/config/touching").out,
              "k=0 (global=default)\n");
    EXPECT_EQ(run("param get k -o value --file /VM/config/touching").out, "7\n");
    EXPECT_TRUE(std::filesystem::exists(marker));
}

}  // namespace

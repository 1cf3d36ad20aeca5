#include <gtest/gtest.h>

#include "config/ConfigurationInfo.h"
#include "tests/config/ConfigFixture.h"

namespace {

class ConfigLookup : public ConfigFixture {
  protected:
    // A file whose node type runs a command that counts its runs.
    Path countingFile() {
        return writeConfig("precedence node $(echo run >> " + hostPath("/runs") +
                           "; echo vm7)\nprecedence global default\nnode vm7 : max_ports=48\n"
                           "global default : max_ports=12 timeout=30\n");
    }
    std::size_t runs() const {
        String text = readFile("/runs");
        return std::count(text.begin(), text.end(), '\n');
    }
};

TEST_F(ConfigLookup, QuietReadersShareOneParseAndTracedReadersParseAgain) {
    Path path = countingFile();
    VantorConfigurationInfo quiet(path, 0);
    StderrCapture capture;
    { VantorConfigurationInfo traced(path, 1), again(path, 1); }
    EXPECT_EQ(runs(), 3u);
    writeFile(path, "precedence node changed\nnode changed : max_ports=1\n");
    VantorConfigurationInfo traced(path, 1);
    EXPECT_TRUE(traced.isInitialized());
    EXPECT_EQ(lookup(traced, "max_ports"), "1");
    // Neither the rewrite nor the traced parse reaches the shared one.
    ConfigurationInfo shared(path, 0);
    EXPECT_EQ(runs(), 3u);
    EXPECT_TRUE(shared.isInitialized());
    EXPECT_EQ(lookup(shared, "max_ports"), "48");
    EXPECT_EQ(shared.paramValue(Symbol("node")), "vm7");
    EXPECT_EQ(lookup(quiet, "max_ports"), "48");
}

TEST_F(ConfigLookup, FailedSharedParseIsParsedAgain) {
    Path path = countingFile();
    String text = readFile(path) + "broken line\n";
    writeFile(path, text);
    StderrCapture capture;
    VantorConfigurationInfo failed(path, 0);
    EXPECT_FALSE(failed.isInitialized());
    EXPECT_EQ(lookup(failed, "max_ports"), "48");
    writeFile(path, text.substr(0, text.size() - 12));
    VantorConfigurationInfo retried(path, 0);
    VantorConfigurationInfo shared(path, 0);
    EXPECT_EQ(runs(), 2u);
    EXPECT_TRUE(retried.isInitialized());
    EXPECT_TRUE(shared.isInitialized());
    EXPECT_FALSE(failed.isInitialized());
}

TEST_F(ConfigLookup, MissesLeaveTheOutputsAlone) {
    StderrCapture capture;
    VantorConfigurationInfo bare(0);
    ConfigurationInfo configured(EmptyPath, 0);
    EXPECT_EQ(capture.text(), "doInitialize(): file required\ndoInitialize(): file required\n");
    EXPECT_FALSE(bare.isInitialized());
    EXPECT_TRUE(bare.precedenceSlots().empty());
    VantorConfigurationInfo parsed(countingFile(), 0);
    for (const VantorConfigurationInfo* info : {&bare, &parsed}) {
        String value = "before";
        Symbol type("t0"), typeValue("v0");
        EXPECT_FALSE(info->configGet(Symbol("absent"), value, type, typeValue));
        EXPECT_EQ(value + type.text() + typeValue.text(), "beforet0v0");
    }
    EXPECT_EQ(parsed.paramValue(Symbol("nothing")), "");
}

TEST_F(ConfigLookup, TypedGetterReadsAShort) {
    // The value (nullptr: the key is absent) and the short read from it (-7: untouched).
    const std::pair<const char*, short> cases[] = {{"4", 4},    {"12abc", 12}, {"-32768", -32768},
                                                   {"abc", -7}, {"32768", -7}, {nullptr, -7}};
    for (const auto& [value, expected] : cases) {
        SCOPED_TRACE(value ? value : "absent");
        String err;
        auto info = readQuietly("precedence global default\nglobal default : other=1" +
                                    (value ? " (Number of CDR Files)=" + String(value) : "") + "\n",
                                err);
        short out = -7;
        String source = "unset";
        EXPECT_EQ(configGet<short>(*info, Symbol("Number of CDR Files"), out, source),
                  value != nullptr);
        EXPECT_EQ(out, expected);
        EXPECT_EQ(source, value ? "global=default" : "=");
    }
}

}  // namespace

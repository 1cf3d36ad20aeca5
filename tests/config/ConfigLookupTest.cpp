#include <gtest/gtest.h>

#include "config/ConfigurationInfo.h"
#include "tests/config/ConfigFixture.h"

namespace {

class ConfigLookup : public ConfigFixture {
  protected:
    // A file whose node type runs a command that counts its runs.
    Path countingFile(const String& maxPorts) {
        counter_ = hostPath("/runs");
        return writeConfig("precedence node $(echo run >> " + counter_ +
                           "; echo vm7)\nprecedence global default\nnode vm7 : max_ports=" +
                           maxPorts + "\nglobal default : max_ports=12 timeout=30\n");
    }
    std::size_t runs() const {
        String text = readFile("/runs");
        return std::count(text.begin(), text.end(), '\n');
    }

    String counter_;
};

TEST_F(ConfigLookup, QuietReadersShareOneParse) {
    Path path = countingFile("48");
    VantorConfigurationInfo first(path, 0);
    writeFile(path, "precedence node changed\nnode changed : max_ports=1\n");
    ConfigurationInfo second(path, 0);
    EXPECT_EQ(runs(), 1u);
    EXPECT_TRUE(second.isInitialized());
    EXPECT_EQ(lookup(second, "max_ports"), "48");
    EXPECT_EQ(second.paramValue(Symbol("node")), "vm7");
}

TEST_F(ConfigLookup, TracedReaderParsesAgainAndLeavesTheSharedOneAlone) {
    Path path = countingFile("48");
    VantorConfigurationInfo quiet(path, 0);
    writeFile(path, "precedence node changed\nnode changed : max_ports=1\n");
    {
        StderrCapture capture;
        VantorConfigurationInfo traced(path, 1);
        EXPECT_TRUE(traced.isInitialized());
        EXPECT_EQ(lookup(traced, "max_ports"), "1");
        EXPECT_NE(capture.text().find("Getting an entry for node, changed, key=max_ports\n"),
                  String::npos);
    }
    VantorConfigurationInfo later(path, 0);
    EXPECT_EQ(lookup(later, "max_ports"), "48");
    EXPECT_EQ(lookup(quiet, "max_ports"), "48");
}

TEST_F(ConfigLookup, TracedReaderRunsCommandsEachTime) {
    Path path = countingFile("48");
    StderrCapture capture;
    VantorConfigurationInfo one(path, 1), two(path, 1);
    EXPECT_EQ(runs(), 2u);
}

TEST_F(ConfigLookup, FailedSharedParseIsParsedAgain) {
    Path path = countingFile("48");
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

TEST_F(ConfigLookup, LowestSlotWinsAndMissesLeaveOutputsAlone) {
    Path path = countingFile("48");
    VantorConfigurationInfo info(path, 0);
    String value = "before";
    Symbol type("t0"), typeValue("v0");
    EXPECT_FALSE(info.configGet(Symbol("absent"), value, type, typeValue));
    EXPECT_EQ(value + type.text() + typeValue.text(), "beforet0v0");
    ASSERT_TRUE(info.configGet(Symbol("max_ports"), value, type, typeValue));
    EXPECT_EQ(value + " " + type.text() + " " + typeValue.text(), "48 node vm7");
    ASSERT_TRUE(info.configGet(Symbol("timeout"), value, type, typeValue));
    EXPECT_EQ(value + " " + type.text() + " " + typeValue.text(), "30 global default");
    EXPECT_EQ(info.paramValue(Symbol("global")), "default");
    EXPECT_EQ(info.paramValue(Symbol("nothing")), "");
}

TEST_F(ConfigLookup, ReaderWithoutFile) {
    StderrCapture capture;
    VantorConfigurationInfo bare(0);
    ConfigurationInfo configured(EmptyPath, 0);
    EXPECT_EQ(capture.text(), "doInitialize(): file required\ndoInitialize(): file required\n");
    EXPECT_FALSE(bare.isInitialized());
    EXPECT_TRUE(bare.precedenceSlots().empty());
    EXPECT_EQ(lookup(bare, "max_ports"), "<absent>");
    EXPECT_EQ(ConfigurationInfo::defaultConfigFile, Path("/VM/config/config_params"));
}

struct ShortCase {
    const char* name;
    String value;  // empty: the key is absent
    bool found;
    short out;
    String source;
};

void PrintTo(const ShortCase& c, std::ostream* out) {
    *out << c.name;
}

class TypedGetter : public ConfigFixture, public ::testing::WithParamInterface<ShortCase> {};

TEST_P(TypedGetter, ReadsAShort) {
    const ShortCase& c = GetParam();
    String err;
    auto info =
        readQuietly("precedence global default\nglobal default : other=1" +
                        (c.value.empty() ? String() : " (Number of CDR Files)=" + c.value) + "\n",
                    err);
    short out = -7;
    String source = "unset";
    EXPECT_EQ(configGet<short>(*info, Symbol("Number of CDR Files"), out, source), c.found);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(source, c.source);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TypedGetter,
    ::testing::Values(ShortCase{"Number", "4", true, 4, "global=default"},
                      ShortCase{"TrailingText", "12abc", true, 12, "global=default"},
                      ShortCase{"Negative", "-32768", true, -32768, "global=default"},
                      ShortCase{"NotANumber", "abc", true, -7, "global=default"},
                      ShortCase{"OutOfRange", "32768", true, -7, "global=default"},
                      ShortCase{"Absent", "", false, -7, "="}),
    [](const auto& info) { return String(info.param.name); });

}  // namespace

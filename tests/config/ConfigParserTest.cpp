#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <filesystem>

#include "config/ConfigurationInfo.h"
#include "host/platform/FaultInjector.h"
#include "tests/config/ConfigFixture.h"

namespace {

const String exampleTail =
    "precedence site ${SITE_NAME}\n"
    "precedence global default\n"
    "node vm7 : max_ports=48 greeting=(Good morning)\n"
    "node vm8 : max_ports=96\n"
    "site east : max_ports=24 language=english\n"
    "global default : max_ports=12 timeout=30 language=(US english) (Number of CDR Files)=4\n";

class ConfigParser : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        setenv("SITE_NAME", "east", 1);
    }
};

void expectWorkedExample(const VantorConfigurationInfo& info, const String& node) {
    EXPECT_TRUE(info.isInitialized());
    const auto& slots = info.precedenceSlots();
    ASSERT_EQ(slots.size(), 3u);
    EXPECT_EQ(slots[0]->paramType(), Symbol("node"));
    EXPECT_EQ(slots[0]->paramValue(), node);
    EXPECT_EQ(slots[1]->paramValue(), "east");
    EXPECT_EQ(slots[2]->paramValue(), "default");
    String expected =
        "node:greeting=Good morning\nnode:max_ports=48\n"
        "site:language=english\nsite:max_ports=24\n"
        "global:Number of CDR Files=4\nglobal:language=US english\n"
        "global:max_ports=12\nglobal:timeout=30\n";
    // The key order of a slot is the text order of the keys.
    EXPECT_EQ(dump(info), expected);
}

TEST_F(ConfigParser, WorkedExampleReadsQuietly) {
    String err;
    auto info = readQuietly("#site parameters\nprecedence node $(echo vm7)\n" + exampleTail, err);
    EXPECT_EQ(err, "");
    expectWorkedExample(*info, "vm7");
    String value;
    Symbol type, typeValue;
    ASSERT_TRUE(info->configGet(Symbol("max_ports"), value, type, typeValue));
    EXPECT_EQ(value + " " + type.text() + " " + typeValue.text(), "48 node vm7");
    ASSERT_TRUE(info->configGet(Symbol("language"), value, type, typeValue));
    EXPECT_EQ(value + " " + type.text() + " " + typeValue.text(), "english site east");
    ASSERT_TRUE(info->configGet(Symbol("timeout"), value, type, typeValue));
    EXPECT_EQ(value + " " + type.text() + " " + typeValue.text(), "30 global default");
}

TEST_F(ConfigParser, WorkedExampleWithTheRealHostName) {
    struct utsname names;
    ASSERT_EQ(uname(&names), 0);
    String host = names.nodename;
    String text = "#site parameters\nprecedence node $(uname -n)\n" + exampleTail;
    text.replace(text.find("node vm7"), 8, "node " + host);
    String err;
    auto info = readQuietly(text, err);
    EXPECT_EQ(err, "");
    expectWorkedExample(*info, host);
}

struct PairCase {
    const char* name;
    String pairs;
    String stored;  // dump of the g slot; empty when the line is in error
    String error;   // reason of the parse error, if any
};

void PrintTo(const PairCase& c, std::ostream* out) {
    *out << c.name;
}

class PairReading : public ConfigFixture, public ::testing::WithParamInterface<PairCase> {};

TEST_P(PairReading, StoresTheExpectedPairs) {
    const PairCase& c = GetParam();
    String err;
    auto info = readQuietly("precedence g default\ng default : " + c.pairs +
                                "\nprecedence other x\nother x : present=1\n",
                            err);
    String stored = dump(*info);
    EXPECT_EQ(stored, c.stored + "other:present=1\n");
    if (c.error.empty()) {
        EXPECT_EQ(err, "") << c.pairs;
    } else {
        EXPECT_NE(err.find(" Can't parse " + c.error + " on line:  2, line is:\n"), String::npos)
            << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PairReading,
    ::testing::Values(PairCase{"Plain", "a=1 b=2", "g:a=1\ng:b=2\n", ""},
                      PairCase{"BlanksAroundEquals", "a =  1\tb\t=2  ", "g:a=1\ng:b=2\n", ""},
                      PairCase{"EmptyLastValue", "a=1 k=", "g:a=1\ng:k=\n", ""},
                      PairCase{"LaterPairWins", "k=1 k=2", "g:k=2\n", ""},
                      PairCase{"HashIsText", "k=a#b", "g:k=a#b\n", ""},
                      PairCase{"EqualsInValue", "k=x=y", "g:k=x=y\n", ""},
                      PairCase{"Parentheses", "k=(a b)", "g:k=a b\n", ""},
                      PairCase{"Brackets", "k=[a b]", "g:k=a b\n", ""},
                      PairCase{"Braces", "k={a b}", "g:k=a b\n", ""},
                      PairCase{"AngleBrackets", "k=<a b>", "g:k=a b\n", ""},
                      PairCase{"DoubleQuotes", "k=\"a b\"", "g:k=a b\n", ""},
                      PairCase{"SingleQuotes", "k='a b' j=1", "g:j=1\ng:k=a b\n", ""},
                      PairCase{"ClosingBracketAsOpener", "k=]a b]", "g:k=a b\n", ""},
                      PairCase{"CaretAsOpener", "k=^a b^", "g:k=a b\n", ""},
                      PairCase{"DashAsOpener", "k=-a b-", "g:k=a b\n", ""},
                      PairCase{"HighByteAsOpener",
                               "k=\xe9"
                               "a b\xe9",
                               "g:k=a b\n", ""},
                      PairCase{"BracketClosedByOpeningBracket", "k=[a b[", "g:k=a b\n", ""},
                      PairCase{"ClosingBracketOpenerIgnoresOpeningBracket", "k=]a [b] c=1",
                               "g:c=1\ng:k=a [b\n", ""},
                      PairCase{"BackslashCloses", "k=(a b\\ c=1", "g:c=1\ng:k=a b\n", ""},
                      PairCase{"DelimitedKey", "(my key)=1", "g:my key=1\n", ""},
                      PairCase{"DelimitedKeyWithEquals", "(a=b)=1", "g:a=b=1\n", ""},
                      PairCase{"UnneededDelimitersStay", "k=(ab) (k2)=[x]",
                               "g:(k2)=[x]\ng:k=(ab)\n", ""},
                      PairCase{"DelimitedValueThenText", "k=(a b)c", "", "key for pair 2"},
                      PairCase{"UnclosedDelimiter", "k=(a b", "", "key for pair 2"},
                      PairCase{"PairWithoutEquals", "a=1 b", "", "key for pair 2"},
                      PairCase{"LoneKey", "novalue", "", "key for pair 1"},
                      PairCase{"EmptyKey", "=1", "", "key for pair 1"},
                      PairCase{"NonTextBytes", String("k=\x01\xff\x7f z=a\0b", 11),
                               String("g:k=\x01\xff\x7f\ng:z=a\0b\n", 16), ""}),
    [](const auto& info) { return String(info.param.name); });

TEST_F(ConfigParser, DollarValueTakesTheRestOfTheLine) {
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    String err;
    auto info = readQuietly("precedence g default\ng default : path=${HOME}/bin next=1\n", err);
    EXPECT_EQ(err, "");
    EXPECT_EQ(dump(*info), "g:path=" + String(home) + "/binnext=1\n");
}

struct ExpressionCase {
    const char* name;
    String expression;
    String value;
};

void PrintTo(const ExpressionCase& c, std::ostream* out) {
    *out << c.name;
}

class ExpressionResolution : public ConfigFixture,
                             public ::testing::WithParamInterface<ExpressionCase> {};

TEST_P(ExpressionResolution, ResolvesTerms) {
    setenv("CFG_A", "a", 1);
    setenv("CFG_B", "b", 1);
    unsetenv("CFG_UNSET");
    String err;
    auto info = readQuietly("precedence t " + GetParam().expression + "\nt x : k=1\n", err);
    EXPECT_EQ(info->paramValue(Symbol("t")), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpressionResolution,
    ::testing::Values(
        ExpressionCase{"PlainText", "default", "default"},
        ExpressionCase{"DollarInsidePlainText", "x${CFG_A}", "x${CFG_A}"},
        ExpressionCase{"EnvironmentTermsJoined", "${CFG_A}${CFG_B}", "ab"},
        ExpressionCase{"BlanksDropped", "${CFG_A}  ${CFG_B} c", "abc"},
        ExpressionCase{"UnsetVariableGivesNothing", "${CFG_UNSET}x", "x"},
        ExpressionCase{"CommandFirstLine", "$(echo first; echo second) tail", "firsttail"},
        ExpressionCase{"SilentCommand", "$(true)x", "x"},
        ExpressionCase{"CommandLineCutAt1023", "$(printf %05000d 0)", String(1023, '0')},
        ExpressionCase{"EndlessOutputIsNotBuffered", "$(yes)", "y"}),
    [](const auto& info) { return String(info.param.name); });

TEST_F(ConfigParser, PrecedenceLineWithColonDeclaresATypeNamedByItsSecondWord) {
    String err;
    auto info = readQuietly("precedence x : a=1\nx :a=1 : k=v\n", err);
    EXPECT_EQ(info->paramValue(Symbol("x")), ":a=1");
    EXPECT_EQ(dump(*info), "x:k=v\n");
}

TEST_F(ConfigParser, DuplicatePrecedenceKeepsTheFirstAndRunsNoCommand) {
    String marker = hostPath("/marker");
    Path path = writeConfig("precedence site one\ng x : k=1\nprecedence site $(touch " + marker +
                            ")\nsite one : k=2\n");
    StderrCapture capture;
    VantorConfigurationInfo info(path, 0);
    EXPECT_EQ(capture.text(), path.text() +
                                  " Can't parse Unknown parameter type: g on line:  2, line is:\n"
                                  "g x : k=1\n" +
                                  path.text() +
                                  " Can't parse Duplicate Parameter/Precedence Type:  site on "
                                  "line:  3, line is:\nprecedence site $(touch " +
                                  marker + ")\n");
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_FALSE(info.isInitialized());
    EXPECT_EQ(info.precedenceSlots().size(), 1u);
    EXPECT_EQ(info.paramValue(Symbol("site")), "one");
    EXPECT_EQ(lookup(info, "k"), "2");
}

TEST_F(ConfigParser, ReportsErrorsInTheDocumentedForm) {
    writeFile(ConfigurationInfo::defaultConfigFile,
              "# header\nprecedence node vm7\n\n   \t\nnode vm7 : max_ports=48\n#\n"
              "nodes vm7 : max_ports=8\n\t# indented comment\nthis line has no colon\n");
    StderrCapture capture;
    ConfigurationInfo info(ConfigurationInfo::defaultConfigFile, 0);
    EXPECT_EQ(capture.text(),
              "/VM/config/config_params Can't parse Unknown parameter type: nodes on line:  7, "
              "line is:\nnodes vm7 : max_ports=8\n"
              "/VM/config/config_params Can't parse line:  9, line is:\nthis line has no colon\n");
    EXPECT_FALSE(info.isInitialized());
    EXPECT_EQ(lookup(info, "max_ports"), "48");
}

TEST_F(ConfigParser, NothingStoredIsNotAConfiguration) {
    for (String text : {String("# only\nprecedence g default\n"),
                        String("precedence g default\ng default :\ng default :   \n"),
                        String("precedence g default\ng other : k=1\n")}) {
        String err;
        auto info = readQuietly(text, err);
        EXPECT_EQ(err, "Can't find configuration\n") << text;
        EXPECT_FALSE(info->isInitialized());
    }
}

TEST_F(ConfigParser, SkippedLineIsNotExamined) {
    String err;
    auto info = readQuietly("precedence g default\ng other : novalue (=\ng default : k=1\n", err);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(info->isInitialized());
}

TEST_F(ConfigParser, LastLineWithoutNewlineIsRead) {
    String err;
    auto info = readQuietly("precedence g default\n  g   default:k=1", err);
    EXPECT_EQ(err, "");
    EXPECT_EQ(dump(*info), "g:k=1\n");
}

TEST_F(ConfigParser, UnopenableFilesAreReported) {
    StderrCapture capture;
    VantorConfigurationInfo missing(Path("/VM/config/absent_file"), 0);
    writeFile("/VM/config/a_directory/inner", "x");
    VantorConfigurationInfo directory(Path("/VM/config/a_directory"), 0);
    EXPECT_EQ(capture.text(),
              "Can't open Configuration File:  /VM/config/absent_file, errno=2 (No such file or "
              "directory)\n"
              "Can't open Configuration File:  /VM/config/a_directory, errno=21 (Is a "
              "directory)\n");
    EXPECT_FALSE(missing.isInitialized());
    EXPECT_TRUE(missing.precedenceSlots().empty());
}

TEST_F(ConfigParser, ReadErrorIsNotTheEndOfAShorterFile) {
    Path file = writeConfig("precedence g x\ng x : k=1\n");
    // The first read brings the whole file; the one that looks for more fails.
    FaultInjector::add(FaultOp::Read, EIO, file.text(), /*skip=*/1);
    StderrCapture capture;
    VantorConfigurationInfo info(file, 0);
    EXPECT_FALSE(info.isInitialized());
    EXPECT_EQ(capture.text(), "Can't read Configuration File:  " + file.text() +
                                  " after line 2, errno=5 (Input/output error)\n");
}

TEST_F(ConfigParser, CommandThatCannotStartEmptiesTheValue) {
    FaultInjector::add(FaultOp::Popen, ENOMEM, "", 0, -1);
    String err;
    auto info = readQuietly(
        "precedence node pre $(uname -n) ${HOME}\nprecedence g x\ng x : k=$(echo b) ${HOME}\n",
        err);
    EXPECT_EQ(err, "Can't execute:  'uname -n'\nCan't execute:  'echo b'\n");
    EXPECT_TRUE(info->isInitialized());
    EXPECT_EQ(info->paramValue(Symbol("node")), "");
    EXPECT_EQ(dump(*info), "g:k=\n");
}

TEST_F(ConfigParser, MegabyteLines) {
    String big(1 << 20, 'v');
    String many;
    for (int i = 0; many.size() < (1u << 20); ++i) many += "k" + std::to_string(i % 1000) + "=x ";
    String terms;
    while (terms.size() < (1u << 20)) terms += "${HOME} t ";
    Path path = writeConfig("precedence g default\ng default : big=" + big + "\n" + big +
                            "\nprecedence h default\nh default : " + many + "last=(a b)\n" +
                            "precedence m " + terms + "\ng default : dollar=" + terms + "\n");
    StderrCapture capture;
    auto info = std::make_unique<VantorConfigurationInfo>(path, 0);
    EXPECT_EQ(capture.text(), path.text() + " Can't parse line:  3, line is:\n" + big + "\n");
    EXPECT_EQ(lookup(*info, "big"), big);
    EXPECT_EQ(info->precedenceSlots()[1]->params().size(), 1001u);
    EXPECT_EQ(lookup(*info, "last"), "a b");
    String resolved;
    for (std::size_t i = 0; i < terms.size() / 10; ++i)
        resolved += String(std::getenv("HOME")) + "t";
    EXPECT_EQ(info->paramValue(Symbol("m")), resolved);
    EXPECT_EQ(lookup(*info, "dollar"), resolved);
}

struct TraceCase {
    unsigned long level;
    std::vector<String> present;
    std::vector<String> absent;
};

void PrintTo(const TraceCase& c, std::ostream* out) {
    *out << "level " << c.level;
}

class ParserTracing : public ConfigFixture, public ::testing::WithParamInterface<TraceCase> {};

TEST_P(ParserTracing, WritesByLevel) {
    Path path = writeConfig("precedence node $(echo vm7)\nnode vm7 : max_ports=48 (a b)=1\n");
    StderrCapture capture;
    VantorConfigurationInfo info(path, GetParam().level);
    String value;
    Symbol type, typeValue;
    info.configGet(Symbol("max_ports"), value, type, typeValue);
    for (const String& text : GetParam().present)
        EXPECT_NE(capture.text().find(text), String::npos) << text << "\n" << capture.text();
    for (const String& text : GetParam().absent)
        EXPECT_EQ(capture.text().find(text), String::npos) << text << "\n" << capture.text();
}

const std::vector<String> levelOne = {"line 1: 'precedence node $(echo vm7)'\n",
                                      "parse_precedence() - ParamExpression=$(echo vm7)\n",
                                      "found command = echo vm7, resolves to: vm7\n",
                                      "precedence node=vm7 in slot 0\n",
                                      "Found an entry for node, found_type=vm7\n",
                                      "termRE error:  ''\n\t^([^ \t=]+)[ \t]*=[ \t]*(.*)\n",
                                      "term='max_ports', undelimited\nparams='48 (a b)=1'\n",
                                      "term='a b', delimited\nparams='1'\n",
                                      "key='max_ports', value='48'\n",
                                      "Getting an entry for node, vm7, key=max_ports\n"};
const std::vector<String> levelEleven = {
    "parse_precedence() - ParamExpression=$(echo vm7) parsed, returing true\n"};
const std::vector<String> levelHundredOne = {
    "paramtypeRE error:  ''\n\t^[ \t]*([^ \t]+)[ \t]+([^ \t]+)[ \t]*:[ \t]*(.*)\n",
    "params:  'max_ports=48 (a b)=1'\n", "\tstart/stop delimiters: '\\('/'\\(\\)'\n"};

std::vector<String> join(std::vector<String> a, const std::vector<String>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Levels, ParserTracing,
    ::testing::Values(TraceCase{1, levelOne, join(levelEleven, levelHundredOne)},
                      TraceCase{10, levelOne, join(levelEleven, levelHundredOne)},
                      TraceCase{11, join(levelOne, levelEleven), levelHundredOne},
                      TraceCase{100, join(levelOne, levelEleven), levelHundredOne},
                      TraceCase{101, join(join(levelOne, levelEleven), levelHundredOne), {}}));

}  // namespace

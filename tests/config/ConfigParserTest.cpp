#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "host/platform/FaultInjector.h"
#include "tests/config/ConfigFixture.h"

namespace {

class ConfigParser : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        setenv("CFG_A", "a", 1);
        setenv("CFG_B", "b", 1);
        unsetenv("CFG_UNSET");
        setenv("CFG_MARKER", hostPath("/marker").c_str(), 1);
    }
};

// The pairs of a "g default" line; a line in error stores none of its pairs,
// and the line of another type after it is still read.
TEST_F(ConfigParser, ReadsPairs) {
    struct Case {
        const char* label;
        String pairs;
        String stored;      // dump of the g slot
        const char* error;  // reason of the parse error, "" if none
    };
    const Case cases[] = {
        {"Plain", "a=1 b=2", "g:a=1\ng:b=2\n", ""},
        {"BlanksAroundEquals", "a =  1\tb\t=2  ", "g:a=1\ng:b=2\n", ""},
        {"EmptyLastValue", "a=1 k=", "g:a=1\ng:k=\n", ""},
        {"LaterPairWins", "k=1 k=2", "g:k=2\n", ""},
        {"HashIsText", "k=a#b", "g:k=a#b\n", ""},
        {"EqualsInValue", "k=x=y", "g:k=x=y\n", ""},
        {"Parentheses", "k=(a b)", "g:k=a b\n", ""},
        {"Brackets", "k=[a b]", "g:k=a b\n", ""},
        {"Braces", "k={a b}", "g:k=a b\n", ""},
        {"AngleBrackets", "k=<a b>", "g:k=a b\n", ""},
        {"Quotes", "k='a b' j=1", "g:j=1\ng:k=a b\n", ""},
        {"ClosingBracketAsOpener", "k=]a b]", "g:k=a b\n", ""},
        {"CaretAsOpener", "k=^a b^", "g:k=a b\n", ""},
        {"DashAsOpener", "k=-a b-", "g:k=a b\n", ""},
        {"HighByteAsOpener", "k=\351a b\351", "g:k=a b\n", ""},
        {"BracketClosedByOpeningBracket", "k=[a b[", "g:k=a b\n", ""},
        {"ClosingBracketOpenerIgnoresOpeningBracket", "k=]a [b] c=1", "g:c=1\ng:k=a [b\n", ""},
        {"BackslashCloses", "k=(a b\\ c=1", "g:c=1\ng:k=a b\n", ""},
        {"DelimitedKey", "(my key)=1", "g:my key=1\n", ""},
        {"DelimitedKeyWithEquals", "(a=b)=1", "g:a=b=1\n", ""},
        {"UnneededDelimitersStay", "k=(ab) (k2)=[x]", "g:(k2)=[x]\ng:k=(ab)\n", ""},
        {"DollarValueTakesTheRestOfTheLine", "p=${CFG_A}/bin next=1", "g:p=a/binnext=1\n", ""},
        {"NonTextBytes", String("k=\x01\xff\x7f z=a\0b", 11),
         String("g:k=\x01\xff\x7f\ng:z=a\0b\n", 16), ""},
        {"DelimitedValueThenText", "k=(a b)c", "", "key for pair 2"},
        {"UnclosedDelimiter", "k=(a b", "", "key for pair 2"},
        {"PairWithoutEquals", "a=1 b", "", "key for pair 2"},
        {"LoneKey", "novalue", "", "key for pair 1"},
        {"EmptyKey", "=1", "", "key for pair 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        String err;
        auto info = readQuietly("precedence g default\ng default : " + c.pairs +
                                    "\nprecedence other x\nother x : present=1\n",
                                err);
        EXPECT_EQ(dump(*info), c.stored + "other:present=1\n");
        EXPECT_EQ(err, *c.error ? "@ Can't parse " + String(c.error) +
                                      " on line:  2, line is:\ng default : " + c.pairs + "\n"
                                : String());
    }
}

TEST_F(ConfigParser, ResolvesPrecedenceExpressions) {
    const std::pair<String, String> cases[] = {
        {"default", "default"},
        {"x${CFG_A}", "x${CFG_A}"},  // "$" inside plain text is text
        {"${CFG_A}${CFG_B}", "ab"},
        {"${CFG_A}  ${CFG_B} c", "abc"},  // blanks between terms are dropped
        {"${CFG_UNSET}x", "x"},
        {"$(echo first; echo second) tail", "firsttail"},  // a command's first line
        {"$(true)x", "x"},
        {"$(printf %05000d 0)", String(1023, '0')},
        {"$(yes)", "y"},  // endless output is not buffered
    };
    for (const auto& [expression, value] : cases) {
        String err;
        auto info = readQuietly("precedence t " + expression + "\nt x : k=1\n", err);
        EXPECT_EQ(info->paramValue(Symbol("t")), value) << expression;
    }
}

// Whole files: the types, what is stored, what the parse wrote ("@" for the
// file's path) and whether the file counts as a configuration.
TEST_F(ConfigParser, ReadsFiles) {
    struct Case {
        const char* label;
        String text, types, stored, err;
        bool initialized;
    };
    const Case cases[] = {
        {"ErrorsInTheDocumentedForm",
         "# header\nprecedence node vm7\n\n   \t\nnode vm7 : max_ports=48\n#\n"
         "nodes vm7 : max_ports=8\n\t# indented comment\nthis line has no colon\n",
         "node=vm7", "node:max_ports=48\n",
         "@ Can't parse Unknown parameter type: nodes on line:  7, line is:\n"
         "nodes vm7 : max_ports=8\n@ Can't parse line:  9, line is:\nthis line has no colon\n",
         false},
        {"DuplicatePrecedenceKeepsTheFirstAndRunsNoCommand",
         "precedence site one\nprecedence site $(touch $CFG_MARKER)\nsite one : k=2\n", "site=one",
         "site:k=2\n",
         "@ Can't parse Duplicate Parameter/Precedence Type:  site on line:  2, line is:\n"
         "precedence site $(touch $CFG_MARKER)\n",
         false},
        {"PrecedenceLineWithColonNamesTheTypeByItsSecondWord", "precedence x : a=1\nx :a=1 : k=v\n",
         "x=:a=1", "x:k=v\n", "", true},
        {"LineForAnotherValueIsNotExamined",
         "precedence g default\ng other : novalue (=\ng default : k=1\n", "g=default", "g:k=1\n",
         "", true},
        {"LastLineWithoutNewline", "precedence g default\n  g   default:k=1", "g=default",
         "g:k=1\n", "", true},
        {"OnlyTypes", "# only\nprecedence g default\n", "g=default", "",
         "Can't find configuration\n", false},
        {"EmptyPairLists", "precedence g default\ng default :\ng default :   \n", "g=default", "",
         "Can't find configuration\n", false},
        {"NoLineForTheValue", "precedence g default\ng other : k=1\n", "g=default", "",
         "Can't find configuration\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        String err;
        auto info = readQuietly(c.text, err);
        EXPECT_EQ(types(*info), c.types);
        EXPECT_EQ(dump(*info), c.stored);
        EXPECT_EQ(err, c.err);
        EXPECT_EQ(info->isInitialized(), c.initialized);
    }
    EXPECT_FALSE(std::filesystem::exists(hostPath("/marker")));
}

TEST_F(ConfigParser, ReadErrorIsNotTheEndOfAShorterFile) {
    // The first read brings the whole file; the one that looks for more fails.
    FaultInjector::add(FaultOp::Read, EIO, "ReadErrorIsNotTheEndOfAShorterFile", /*skip=*/1);
    String err;
    auto info = readQuietly("precedence g x\ng x : k=1\n", err);
    EXPECT_FALSE(info->isInitialized());
    EXPECT_EQ(err,
              "Can't read Configuration File:  @ after line 2, errno=5 (Input/output error)\n");
}

TEST_F(ConfigParser, CommandThatCannotStartEmptiesTheValue) {
    FaultInjector::add(FaultOp::Popen, ENOMEM, "", 0, -1);
    String err;
    auto info = readQuietly(
        "precedence node pre $(uname -n) ${HOME}\nprecedence g x\ng x : k=$(echo b) ${HOME}\n",
        err);
    EXPECT_EQ(err, "Can't execute:  'uname -n'\nCan't execute:  'echo b'\n");
    EXPECT_TRUE(info->isInitialized());
    EXPECT_EQ(types(*info), "node= g=x");
    EXPECT_EQ(dump(*info), "g:k=\n");
}

TEST_F(ConfigParser, MegabyteLines) {
    String big(1 << 20, 'v');
    String many;
    for (int i = 0; many.size() < (1u << 20); ++i) many += "k" + std::to_string(i % 1000) + "=x ";
    String terms;
    while (terms.size() < (1u << 20)) terms += "${CFG_A} t ";
    String err;
    auto info = readQuietly("precedence g default\ng default : big=" + big + "\n" + big +
                                "\nprecedence h default\nh default : " + many + "last=(a b)\n" +
                                "precedence m " + terms + "\ng default : dollar=" + terms + "\n",
                            err);
    EXPECT_EQ(err, "@ Can't parse line:  3, line is:\n" + big + "\n");
    EXPECT_EQ(lookup(*info, "big"), big);
    EXPECT_EQ(info->precedenceSlots()[1]->params().size(), 1001u);
    EXPECT_EQ(lookup(*info, "last"), "a b");
    String resolved;
    for (std::size_t i = 0; i < terms.size() / 11; ++i) resolved += "at";
    EXPECT_EQ(info->paramValue(Symbol("m")), resolved);
    EXPECT_EQ(lookup(*info, "dollar"), resolved);
}

// Each group of trace lines appears from its level on: 1, 11 and 101.
TEST_F(ConfigParser, TracesByLevel) {
    const std::vector<std::vector<String>> groups = {
        {"line 1: 'precedence node $(echo vm7)'\n",
         "parse_precedence() - ParamExpression=$(echo vm7)\n",
         "found command = echo vm7, resolves to: vm7\n", "precedence node=vm7 in slot 0\n",
         "Found an entry for node, found_type=vm7\n",
         "termRE error:  ''\n\t^([^ \t=]+)[ \t]*=[ \t]*(.*)\n",
         "term='max_ports', undelimited\nparams='48 (a b)=1'\n",
         "term='a b', delimited\nparams='1'\n", "key='max_ports', value='48'\n",
         "Getting an entry for node, vm7, key=max_ports\n"},
        {"parse_precedence() - ParamExpression=$(echo vm7) parsed, returing true\n"},
        {"paramtypeRE error:  ''\n\t^[ \t]*([^ \t]+)[ \t]+([^ \t]+)[ \t]*:[ \t]*(.*)\n",
         "params:  'max_ports=48 (a b)=1'\n", "\tstart/stop delimiters: '\\('/'\\(\\)'\n"}};
    for (const auto& [level, shown] :
         {std::pair<unsigned long, std::size_t>{1, 1}, {10, 1}, {11, 2}, {100, 2}, {101, 3}}) {
        Path path = writeConfig("precedence node $(echo vm7)\nnode vm7 : max_ports=48 (a b)=1\n");
        StderrCapture capture;
        VantorConfigurationInfo info(path, level);
        lookup(info, "max_ports");
        for (std::size_t group = 0; group < groups.size(); ++group)
            for (const String& text : groups[group])
                EXPECT_EQ(capture.text().find(text) != String::npos, group < shown)
                    << "level " << level << ": " << text;
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <clocale>

#include "platform/Regex.h"
#include "platform/RegexIterator.h"

namespace {

struct SubexpressionCase {
    const char* name;
    String pattern;
    String text;
    // Expected text per subexpression number; nullptr: took no part.
    std::vector<const char*> expected;
};

class RegexSubexpressions : public ::testing::TestWithParam<SubexpressionCase> {};

TEST_P(RegexSubexpressions, FollowThePosixRule) {
    const SubexpressionCase& c = GetParam();
    Regex regex(c.pattern);
    ASSERT_TRUE(regex.ok()) << regex.error();
    RegexMatch match;
    ASSERT_TRUE(regex.search(c.text, match));
    ASSERT_EQ(match.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
        if (c.expected[i] == nullptr) {
            EXPECT_FALSE(match.matched(i)) << "subexpression " << i;
        } else {
            EXPECT_TRUE(match.matched(i)) << "subexpression " << i;
            EXPECT_EQ(match.str(i), c.expected[i]) << "subexpression " << i;
        }
    }
}

// The delimited-term pattern of the configuration reader: the longer,
// delimited reading must win, with its inner text in subexpression 4.
const String kDelimited = "^(([^ \t]*)|(\\(([^()]*)[()]))[ \t]*(.*)";

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexSubexpressions,
    ::testing::Values(
        SubexpressionCase{"DelimitedBeatsShorterUndelimited",
                          kDelimited,
                          "(a b)c",
                          {"(a b)c", "(a b)", nullptr, "(a b)", "a b", "c"}},
        SubexpressionCase{"TieGoesToFirstAlternative",
                          kDelimited,
                          "(ab) x",
                          {"(ab) x", "(ab)", "(ab)", nullptr, nullptr, "x"}},
        SubexpressionCase{
            "EarlierSubexpressionTakesLongest", "^(a*)(a*)(b?)$", "aaa", {"aaa", "aaa", "", ""}},
        SubexpressionCase{"EmptyMatchBeatsNoMatch", "^(x*)(.*)$", "abc", {"abc", "", "abc"}},
        SubexpressionCase{
            "UnusedAlternativeTakesNoPart", "^((a)|(b))$", "b", {"b", "b", nullptr, "b"}},
        // Inside a bracket expression a backslash stands for itself.
        SubexpressionCase{
            "BackslashIsLiteralInBrackets", "^([^\\[]+)(.*)", "ab\\[c", {"ab\\[c", "ab", "\\[c"}}),
    [](const auto& info) { return String(info.param.name); });

TEST(Regex, InvalidPatternReportsAndMatchesNothing) {
    Regex regex("(unclosed");
    EXPECT_FALSE(regex.ok());
    EXPECT_FALSE(regex.error().empty());
    EXPECT_FALSE(regex.matches("(unclosed"));
}

TEST(Regex, MatchingIgnoresAUtf8Locale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    String saved = previous ? previous : "C";
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    Regex regex("^([^ \t]+)=(.*)$");
    RegexMatch match;
    bool found = regex.search("caf\xc3\xa9=cr\xe8me", match);
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_TRUE(found);
    EXPECT_EQ(match.str(1), "caf\xc3\xa9");
    EXPECT_EQ(match.str(2), "cr\xe8me");
}

TEST(Regex, NonAsciiBytesInPatternAreLiteral) {
    Regex regex("^\xe8([^\xe8]*)\xe8");
    ASSERT_TRUE(regex.ok()) << regex.error();
    RegexMatch match;
    ASSERT_TRUE(regex.search("\xe8x y\xe8z", match));
    EXPECT_EQ(match.str(1), "x y");
}

TEST(Regex, TextMayHoldNulBytes) {
    Regex regex("^([^=]+)=(.*)");
    RegexMatch match;
    String text("k\0ey=v\0al", 9);
    ASSERT_TRUE(regex.search(text, match));
    EXPECT_EQ(match.str(1), String("k\0ey", 4));
    EXPECT_EQ(match.str(2), String("v\0al", 4));
    EXPECT_FALSE(Regex("^[ \t]*$").matches(String("\0x", 2))) << "NUL is no end of text";
    EXPECT_TRUE(Regex(String("^a\0", 3)).matches(String("a\0", 2)));
}

TEST(RegexIterator, YieldsSuccessiveMatchesLeftToRight) {
    Regex term("(\\$\\{([^}]+)\\})|([^ \t$][^ \t]*)[ \t]*");
    String text = "${A}${B} plain x$y";
    RegexIterator it(term, text);
    RegexMatch match;
    std::vector<String> found;
    while (it.next(match)) found.push_back(match.matched(2) ? "env:" + match.str(2) : match.str(3));
    EXPECT_EQ(found, (std::vector<String>{"env:A", "env:B", "plain", "x$y"}));
}

TEST(RegexIterator, AnchorMatchesOnlyAtTheStart) {
    Regex regex("^a");
    String text = "aaa";
    RegexIterator it(regex, text);
    RegexMatch match;
    EXPECT_TRUE(it.next(match));
    EXPECT_FALSE(it.next(match));
}

}  // namespace

#include <gtest/gtest.h>

#include <clocale>

#include "platform/Regex.h"
#include "platform/RegexIterator.h"

namespace {

// The delimited-term pattern of the configuration reader: the longer,
// delimited reading must win, with its inner text in subexpression 4.
const String kDelimited = "^(([^ \t]*)|(\\(([^()]*)[()]))[ \t]*(.*)";

TEST(Regex, SubexpressionsFollowThePosixRule) {
    struct Case {
        const char* label;
        String pattern;
        String text;
        // Expected text per subexpression number; nullptr: took no part.
        std::vector<const char*> expected;
    };
    const Case cases[] = {
        {"DelimitedBeatsShorterUndelimited",
         kDelimited,
         "(a b)c",
         {"(a b)c", "(a b)", nullptr, "(a b)", "a b", "c"}},
        {"TieGoesToFirstAlternative",
         kDelimited,
         "(ab) x",
         {"(ab) x", "(ab)", "(ab)", nullptr, nullptr, "x"}},
        {"EarlierSubexpressionTakesLongest", "^(a*)(a*)(b?)$", "aaa", {"aaa", "aaa", "", ""}},
        {"EmptyMatchBeatsNoMatch", "^(x*)(.*)$", "abc", {"abc", "", "abc"}},
        {"UnusedAlternativeTakesNoPart", "^((a)|(b))$", "b", {"b", "b", nullptr, "b"}},
        // Inside a bracket expression a backslash stands for itself.
        {"BackslashIsLiteralInBrackets", "^([^\\[]+)(.*)", "ab\\[c", {"ab\\[c", "ab", "\\[c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Regex regex(c.pattern);
        ASSERT_TRUE(regex.ok()) << regex.error();
        RegexMatch match;
        ASSERT_TRUE(regex.search(c.text, match));
        ASSERT_EQ(match.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(match.matched(i) ? match.str(i) : "<none>",
                      c.expected[i] ? c.expected[i] : "<none>")
                << "subexpression " << i;
    }
}

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

TEST(Regex, NulIsNoEndOfTextOrPattern) {
    EXPECT_FALSE(Regex("^[ \t]*$").matches(String("\0x", 2)));
    EXPECT_TRUE(Regex(String("^a\0", 3)).matches(String("a\0", 2)));
    EXPECT_FALSE(Regex(String("^a\0", 3)).matches(String("a", 1)));
}

// (Successive matches are compared with the configuration reader's own
// term scanner in TermScannerTest.)
TEST(RegexIterator, AnAnchorMatchesOnlyAtTheStartOfTheText) {
    Regex anchored("^a");
    String letters = "aaa";
    RegexIterator once(anchored, letters);
    RegexMatch match;
    EXPECT_TRUE(once.next(match));
    EXPECT_FALSE(once.next(match));
}

}  // namespace

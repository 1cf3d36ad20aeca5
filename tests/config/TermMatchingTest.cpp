#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "config/ConfigurationParser.h"
#include "config/TermDelimiters.h"
#include "platform/RegexIterator.h"

namespace {

// The term and the rest of the text, or nothing when no term can be read.
using Reading = std::optional<std::pair<String, String>>;

// The term as the whole-text match of the documented pattern gives it; the
// parser matches only a front of the text, which must not change the result.
Reading wholeTextReading(const String& text, const String& termPattern, const String& repeat,
                         const String& restPattern) {
    String pattern = "^" + termPattern + restPattern;
    std::size_t termSub = 1, innerSub = 0, restSub = 2;
    if (!text.empty() && !std::isalnum(static_cast<unsigned char>(text[0]))) {
        term_delimiters d = term_delimiters::forCharacter(text[0]);
        pattern = "^(" + termPattern + "|(" + d.openingPattern() + "(" + d.innerPattern() + repeat +
                  ")" + d.closingPattern() + "))" + restPattern;
        termSub = 2, innerSub = 4, restSub = 5;
    }
    RegexMatch match;
    if (!Regex(pattern).search(text, match)) return std::nullopt;
    return std::pair(match.matched(termSub) ? match.str(termSub) : match.str(innerSub),
                     match.str(restSub));
}

Reading parserReading(const String& text, const String& termPattern, const String& repeat,
                      const String& restPattern) {
    std::string_view view(text);
    String term;
    if (!ConfigurationParser::extract_term(view, termPattern, repeat, restPattern, 0, term))
        return std::nullopt;
    return std::pair(term, String(view));
}

TEST(ExtractTerm, FrontMatchAgreesWithWholeTextMatch) {
    const String alphabet = "ab  \t==()[]{}<>\\\"'^-";
    std::mt19937 random(20240531);
    for (int round = 0; round < 10000; ++round) {
        String text;
        std::size_t length = random() % 16;
        for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        // The parser never hands over a text that starts with a blank.
        if (!text.empty() && (text[0] == ' ' || text[0] == '\t')) text[0] = 'a';
        EXPECT_EQ(parserReading(text, "([^ \t=]+)", "+", "[ \t]*=[ \t]*(.*)"),
                  wholeTextReading(text, "([^ \t=]+)", "+", "[ \t]*=[ \t]*(.*)"))
            << "key of '" << text << "'";
        EXPECT_EQ(parserReading(text, "([^ \t]*)", "*", "[ \t]*(.*)"),
                  wholeTextReading(text, "([^ \t]*)", "*", "[ \t]*(.*)"))
            << "value of '" << text << "'";
        if (HasFailure()) break;
    }
}

// Each match as "<subexpression>:<text>|", the subexpression telling the kind.
String describe(const RegexMatch& match) {
    for (std::size_t i : {3, 5, 6})
        if (match.matched(i)) return std::to_string(i) + ":" + match.str(i) + "|";
    return "none|";
}

TEST(TermPieces, PiecewiseMatchingAgreesWithOneIteration) {
    const String alphabet = "ab    \t$$${}()\\";
    Regex termRegex(ConfigurationParser::precedenceExpressionRE);
    std::mt19937 random(77);
    for (int round = 0; round < 40; ++round) {
        String text;
        std::size_t length = 9000 + random() % 9000;
        for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        String whole, pieces;
        RegexIterator terms(termRegex, text);
        RegexMatch match;
        while (terms.next(match)) whole += describe(match);
        ConfigurationParser::forEachTerm(text, [&](const RegexMatch& m) {
            pieces += describe(m);
            return true;
        });
        ASSERT_EQ(pieces, whole) << "round " << round;
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <random>

#include "config/ConfigurationParser.h"
#include "config/TermDelimiters.h"
#include "platform/RegexIterator.h"

namespace {

// What one reading of a parameter line gives: its type and selector, then
// each key, each value (or each term of a "$" expression) and the error that
// ends the line, as text.
using CutTerm = std::function<bool(std::string_view&, bool key, String& term)>;
using Terms = std::function<String(const String& expression)>;

// A "$" expression term as "<subexpression>:<text>|", the subexpression
// telling the kind.
String describe(const RegexMatch& match) {
    for (std::size_t i : {3, 5, 6})
        if (match.matched(i)) return std::to_string(i) + ":" + match.str(i) + "|";
    return "none|";
}

String transcript(std::string_view pairs, const CutTerm& cut, const Terms& terms) {
    String out;
    for (int counter = 1; !pairs.empty(); ++counter) {
        String key, value;
        if (!cut(pairs, true, key)) return out + "no key " + std::to_string(counter);
        out += "k:" + key + "|";
        if (pairs.front() == '$') return out + terms(String(pairs));
        if (!cut(pairs, false, value)) return out + "no value " + std::to_string(counter);
        out += "v:" + value + "|";
    }
    return out;
}

// The matcher the scanner replaced: the documented patterns, compiled and
// matched as regular expressions over the whole text.
String regexReading(const String& line) {
    static const Regex parameter("^[ \t]*([^ \t]+)[ \t]+([^ \t]+)[ \t]*:[ \t]*(.*)");
    RegexMatch m;
    if (!parameter.search(line, m)) return "no parameter line";
    CutTerm cut = [](std::string_view& text, bool key, String& term) {
        String pattern = key ? "([^ \t=]+)" : "([^ \t]*)",
               rest = key ? "[ \t]*=[ \t]*(.*)" : "[ \t]*(.*)";
        std::size_t termSub = 1, innerSub = 0, restSub = 2;
        if (!text.empty() && !std::isalnum(static_cast<unsigned char>(text[0]))) {
            term_delimiters d = term_delimiters::forCharacter(text[0]);
            pattern = "(" + pattern + "|(" + d.openingPattern() + "(" + d.innerPattern() +
                      (key ? "+" : "*") + ")" + d.closingPattern() + "))";
            termSub = 2, innerSub = 4, restSub = 5;
        }
        RegexMatch match;
        String whole(text);
        if (!Regex("^" + pattern + rest).search(whole, match)) return false;
        term = match.matched(termSub) ? match.str(termSub) : match.str(innerSub);
        text.remove_prefix(match.start(restSub));
        return true;
    };
    Terms terms = [](const String& expression) {
        static const Regex term(ConfigurationParser::precedenceExpressionRE);
        String out;
        RegexIterator each(term, expression);
        RegexMatch match;
        while (each.next(match)) out += describe(match);
        return out;
    };
    String pairs = m.str(3);
    return m.str(1) + " " + m.str(2) + ": " + transcript(pairs, cut, terms);
}

String scannerReading(const String& line) {
    ConfigurationParser::ParameterParts parts;
    if (!ConfigurationParser::parameterParts(line, parts)) return "no parameter line";
    CutTerm cut = [](std::string_view& text, bool key, String& term) {
        return key ? ConfigurationParser::extract_term(text, ConfigurationParser::keyTerm, "+",
                                                       ConfigurationParser::keyRest, 0, term)
                   : ConfigurationParser::extract_term(text, ConfigurationParser::valueTerm, "*",
                                                       ConfigurationParser::valueRest, 0, term);
    };
    Terms terms = [](const String& expression) {
        String out;
        ConfigurationParser::forEachTerm(expression, [&](const RegexMatch& match) {
            out += describe(match);
            return true;
        });
        return out;
    };
    return String(parts.type) + " " + String(parts.selector) + ": " +
           transcript(parts.pairs, cut, terms);
}

// Lines of random pieces: words, blanks, "=", every delimiter opened and
// closed in any order (nested, unbalanced), quotes, backslashes, "$" terms,
// colons, and bytes no pattern names.
TEST(TermScanner, ReadsLinesAsTheRegularExpressionsDo) {
    const char* const pieces[] = {"a",  "bc", " ", "  ", "\t", "=",  "=", "(",    ")",  "[",
                                  "]",  "{",  "}", "<",  ">",  "\"", "'", "\\",   "$",  "${",
                                  "$(", "}",  ":", ":",  "#",  "^",  "-", "\xff", "k=", "=("};
    std::mt19937 random(4242);
    for (int round = 0; round < 4000; ++round) {
        String line = random() % 8 ? "t s" : "";
        std::size_t length = random() % 24;
        for (std::size_t i = 0; i < length; ++i) {
            if (i == 2 && random() % 2) line += " : ";
            line += pieces[random() % std::size(pieces)];
        }
        if (random() % 16 == 0) line += String(1, '\0') + "x";
        ASSERT_EQ(scannerReading(line), regexReading(line)) << "line '" << line << "'";
    }
}

// forEachTerm matches a bounded piece of the text at a time; it must find
// what one iteration over the whole text finds, in short texts of glued terms
// and in texts far longer than a piece.
TEST(TermScanner, FindsTheTermsOfOneIterationOverTheWholeText) {
    Regex termRegex(ConfigurationParser::precedenceExpressionRE);
    std::mt19937 random(4321);
    for (int round = 0; round < 20040 && !HasFailure(); ++round) {
        const String alphabet = round < 20000 ? "ab$$${}()\\ \t" : "ab    \t$$${}()\\";
        std::size_t length = round < 20000 ? random() % 24 : 9000 + random() % 9000;
        String text, whole, pieces;
        for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        RegexIterator terms(termRegex, text);
        for (RegexMatch match; terms.next(match);) whole += describe(match);
        ConfigurationParser::forEachTerm(text, [&](const RegexMatch& match) {
            pieces += describe(match);
            return true;
        });
        EXPECT_EQ(pieces, whole) << "round " << round << ": '" << text.substr(0, 100) << "'";
    }
}

}  // namespace

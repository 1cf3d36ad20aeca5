#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>

#include "config/ConfigurationParser.h"
#include "config/TermDelimiters.h"
#include "config/TermScanner.h"
#include "platform/Process.h"

const String ConfigurationParser::precedenceExpressionRE =
    "((\\$\\{([^}]+)\\})|(\\$\\(([^\\)]+)\\))|([^ \t$][^ \t]*))[ \t]*";

namespace {

// The output of a command term is its first line, at most this long.
constexpr std::size_t commandLineLimit = 1023;

// Letters and digits of the C locale, whatever locale the process set.
bool isAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Term patterns depend on the term's first character only, so there are few
// of them; compiling each once keeps parsing cheap. Entries are never removed,
// so references stay valid.
const Regex& compiled(const String& pattern) {
    static std::mutex& mutex = *new std::mutex;
    static auto& cache = *new std::map<String, std::unique_ptr<Regex>>;
    std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<Regex>& entry = cache[pattern];
    if (!entry) entry = std::make_unique<Regex>(pattern);
    return *entry;
}

// The first line of a command's output, read in bounded form: whatever the
// command writes after it is left in the pipe and discarded by the close.
String readFirstLine(FILE* pipe) {
    String line;
    int c;
    while (line.size() < commandLineLimit && (c = std::getc(pipe)) != EOF) {
        line += static_cast<char>(c);
        if (c == '\n') break;
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

// Appends the first output line of command; false when it can't be started.
bool runCommand(const String& command, String& result, unsigned long debugLevel) {
    FILE* pipe = Process::popen(command, "r");
    if (!pipe) return false;
    if (debugLevel != 0) std::cerr << "found command = " << command << std::flush;
    String line = readFirstLine(pipe);
    if (debugLevel != 0) std::cerr << ", resolves to: " << line << std::endl;
    result += line;
    Process::pclose(pipe);
    return true;
}

// Finds the successive matches of the term pattern in an expression without
// a regular expression. A match starts at the first character that is not a
// blank and not "$", or at an earlier "${" or "$(" that forms a term: "${"
// with at least one character before the first "}" after it; "$(" with at
// least one character before the first ")" or backslash after it, that one
// being a ")". A plain-text term runs to the first blank, and every term
// takes the blanks after it. The first closing characters after an opener
// are remembered, which keeps the scan linear however many openers share
// them. Matches must be asked for from left to right.
class TermHorizon {
  public:
    explicit TermHorizon(const String& text) : text_(text) {}

    // The first match at or after from, as the subexpressions of the term
    // pattern give it; false when there is none.
    bool next(std::size_t from, RegexMatch& match) {
        std::size_t size = text_.size();
        for (std::size_t i = from; i < size; ++i) {
            char c = text_[i];
            if (c == ' ' || c == '\t') continue;
            if (c != '$') {
                std::size_t end = std::min(text_.find_first_of(" \t", i), size);
                return found(match, i, end, 6, i, end);
            }
            std::size_t close = i + 1 < size ? closeOf(i) : String::npos;
            if (close != String::npos && close > i + 2) {
                std::size_t group = text_[i + 1] == '{' ? 2 : 4;
                return found(match, i, close + 1, group + 1, i + 2, close);
            }
        }
        return false;
    }

  private:
    // Fills match for a term over [start, end) whose innermost subexpression
    // is sub over [inner, innerEnd); the blanks after the term end the match.
    bool found(RegexMatch& match, std::size_t start, std::size_t end, std::size_t sub,
               std::size_t inner, std::size_t innerEnd) const {
        std::size_t matchEnd = blanksFrom(end);
        match.reset(text_, start, matchEnd, 7);
        match.set(0, start, matchEnd);
        match.set(1, start, end);
        if (sub != 6) match.set(sub - 1, start, end);
        match.set(sub, inner, innerEnd);
        return true;
    }

    // Where a term opened at i may close: the first "}" after "${", the first
    // ")" after "$(" unless a backslash comes first; npos otherwise.
    std::size_t closeOf(std::size_t i) {
        char opener = text_[i + 1];
        if (opener == '{') return envClose_ = firstOf(envClose_, i + 2, "}");
        if (opener != '(') return String::npos;
        commandStop_ = firstOf(commandStop_, i + 2, ")\\");
        return commandStop_ != String::npos && text_[commandStop_] == ')' ? commandStop_
                                                                          : String::npos;
    }

    // The first of `characters` at or after from; `known`, found for an
    // earlier from, is still that answer when it is npos or not before from.
    std::size_t firstOf(std::size_t known, std::size_t from, const char* characters) const {
        if (known == String::npos || known >= from) return known;
        return text_.find_first_of(characters, from);
    }

    std::size_t blanksFrom(std::size_t at) const {
        return std::min(text_.find_first_not_of(" \t", at), text_.size());
    }

    const String& text_;
    std::size_t envClose_ = 0;
    std::size_t commandStop_ = 0;
};

// The pattern a term is cut by, as the trace shows it: "^", the term
// pattern and the rest pattern, or, for a text that begins with a character
// other than a letter or digit, the term pattern or the delimited form.
String termPatternFor(std::string_view text, const String& termPattern, const String& repeat,
                      const String& restPattern, unsigned long debugLevel) {
    if (text.empty() || isAlphanumeric(text[0])) return "^" + termPattern + restPattern;
    term_delimiters delimiters = term_delimiters::forCharacter(text[0]);
    if (debugLevel > 100)
        std::cerr << "\tstart/stop delimiters: '" << delimiters.start << "'/'" << delimiters.stop
                  << "'" << std::endl;
    return "^(" + termPattern + "|(" + delimiters.openingPattern() + "(" +
           delimiters.innerPattern() + repeat + ")" + delimiters.closingPattern() + "))" +
           restPattern;
}

// A term pattern other than the key's and the value's: matched as a regular
// expression over the whole text.
bool matchTerm(std::string_view& text, const Regex& regex, bool delimitable, String& term,
               bool& delimited) {
    std::size_t termSub = delimitable ? 2 : 1, innerSub = 4, restSub = delimitable ? 5 : 2;
    RegexMatch match;
    if (!regex.search(String(text), match)) return false;
    delimited = !match.matched(termSub);
    term = delimited ? match.str(innerSub) : match.str(termSub);
    text.remove_prefix(match.matched(restSub) ? match.start(restSub) : match.end(0));
    return true;
}

}  // namespace

const String ConfigurationParser::keyTerm = "([^ \t=]+)";
const String ConfigurationParser::keyRest = "[ \t]*=[ \t]*(.*)";
const String ConfigurationParser::valueTerm = "([^ \t]*)";
const String ConfigurationParser::valueRest = "[ \t]*(.*)";

bool ConfigurationParser::extract_term(std::string_view& text, const String& termPattern,
                                       const String& repeat, const String& restPattern,
                                       unsigned long debugLevel, String& term) {
    TermScanner scanner(text);
    return extract_term(scanner, text, termPattern, repeat, restPattern, debugLevel, term);
}

bool ConfigurationParser::extract_term(TermScanner& scanner, std::string_view& text,
                                       const String& termPattern, const String& repeat,
                                       const String& restPattern, unsigned long debugLevel,
                                       String& term) {
    // Callers pass the patterns themselves, so the addresses decide without
    // comparing the long pattern texts for every term.
    auto same = [](const String& a, const String& b) { return &a == &b || a == b; };
    bool key = same(termPattern, keyTerm) && repeat == "+" && same(restPattern, keyRest);
    bool value = same(termPattern, valueTerm) && repeat == "*" && same(restPattern, valueRest);
    // The pattern text is made only when it is shown or really matched.
    const Regex* regex = nullptr;
    if (debugLevel != 0 || !(key || value)) {
        regex = &compiled(termPatternFor(text, termPattern, repeat, restPattern, debugLevel));
        if (debugLevel != 0) {
            std::cerr << "termRE error:  '" << regex->error() << "'" << std::endl;
            std::cerr << "\t" << regex->pattern() << std::endl;
        }
    }
    bool delimited = false;
    bool found =
        key || value
            ? scanner.cut(text, key ? TermScanner::Key : TermScanner::Value, term, delimited)
            : matchTerm(text, *regex, !text.empty() && !isAlphanumeric(text[0]), term, delimited);
    if (!found) return false;
    if (debugLevel != 0) {
        std::cerr << "term='" << term << "', " << (delimited ? "delimited" : "undelimited")
                  << std::endl;
        std::cerr << "params='" << text << "'" << std::endl;
    }
    return true;
}

void ConfigurationParser::forEachTerm(const String& expression,
                                      const std::function<bool(const RegexMatch&)>& visit) {
    TermHorizon horizon(expression);
    RegexMatch match;
    for (std::size_t from = 0; from < expression.size() && horizon.next(from, match);
         from = match.end(0))
        if (!visit(match)) return;
}

bool ConfigurationParser::parse_precedence(const String& expression, String& result,
                                           unsigned long debugLevel) {
    if (debugLevel != 0)
        std::cerr << "parse_precedence"
                  << "() - ParamExpression=" << expression << std::endl;
    bool failed = false;
    forEachTerm(expression, [&](const RegexMatch& match) {
        if (match.matched(3)) {
            if (const char* value = Process::getenv(match.str(3))) result += value;
            if (debugLevel != 0) std::cerr << "found env = " << match.str(3) << std::endl;
        } else if (match.matched(5)) {
            if (!runCommand(match.str(5), result, debugLevel)) {
                result.clear();
                std::cerr << "Can't execute:  '" << match.str(5) << "'" << std::endl;
                return false;
            }
        } else if (match.matched(6)) {
            result += match.str(6);
            if (debugLevel != 0) std::cerr << "found plain-text = " << match.str(6) << std::endl;
        } else {
            failed = true;
            return false;
        }
        return true;
    });
    if (failed) {
        result.clear();
        if (debugLevel > 10)
            std::cerr << "parse_precedence"
                      << "() - ParamExpression=" << expression << " can't be parsed, returing false"
                      << std::endl;
        return false;
    }
    if (debugLevel > 10)
        std::cerr << "parse_precedence"
                  << "() - ParamExpression=" << expression << " parsed, returing true" << std::endl;
    return true;
}

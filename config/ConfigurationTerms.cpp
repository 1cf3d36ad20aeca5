#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>

#include "config/ConfigurationParser.h"
#include "config/TermDelimiters.h"
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

bool isBlankOrEquals(char c) {
    return c == ' ' || c == '\t' || c == '=';
}

// How much of the front of text can decide the next term: the undelimited
// reading ends by the first blank, the delimited one at the first closing
// character (without one it cannot match at all), and the rest pattern then
// takes only blanks and "="; one more character settles where those end.
// Matching just this front gives the same term as matching the whole text,
// without rescanning the rest of a long line for every pair.
std::size_t decidingLength(std::string_view text) {
    std::size_t size = text.size();
    std::size_t end = text.find_first_of(" \t");
    if (end == std::string_view::npos) return size;
    if (!isAlphanumeric(text[0])) {
        term_delimiters delimiters = term_delimiters::forCharacter(text[0]);
        std::size_t close = 1;
        while (close < size && !delimiters.closes(text[close])) ++close;
        if (close < size) end = std::max(end, close + 1);
    }
    while (end < size && isBlankOrEquals(text[end])) ++end;
    return std::min(end + 1, size);
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

// Tells where the next match of the term pattern ends, so that the matcher is
// handed only the text that decides it: a search over the whole rest of an
// expression costs its whole length, which made long expressions quadratic.
// A match can start only at a character other than a blank or "$", or at a
// "${" or "$(" that forms a term: "${" with at least one character before the
// first "}" after it; "$(" with at least one character before the first ")"
// or backslash after it, that one being a ")". A plain-text term runs to the
// first blank, and every term takes the blanks after it. The first closing
// characters after an opener are remembered, which keeps the scan linear
// however many openers share them. Ends must be asked for from left to right.
class TermHorizon {
  public:
    explicit TermHorizon(const String& text) : text_(text) {}

    // The end of the first match at or after from, or npos when there is none.
    std::size_t matchEnd(std::size_t from) {
        std::size_t size = text_.size();
        for (std::size_t i = from; i < size; ++i) {
            char c = text_[i];
            if (c == ' ' || c == '\t') continue;
            if (c != '$') return blanksFrom(std::min(text_.find_first_of(" \t", i), size));
            std::size_t close = i + 1 < size ? closeOf(i) : String::npos;
            if (close != String::npos && close > i + 2) return blanksFrom(close + 1);
        }
        return String::npos;
    }

  private:
    // Where a term opened at i may close: the first "}" after "${", the first
    // ")" after "$(" unless a backslash comes first; npos otherwise.
    std::size_t closeOf(std::size_t i) {
        char opener = text_[i + 1];
        if (opener == '{') return envClose_ = next(envClose_, i + 2, "}");
        if (opener != '(') return String::npos;
        commandStop_ = next(commandStop_, i + 2, ")\\");
        return commandStop_ != String::npos && text_[commandStop_] == ')' ? commandStop_
                                                                          : String::npos;
    }

    // The first of `characters` at or after from; `known`, found for an
    // earlier from, is still that answer when it is npos or not before from.
    std::size_t next(std::size_t known, std::size_t from, const char* characters) const {
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

}  // namespace

bool ConfigurationParser::extract_term(std::string_view& text, const String& termPattern,
                                       const String& repeat, const String& restPattern,
                                       unsigned long debugLevel, String& term) {
    String front(text.substr(0, decidingLength(text)));
    String pattern = "^" + termPattern + restPattern;
    std::size_t termSub = 1, innerSub = 0, restSub = 2;
    if (!front.empty() && !isAlphanumeric(front[0])) {
        term_delimiters delimiters = term_delimiters::forCharacter(front[0]);
        if (debugLevel > 100)
            std::cerr << "\tstart/stop delimiters: '" << delimiters.start << "'/'"
                      << delimiters.stop << "'" << std::endl;
        pattern = "^(" + termPattern + "|(" + delimiters.openingPattern() + "(" +
                  delimiters.innerPattern() + repeat + ")" + delimiters.closingPattern() + "))" +
                  restPattern;
        termSub = 2, innerSub = 4, restSub = 5;
    }
    const Regex& regex = compiled(pattern);
    if (debugLevel != 0) {
        std::cerr << "termRE error:  '" << regex.error() << "'" << std::endl;
        std::cerr << "\t" << regex.pattern() << std::endl;
    }
    RegexMatch match;
    if (!regex.search(front, match)) return false;
    bool undelimited = match.matched(termSub);
    term = undelimited ? match.str(termSub) : match.str(innerSub);
    text.remove_prefix(match.matched(restSub) ? match.start(restSub) : match.end(0));
    if (debugLevel != 0) {
        std::cerr << "term='" << term << "', " << (undelimited ? "undelimited" : "delimited")
                  << std::endl;
        std::cerr << "params='" << text << "'" << std::endl;
    }
    return true;
}

void ConfigurationParser::forEachTerm(const String& expression,
                                      const std::function<bool(const RegexMatch&)>& visit) {
    static const Regex& termRegex = *new Regex(precedenceExpressionRE);
    TermHorizon horizon(expression);
    RegexMatch match;
    String window;
    for (std::size_t from = 0; from < expression.size();) {
        std::size_t end = horizon.matchEnd(from);
        if (end == String::npos) return;
        // The window reaches exactly as far as the match, so the matcher
        // decides the term as it would over the whole rest of the text.
        window.assign(expression, from, end - from);
        if (!termRegex.search(window, match) || !visit(match)) return;
        from += match.end(0);
    }
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

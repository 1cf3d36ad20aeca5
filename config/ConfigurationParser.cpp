#include "config/ConfigurationParser.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>

#include "config/TermDelimiters.h"
#include "config/VantorConfigurationInfo.h"
#include "platform/FileSystem.h"
#include "platform/LineReader.h"
#include "platform/Process.h"
#include "platform/RegexIterator.h"
#include "platform/Symbol.h"

const String ConfigurationParser::precedenceExpressionRE =
    "((\\$\\{([^}]+)\\})|(\\$\\(([^\\)]+)\\))|([^ \t$][^ \t]*))[ \t]*";

namespace {

const String commentPattern = "^[ \t]*(#.*$|$)";
const String parameterPattern = "^[ \t]*([^ \t]+)[ \t]+([^ \t]+)[ \t]*:[ \t]*(.*)";
const String keyTerm = "([^ \t=]+)";
const String keyRest = "[ \t]*=[ \t]*(.*)";
const String valueTerm = "([^ \t]*)";
const String valueRest = "[ \t]*(.*)";

// The output of a command term is its first line, at most this long.
constexpr std::size_t commandLineLimit = 1023;

String precedencePattern() {
    return "^[ \t]*precedence[ \t]+([^ \t]+)[ \t]+((" +
           ConfigurationParser::precedenceExpressionRE + ")+)$";
}

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

// Long expressions are matched in pieces of at least this many bytes.
constexpr std::size_t termPieceMinimum = 4096;

// Finds where an expression may be cut between terms, so that each piece is
// matched (and copied by the matcher) on its own. A plain-text term never
// holds a blank, but a ${...} or $(...) term can, so a blank is a cut only
// when every "${" or "$(" before it that could form a term closes before it.
// The first closing character after an opener is remembered, which keeps the
// scan linear however many openers share it. Cuts must be asked for from
// left to right.
class TermPieces {
  public:
    explicit TermPieces(const String& text) : text_(text) {}

    // The end of the piece that starts at from: just after a run of blanks at
    // least `minimum` bytes on, or the end of the text.
    std::size_t cut(std::size_t from, std::size_t minimum) {
        std::size_t size = text_.size(), blockedUntil = from;
        for (std::size_t i = from; i < size; ++i) {
            char c = text_[i];
            if (c == '$' && i + 1 < size && (text_[i + 1] == '{' || text_[i + 1] == '(')) {
                std::size_t close = closeOf(i);
                if (close != String::npos) blockedUntil = std::max(blockedUntil, close + 1);
            } else if ((c == ' ' || c == '\t') && i >= from + minimum && i >= blockedUntil) {
                return std::min(text_.find_first_not_of(" \t", i), size);
            }
        }
        return size;
    }

  private:
    // Where a term opened at i would end, or npos when none can: an
    // environment name stops at the first "}", a command at the first ")" or
    // backslash (and only a ")" closes it).
    std::size_t closeOf(std::size_t i) {
        if (text_[i + 1] == '{') return envClose_ = next(envClose_, i + 2, "}");
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

    const String& text_;
    std::size_t envClose_ = 0;
    std::size_t commandStop_ = 0;
};

}  // namespace

ConfigurationParser::ConfigurationParser(VantorConfigurationInfo& info, const Path& file)
    : info_(info),
      file_(file),
      debugLevel_(info.debugLevel),
      comment_(commentPattern),
      precedence_(precedencePattern()),
      parameter_(parameterPattern) {}

bool ConfigurationParser::parse() {
    FileStream in;
    if (!open(in)) return false;
    if (debugLevel_ > 100) {
        std::cerr << "paramtypeRE error:  '" << parameter_.error() << "'" << std::endl;
        std::cerr << "\t" << parameter_.pattern() << std::endl;
    }
    String line;
    while (LineReader::read(in, line) != LineReader::NoLine) {
        ++lineNumber_;
        if (debugLevel_ != 0)
            std::cerr << "line " << lineNumber_ << ": '" << line << "'" << std::endl;
        parseLine(line);
    }
    // A read error must not pass for the end of a shorter file.
    if (in.bad()) {
        int error = errno;
        std::cerr << "Can't read Configuration File:  " << file_ << " after line " << lineNumber_
                  << ", errno=" << error << " (" << std::strerror(error) << ")" << std::endl;
        return false;
    }
    if (!found_) {
        std::cerr << "Can't find configuration" << std::endl;
        return false;
    }
    return ok_;
}

bool ConfigurationParser::open(FileStream& in) {
    int error = 0;
    if (!in.open(file_, std::ios::in)) {
        error = errno;
    } else {
        // A directory opens but reads nothing; say so rather than report an
        // empty configuration.
        struct stat info;
        if (FileSystem::fstat(in.fd(), &info) == 0 && S_ISDIR(info.st_mode)) error = EISDIR;
    }
    if (error == 0) return true;
    std::cerr << "Can't open Configuration File:  " << file_ << ", errno=" << error << " ("
              << std::strerror(error) << ")" << std::endl;
    return false;
}

void ConfigurationParser::parseLine(const String& line) {
    // The first two patterns can only match with "#", the end of the text or
    // "precedence" after the leading blanks; skipping them otherwise saves
    // most of the matching.
    std::size_t text = std::min(line.find_first_not_of(" \t"), line.size());
    bool maybeComment = text == line.size() || line[text] == '#';
    bool maybePrecedence = line.compare(text, 10, "precedence") == 0;
    RegexMatch match;
    if (maybeComment && comment_.search(line, match)) return;
    if (maybePrecedence && precedence_.search(line, match)) {
        precedenceLine(match.str(1), match.str(2), line);
    } else if (parameter_.search(line, match)) {
        parameterLine(match.str(1), match.str(2), match.str(3), line);
    } else {
        error(line, String());
    }
}

void ConfigurationParser::precedenceLine(const String& type, const String& expression,
                                         const String& line) {
    Symbol name(type);
    if (info_.types.count(name) != 0) {
        // The expression is deliberately not resolved: its commands must not run.
        error(line, "Duplicate Parameter/Precedence Type:  " + type);
        return;
    }
    auto* db = new VantorConfigurationInfoDB(name, expression, debugLevel_);
    if (debugLevel_ != 0)
        std::cerr << "precedence " << type << "=" << db->paramValue() << " in slot "
                  << info_.slotCount << std::endl;
    info_.types[name] = db;
    info_.slots.push_back(db);
    ++info_.slotCount;
}

void ConfigurationParser::parameterLine(const String& type, const String& selector,
                                        const String& pairs, const String& line) {
    auto entry = info_.types.find(Symbol(type));
    if (entry == info_.types.end()) {
        error(line, "Unknown parameter type: " + type);
        return;
    }
    if (debugLevel_ != 0)
        std::cerr << "Found an entry for " << type << ", found_type=" << selector << std::endl;
    // Lines for other values of the type are not examined at all, so their
    // pairs may be malformed without an error.
    if (selector != entry->second->paramValue()) return;
    readPairs(*entry->second, pairs, line);
}

void ConfigurationParser::readPairs(VantorConfigurationInfoDB& db, const String& pairs,
                                    const String& line) {
    if (debugLevel_ > 100) std::cerr << "params:  '" << pairs << "'" << std::endl;
    // Pairs are collected apart so that a line in error stores none of them.
    std::map<Symbol, String> stored;
    unsigned long counter = 0;
    std::string_view text(pairs);
    while (!text.empty()) {
        ++counter;
        String key, value;
        if (!extract_term(text, keyTerm, "+", keyRest, debugLevel_, key)) {
            error(line, "key for pair " + std::to_string(counter));
            return;
        }
        if (!readValue(text, value)) {
            error(line, "value for pair " + std::to_string(counter));
            return;
        }
        if (debugLevel_ != 0)
            std::cerr << "key='" << key << "', value='" << value << "'" << std::endl;
        stored[Symbol(key)] = value;
    }
    if (stored.empty()) return;
    found_ = true;
    for (const auto& [key, value] : stored) db.params()[key] = value;
}

bool ConfigurationParser::readValue(std::string_view& text, String& value) {
    if (!text.empty() && text.front() == '$') {
        String expression(text);
        text.remove_prefix(text.size());
        return parse_precedence(expression, value, debugLevel_);
    }
    return extract_term(text, valueTerm, "*", valueRest, debugLevel_, value);
}

void ConfigurationParser::error(const String& line, const String& reason) {
    report_parse_error(file_, lineNumber_, line, reason);
    ok_ = false;
}

void ConfigurationParser::report_parse_error(const Path& file, unsigned long lineNumber,
                                             const String& line, const String& reason) {
    std::cerr << file << " Can't parse ";
    if (!reason.empty()) std::cerr << reason << " on ";
    std::cerr << "line:  " << lineNumber << ", line is:" << std::endl;
    std::cerr << line << std::endl;
}

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
    RegexMatch match;
    auto iterate = [&](const String& text) {
        RegexIterator terms(termRegex, text);
        while (terms.next(match))
            if (!visit(match)) return false;
        return true;
    };
    TermPieces pieces(expression);
    std::size_t to = pieces.cut(0, termPieceMinimum);
    if (to == expression.size()) {
        iterate(expression);
        return;
    }
    for (std::size_t from = 0; from < expression.size(); from = to) {
        if (from != 0) to = pieces.cut(from, termPieceMinimum);
        if (!iterate(expression.substr(from, to - from))) return;
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

#pragma once

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Path.h"
#include "platform/Regex.h"
#include "platform/String.h"
#include "platform/Symbol.h"

class ConfigurationFile;
class TermScanner;
class VantorConfigurationInfo;
class VantorConfigurationInfoDB;

// Parses one configuration-parameter file into a reader. Only a regular file
// is read (a FIFO, device or directory is refused at once, without waiting).
// The file is read a line at a time (a last line without newline too); a line
// longer than ConfigurationFile::lineLimit bytes is a parse error, reported
// with its beginning only. Otherwise each line is, by the first pattern that
// matches:
//   - a comment ("#" first) or blank line, skipped;
//   - "precedence TYPE EXPRESSION": declares TYPE, whose value is EXPRESSION
//     resolved now (environment terms ${NAME}, command terms $(COMMAND) giving
//     the first line of the command's output, plain text), in the next slot;
//   - "TYPE SELECTOR : key=value ...": pairs that take effect only when
//     SELECTOR equals TYPE's resolved value;
//   - anything else: a parse error.
// A key or value that begins with a non-alphanumeric character may be
// delimited ("(my key)=1", "k=[a b]"), which matters only when the inner text
// holds a blank (or "=" in a key). A value that begins with "$" is an
// expression taking the rest of the line.
//
// Every diagnostic goes to standard error, one line each, flushed; the debug
// level of the reader selects them (0: failures only; above 0: per-line and
// per-term tracing; above 10: expression results; above 100: patterns).
// A parse error is reported with the file, line number and line; the line is
// ignored and parsing goes on. Commands run on the caller's thread, which
// keeps the run token while they run.
class ConfigurationParser {
  public:
    // The term of an expression: subexpression 3 an environment variable's
    // name, 5 a command, 6 a plain text; trailing blanks belong to no term.
    static const String precedenceExpressionRE;
    // The term and rest patterns of a pair's key and value.
    static const String keyTerm, keyRest, valueTerm, valueRest;

    // Parses file into info, which must not be delegating.
    ConfigurationParser(VantorConfigurationInfo& info, const Path& file);
    // True when the file opened, no line was in error and a pair was stored.
    bool parse();

    // Appends the resolved terms of expression to result. A command that
    // can't be started empties result, is reported, and ends the resolution,
    // which still succeeds. False only for a match of no known term kind.
    static bool parse_precedence(const String& expression, String& result,
                                 unsigned long debugLevel);
    // Visits the matches of the term pattern in expression from left to right,
    // with the subexpressions and texts that one RegexIterator over the whole
    // expression yields, until visit returns false. Each match is made over
    // just the text that decides it (offsets in it count from where that text
    // starts), so the cost grows with the length, not with length times terms.
    static void forEachTerm(const String& expression,
                            const std::function<bool(const RegexMatch&)>& visit);
    // Cuts one key or value off the front of text: "^", termPattern and
    // restPattern, or, when the text begins with a non-alphanumeric character,
    // that term or the delimited form (repeat applied to the inner text),
    // whichever covers more. On true, term is the term (inner text when
    // delimited) and text what restPattern's last subexpression left. The
    // key's and the value's patterns are read by a TermScanner (linear in the
    // text); any other pattern is matched as a regular expression.
    static bool extract_term(std::string_view& text, const String& termPattern,
                             const String& repeat, const String& restPattern,
                             unsigned long debugLevel, String& term);
    // The same with the scanner of the whole pairs text that text is the
    // rest of, so that cutting every term of a line stays linear.
    static bool extract_term(TermScanner& scanner, std::string_view& text,
                             const String& termPattern, const String& repeat,
                             const String& restPattern, unsigned long debugLevel, String& term);
    // The subexpressions of the parameter-line pattern
    // "^[ \t]*([^ \t]+)[ \t]+([^ \t]+)[ \t]*:[ \t]*(.*)", found without a
    // regular expression: false when the line does not match. All three
    // are views into line.
    struct ParameterParts {
        std::string_view type, selector, pairs;
    };
    static bool parameterParts(std::string_view line, ParameterParts& parts);
    // Writes "<file> Can't parse [<reason> on ]line:  <n>, line is:" and the
    // line itself.
    static void report_parse_error(const Path& file, unsigned long lineNumber, const String& line,
                                   const String& reason);

  private:
    bool open(ConfigurationFile& in);
    // Reports a line longer than ConfigurationFile::lineLimit, showing its
    // beginning only.
    void tooLong(const String& line);
    void parseLine(const String& line);
    void precedenceLine(const String& type, const String& expression, const String& line);
    void parameterLine(const String& line);
    // The precedence type named type, or null; the last one found is kept,
    // since the lines of one type usually come together.
    VantorConfigurationInfoDB* findType(std::string_view type);
    void readPairs(VantorConfigurationInfoDB& db, std::string_view pairs, const String& line);
    bool readValue(TermScanner& scanner, std::string_view& text, String& value);
    void error(const String& line, const String& reason);

    VantorConfigurationInfo& info_;
    Path file_;
    unsigned long debugLevel_;
    unsigned long lineNumber_ = 0;
    bool found_ = false;
    bool ok_ = true;
    Regex comment_;
    Regex precedence_;
    // Shown at the highest debug level; lines are split by parameterParts.
    Regex parameter_;
    VantorConfigurationInfoDB* lastType_ = nullptr;
    // The pairs of the line being read, kept between lines so that a line
    // costs no allocation for them.
    std::vector<std::pair<Symbol, String>> pairs_;
};

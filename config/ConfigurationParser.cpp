#include "config/ConfigurationParser.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <vector>

#include "config/ConfigurationFile.h"
#include "config/TermScanner.h"
#include "config/VantorConfigurationInfo.h"
#include "platform/Symbol.h"

namespace {

const String commentPattern = "^[ \t]*(#.*$|$)";
const String parameterPattern = "^[ \t]*([^ \t]+)[ \t]+([^ \t]+)[ \t]*:[ \t]*(.*)";

// How much of a line over the limit its report shows.
constexpr std::size_t tooLongShown = 256;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

String precedencePattern() {
    return "^[ \t]*precedence[ \t]+([^ \t]+)[ \t]+((" +
           ConfigurationParser::precedenceExpressionRE + ")+)$";
}

}  // namespace

// The type is the first word and must be followed by a blank; the selector
// is the whole second word when blanks and ":" follow it, else the second
// word up to its last ":" (at least one character before it); the pairs
// start after that ":" and its blanks.
bool ConfigurationParser::parameterParts(std::string_view line, ParameterParts& parts) {
    std::size_t size = line.size(), at = 0;
    while (at < size && isBlank(line[at])) ++at;
    std::size_t type = at;
    while (at < size && !isBlank(line[at])) ++at;
    if (at == type || at == size) return false;
    parts.type = line.substr(type, at - type);
    while (at < size && isBlank(line[at])) ++at;
    std::size_t selector = at;
    while (at < size && !isBlank(line[at])) ++at;
    if (at == selector) return false;
    std::size_t word = at, colon = at;
    while (colon < size && isBlank(line[colon])) ++colon;
    if (colon == size || line[colon] != ':') {
        colon = line.rfind(':', word - 1);
        if (colon == std::string_view::npos || colon <= selector) return false;
        word = colon;
    }
    parts.selector = line.substr(selector, word - selector);
    std::size_t pairs = colon + 1;
    while (pairs < size && isBlank(line[pairs])) ++pairs;
    parts.pairs = line.substr(pairs);
    return true;
}

ConfigurationParser::ConfigurationParser(VantorConfigurationInfo& info, const Path& file)
    : info_(info),
      file_(file),
      debugLevel_(info.debugLevel),
      comment_(commentPattern),
      precedence_(precedencePattern()),
      parameter_(parameterPattern) {}

bool ConfigurationParser::parse() {
    ConfigurationFile in;
    if (!open(in)) return false;
    if (debugLevel_ > 100) {
        std::cerr << "paramtypeRE error:  '" << parameter_.error() << "'" << std::endl;
        std::cerr << "\t" << parameter_.pattern() << std::endl;
    }
    String line;
    ConfigurationFile::Result result;
    while ((result = in.read(line)) != ConfigurationFile::NoLine &&
           result != ConfigurationFile::Failed) {
        ++lineNumber_;
        if (result == ConfigurationFile::TooLong) {
            tooLong(line);
            continue;
        }
        if (debugLevel_ != 0)
            std::cerr << "line " << lineNumber_ << ": '" << line << "'" << std::endl;
        parseLine(line);
    }
    // A read error must not pass for the end of a shorter file.
    if (result == ConfigurationFile::Failed) {
        std::cerr << "Can't read Configuration File:  " << file_ << " after line " << lineNumber_
                  << ", errno=" << in.error() << " (" << std::strerror(in.error()) << ")"
                  << std::endl;
        return false;
    }
    if (!found_) {
        std::cerr << "Can't find configuration" << std::endl;
        return false;
    }
    return ok_;
}

bool ConfigurationParser::open(ConfigurationFile& in) {
    int error = in.open(file_);
    if (error == 0) return true;
    std::cerr << "Can't open Configuration File:  " << file_;
    if (error == ConfigurationFile::notRegular)
        std::cerr << ", not a regular file" << std::endl;
    else
        std::cerr << ", errno=" << error << " (" << std::strerror(error) << ")" << std::endl;
    return false;
}

void ConfigurationParser::tooLong(const String& line) {
    error(line.substr(0, tooLongShown) + "...",
          "line longer than " + std::to_string(ConfigurationFile::lineLimit) + " bytes");
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
    if (maybePrecedence && precedence_.search(line, match))
        precedenceLine(match.str(1), match.str(2), line);
    else
        parameterLine(line);
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

void ConfigurationParser::parameterLine(const String& line) {
    ParameterParts parts;
    if (!parameterParts(line, parts)) {
        error(line, String());
        return;
    }
    VantorConfigurationInfoDB* db = findType(parts.type);
    if (db == nullptr) {
        error(line, "Unknown parameter type: " + String(parts.type));
        return;
    }
    if (debugLevel_ != 0)
        std::cerr << "Found an entry for " << parts.type << ", found_type=" << parts.selector
                  << std::endl;
    // Lines for other values of the type are not examined at all, so their
    // pairs may be malformed without an error.
    if (parts.selector != db->paramValue()) return;
    readPairs(*db, parts.pairs, line);
}

VantorConfigurationInfoDB* ConfigurationParser::findType(std::string_view type) {
    if (lastType_ != nullptr && lastType_->paramType().text() == type) return lastType_;
    auto entry = info_.types.find(Symbol(String(type)));
    if (entry == info_.types.end()) return nullptr;
    return lastType_ = entry->second;
}

void ConfigurationParser::readPairs(VantorConfigurationInfoDB& db, std::string_view pairs,
                                    const String& line) {
    if (debugLevel_ > 100) std::cerr << "params:  '" << pairs << "'" << std::endl;
    // Pairs are collected apart so that a line in error stores none of them;
    // stored in order, a later pair of the line wins over an earlier one.
    pairs_.clear();
    unsigned long counter = 0;
    std::string_view text(pairs);
    TermScanner scanner(pairs);
    while (!text.empty()) {
        ++counter;
        String key, value;
        if (!extract_term(scanner, text, keyTerm, "+", keyRest, debugLevel_, key)) {
            error(line, "key for pair " + std::to_string(counter));
            return;
        }
        if (!readValue(scanner, text, value)) {
            error(line, "value for pair " + std::to_string(counter));
            return;
        }
        if (debugLevel_ != 0)
            std::cerr << "key='" << key << "', value='" << value << "'" << std::endl;
        pairs_.emplace_back(Symbol(key), std::move(value));
    }
    if (pairs_.empty()) return;
    found_ = true;
    for (auto& [key, value] : pairs_) db.params()[key] = std::move(value);
}

bool ConfigurationParser::readValue(TermScanner& scanner, std::string_view& text, String& value) {
    if (!text.empty() && text.front() == '$') {
        String expression(text);
        text.remove_prefix(text.size());
        return parse_precedence(expression, value, debugLevel_);
    }
    return extract_term(scanner, text, valueTerm, "*", valueRest, debugLevel_, value);
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

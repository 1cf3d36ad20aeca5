#include "config/TermDelimiters.h"

#include <algorithm>

namespace {

const std::vector<term_delimiters> delimiterTable = {
    term_delimiters('(', "\\(", "\\(\\)"),
    term_delimiters('[', "\\[", "\\[\\]"),
    term_delimiters('{', "\\{", "\\{\\}"),
    term_delimiters('<', "<", "<>"),
};

// Writes a set of characters as the body of a bracket expression that holds
// exactly those characters. POSIX gives "]" a literal meaning only first,
// "^" only when not first, "-" only first or last, and "[" followed by ".",
// "=" or ":" opens a class; ordering the set as "]", the rest, "[", "^", "-"
// avoids every one of these readings.
String bracketBody(const String& characters, bool negated) {
    String set;
    for (char c : characters)
        if (set.find(c) == String::npos) set += c;
    String body;
    auto take = [&](char c) {
        if (set.find(c) != String::npos) body += c;
    };
    take(']');
    for (char c : set)
        if (c != ']' && c != '[' && c != '^' && c != '-') body += c;
    take('[');
    take('^');
    take('-');
    // A lone "^" (or "^-") would be read as negation when it comes first.
    if (!negated && !body.empty() && body[0] == '^')
        std::rotate(body.begin(), body.begin() + 1, body.end());
    return body;
}

}  // namespace

term_delimiters::term_delimiters(char delimiter, const String& start, const String& stop)
    : delimiter(delimiter), start(start), stop(stop) {}

const std::vector<term_delimiters>& term_delimiters::table() {
    return delimiterTable;
}

term_delimiters term_delimiters::forCharacter(char c) {
    for (const term_delimiters& row : delimiterTable)
        if (row.delimiter == c) return row;
    String escaped = String("\\") + c;
    return term_delimiters(c, escaped, escaped);
}

String term_delimiters::openingPattern() const {
    for (const term_delimiters& row : delimiterTable)
        if (row.delimiter == delimiter) return start;
    if (delimiter == '^') return "\\^";
    return "[" + bracketBody(String(1, delimiter), false) + "]";
}

String term_delimiters::innerPattern() const {
    return "[^" + bracketBody(stop, true) + "]";
}

String term_delimiters::closingPattern() const {
    String body = bracketBody(stop, false);
    // "^" alone cannot be written as a bracket expression.
    if (body == "^") return "\\^";
    return "[" + body + "]";
}

bool term_delimiters::closes(char ch) const {
    return stop.find(ch) != String::npos;
}

#pragma once

#include <vector>

#include "platform/String.h"

// How a key or value that begins with a non-alphanumeric character may be
// delimited in a parameter line: `start` is the pattern of the opening
// delimiter, `stop` the characters that close it (no character of `stop` may
// occur in the inner text). A backslash in `stop` stands for itself, so it
// closes as well. The texts are kept as written in the table, since the
// parser's debug output shows them that way; the *Pattern operations give the
// regular-expression pieces that really match them.
struct term_delimiters {
    term_delimiters(char delimiter, const String& start, const String& stop);

    char delimiter;
    String start;
    String stop;

    // The row for a first character c: the table's row when c has one,
    // otherwise start and stop are both a backslash followed by c.
    static term_delimiters forCharacter(char c);
    // The fixed rows for "(", "[", "{" and "<", filled when the module loads.
    static const std::vector<term_delimiters>& table();

    // A pattern matching exactly the opening character. A table row's start is
    // used as written; for other characters a bracket expression is used,
    // because TRE reads some escapes ("\<", "\>") as assertions.
    String openingPattern() const;
    // "[^...]": any character that is not one of the stop characters.
    String innerPattern() const;
    // "[...]": exactly one of the stop characters.
    String closingPattern() const;
    // Whether ch is one of the stop characters.
    bool closes(char ch) const;
};

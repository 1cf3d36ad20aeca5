#pragma once

#include <memory>

#include "platform/RegexMatch.h"
#include "platform/String.h"

// A POSIX extended regular expression, matched by the POSIX rule: the
// leftmost-longest match, each parenthesised subexpression from left to right
// taking the longest text consistent with the whole match, an empty match
// beating no match. Matching is byte-exact and does not depend on the process
// locale; text and pattern may hold any byte, NUL included.
// Every pattern is compiled with the same case sensitivity (case-sensitive).
//
// A pattern that does not compile yields a Regex whose ok() is false and
// whose error() tells why; it matches nothing. A Regex is immutable after
// construction and may be used from several threads.
class Regex {
  public:
    explicit Regex(const String& pattern);
    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    bool ok() const { return error_.empty(); }
    // The compiler's error text; empty when the pattern compiled.
    const String& error() const { return error_; }
    const String& pattern() const { return pattern_; }
    // Number of parenthesised subexpressions.
    std::size_t subexpressions() const { return nsub_; }

    // Searches text from byte offset `from` on; fills `match` and returns true
    // when the pattern matches there or further on. Offsets in the match are
    // offsets into `text`. When from is not 0, "^" does not match at from.
    bool search(const String& text, RegexMatch& match, std::size_t from = 0) const;
    // Whether the pattern matches somewhere in text.
    bool matches(const String& text) const;

  private:
    struct Compiled;
    String pattern_;
    String error_;
    std::size_t nsub_ = 0;
    std::unique_ptr<Compiled> compiled_;
};

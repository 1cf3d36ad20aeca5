#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/String.h"

// Cuts keys and values off the front of the pairs text of a parameter line,
// by the rule the term patterns state, without a regular expression:
//   key:   "^(([^ \t=]+)|(<open>([^<stop>]+)[<stop>]))[ \t]*=[ \t]*(.*)"
//   value: "^(([^ \t]*)|(<open>([^<stop>]*)[<stop>]))[ \t]*(.*)"
// where the delimited alternative exists only when the text begins with a
// character other than a letter or digit (its row of term_delimiters gives
// the closing characters). Of the readings that let the rest match, the one
// covering more text wins, the undelimited one on a tie; the rest of the text
// then starts after the blanks (and, for a key, the "=" and its blanks).
//
// One scanner serves one text from left to right: where each kind of
// delimiter closes next is remembered, so cutting every term of a line costs
// time linear in the line, whatever the terms begin with.
class TermScanner {
  public:
    enum Kind { Key, Value };

    explicit TermScanner(std::string_view text);

    // Cuts one term of the kind off rest, which must be a suffix of the text
    // given at construction. On true, term is the key or value (the inner
    // text when delimited), delimited tells which reading won, and rest is
    // what follows. On false (no reading fits) nothing changes.
    bool cut(std::string_view& rest, Kind kind, String& term, bool& delimited);

  private:
    // The first character at or after from that closes a term opened by
    // opener, or the text's size when none does.
    std::size_t closer(std::size_t from, char opener);
    // Where the rest starts after a term that ends at end, or npos when the
    // rest pattern does not match there.
    std::size_t restAfter(std::size_t end, Kind kind) const;

    std::string_view text_;
    // Per opening character: a closer found earlier (valid while it is not
    // before the position asked about), or unknown_.
    std::array<std::size_t, 256> closers_;
    static constexpr std::size_t unknown_ = static_cast<std::size_t>(-1);
};

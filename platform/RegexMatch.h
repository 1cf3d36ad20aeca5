#pragma once

#include <cstddef>
#include <vector>

#include "platform/String.h"

// The outcome of one Regex match: for the whole match (0) and each numbered
// subexpression, whether it took part and which bytes it covered. Holds a copy
// of the matched bytes only (not the whole text searched), so it stays valid
// after the text goes away and a search of a long text costs no copy of it.
class RegexMatch {
  public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Number of slots (subexpressions + 1); 0 before a successful match.
    std::size_t size() const { return spans_.size(); }
    // Whether subexpression i took part in the match (an empty text counts).
    bool matched(std::size_t i) const { return i < spans_.size() && spans_[i].start != npos; }
    // Its text; empty when it took no part.
    String str(std::size_t i) const;
    std::size_t start(std::size_t i) const { return matched(i) ? spans_[i].start : npos; }
    std::size_t end(std::size_t i) const { return matched(i) ? spans_[i].end : npos; }

    // Starts a match of text[start, end) with `slots` slots, none set yet.
    void reset(const String& text, std::size_t start, std::size_t end, std::size_t slots);
    void set(std::size_t i, std::size_t start, std::size_t end);

  private:
    struct Span {
        std::size_t start = npos;
        std::size_t end = npos;
    };
    String matched_;  // text[base_, base_ + matched_.size())
    std::size_t base_ = 0;
    std::vector<Span> spans_;
};

#pragma once

#include "platform/Regex.h"

// Yields the successive matches of one pattern over a text, from left to
// right; each search starts where the previous match ended (one byte further
// after an empty match). Neither the Regex nor the text is owned: both must
// outlive the iterator.
class RegexIterator {
  public:
    RegexIterator(const Regex& regex, const String& text) : regex_(regex), text_(text) {}

    // Fills match with the next match; false when there is none.
    bool next(RegexMatch& match);

  private:
    const Regex& regex_;
    const String& text_;
    std::size_t position_ = 0;
    bool done_ = false;
};

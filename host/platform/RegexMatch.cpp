#include "platform/RegexMatch.h"

String RegexMatch::str(std::size_t i) const {
    if (!matched(i)) return String();
    return matched_.substr(spans_[i].start - base_, spans_[i].end - spans_[i].start);
}

void RegexMatch::reset(const String& text, std::size_t start, std::size_t end, std::size_t slots) {
    base_ = start;
    matched_.assign(text, start, end - start);
    spans_.assign(slots, Span{});
}

void RegexMatch::set(std::size_t i, std::size_t start, std::size_t end) {
    // Subexpressions lie inside the whole match.
    if (i < spans_.size() && start >= base_ && end <= base_ + matched_.size())
        spans_[i] = Span{start, end};
}

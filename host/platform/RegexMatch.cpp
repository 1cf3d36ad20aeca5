#include "platform/RegexMatch.h"

String RegexMatch::str(std::size_t i) const {
    if (!matched(i)) return String();
    return text_.substr(spans_[i].start, spans_[i].end - spans_[i].start);
}

void RegexMatch::reset(const String& text, std::size_t slots) {
    text_ = text;
    spans_.assign(slots, Span{});
}

void RegexMatch::set(std::size_t i, std::size_t start, std::size_t end) {
    if (i < spans_.size()) spans_[i] = Span{start, end};
}

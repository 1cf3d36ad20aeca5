#include "config/TermScanner.h"

#include "config/TermDelimiters.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Letters and digits of the C locale, whatever locale the process set.
bool isAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

TermScanner::TermScanner(std::string_view text) : text_(text) {
    closers_.fill(unknown_);
}

std::size_t TermScanner::closer(std::size_t from, char opener) {
    std::size_t& known = closers_[static_cast<unsigned char>(opener)];
    if (known != unknown_ && known >= from) return known;
    term_delimiters delimiters = term_delimiters::forCharacter(opener);
    std::size_t at = from;
    while (at < text_.size() && !delimiters.closes(text_[at])) ++at;
    return known = at;
}

std::size_t TermScanner::restAfter(std::size_t end, Kind kind) const {
    std::size_t size = text_.size();
    while (end < size && isBlank(text_[end])) ++end;
    if (kind == Value) return end;
    if (end == size || text_[end] != '=') return std::string_view::npos;
    ++end;
    while (end < size && isBlank(text_[end])) ++end;
    return end;
}

bool TermScanner::cut(std::string_view& rest, Kind kind, String& term, bool& delimited) {
    constexpr std::size_t none = std::string_view::npos;
    std::size_t start = static_cast<std::size_t>(rest.data() - text_.data());
    std::size_t size = text_.size();

    // Undelimited: the whole run of allowed characters (a shorter run would
    // leave an allowed character where the rest pattern needs a blank or "=").
    std::size_t plainEnd = start;
    while (plainEnd < size && !isBlank(text_[plainEnd]) &&
           (kind == Value || text_[plainEnd] != '='))
        ++plainEnd;
    std::size_t plainRest = none;
    if (kind == Value || plainEnd > start) plainRest = restAfter(plainEnd, kind);

    // Delimited: the opening character, the inner text up to the first
    // closing character (at least one character for a key), that character.
    std::size_t close = none, closedRest = none;
    if (start < size && !isAlphanumeric(text_[start])) {
        std::size_t at = closer(start + 1, text_[start]);
        if (at < size && (kind == Value || at > start + 1)) {
            close = at;
            closedRest = restAfter(close + 1, kind);
        }
    }

    if (plainRest != none && (closedRest == none || plainEnd >= close + 1)) {
        term.assign(text_.data() + start, plainEnd - start);
        delimited = false;
        rest = text_.substr(plainRest);
        return true;
    }
    if (closedRest == none) return false;
    term.assign(text_.data() + start + 1, close - start - 1);
    delimited = true;
    rest = text_.substr(closedRest);
    return true;
}

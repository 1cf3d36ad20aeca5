#pragma once

#include <ostream>
#include <string_view>

#include "platform/String.h"

// An interned name. Two symbols are equal exactly when their texts are equal,
// and that test is one pointer comparison. Ordering follows the text, so maps
// keyed by Symbol iterate in text order and every process visits names alike.
// The default symbol is the empty name. Interned texts live until the process
// ends; interning is thread-safe.
class Symbol {
  public:
    Symbol();
    explicit Symbol(const String& text);
    // Interns the bytes without building a String when they are interned
    // already.
    explicit Symbol(std::string_view text);
    Symbol(const char* text);

    const String& text() const { return *text_; }
    operator const String&() const { return *text_; }
    bool empty() const { return text_->empty(); }
    std::size_t length() const { return text_->size(); }

    friend bool operator==(Symbol a, Symbol b) { return a.text_ == b.text_; }
    friend bool operator<(Symbol a, Symbol b) { return a.text_ != b.text_ && *a.text_ < *b.text_; }

  private:
    const String* text_;
};

std::ostream& operator<<(std::ostream& out, Symbol symbol);

#include "platform/Symbol.h"

#include <mutex>
#include <unordered_set>

namespace {

// Never destroyed: symbols held by static objects may be used during exit.
struct InternTable {
    std::mutex mutex;
    std::unordered_set<String> texts;
};

InternTable& table() {
    static InternTable* t = new InternTable;
    return *t;
}

const String* intern(const String& text) {
    InternTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return &*t.texts.insert(text).first;
}

const String* emptyText() {
    static const String* empty = intern(String());
    return empty;
}

}  // namespace

Symbol::Symbol() : text_(emptyText()) {}
Symbol::Symbol(const String& text) : text_(text.empty() ? emptyText() : intern(text)) {}
Symbol::Symbol(const char* text) : Symbol(String(text ? text : "")) {}

std::ostream& operator<<(std::ostream& out, Symbol symbol) {
    return out << symbol.text();
}

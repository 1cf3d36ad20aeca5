#include "platform/Regex.h"

#include <tre/tre.h>

#include <cstring>
#include <vector>

// TRE works on wide characters. Each byte of the pattern and of the text is
// handed over as one character whose code is the byte's value, never through
// the locale's multibyte conversion: that keeps matching byte-exact (a UTF-8
// locale would refuse bytes that are not valid UTF-8) and admits NUL bytes.

struct Regex::Compiled {
    regex_t re;
};

namespace {

constexpr tre_char_t kNulCode = 0x100;

tre_char_t code(char byte) {
    unsigned char value = static_cast<unsigned char>(byte);
    return value == 0 ? kNulCode : static_cast<tre_char_t>(value);
}

struct ByteSource {
    const unsigned char* bytes;
    std::size_t size;
    std::size_t pos;
};

int nextChar(tre_char_t* c, unsigned int* pos_add, void* context) {
    auto* src = static_cast<ByteSource*>(context);
    *pos_add = 1;
    if (src->pos >= src->size) {
        *c = 0;
        return 1;
    }
    *c = code(static_cast<char>(src->bytes[src->pos++]));
    return 0;
}

void rewind(std::size_t pos, void* context) {
    static_cast<ByteSource*>(context)->pos = pos;
}

int compare(std::size_t pos1, std::size_t pos2, std::size_t len, void* context) {
    auto* src = static_cast<ByteSource*>(context);
    if (pos1 + len > src->size || pos2 + len > src->size) return 1;
    return std::memcmp(src->bytes + pos1, src->bytes + pos2, len);
}

}  // namespace

Regex::Regex(const String& pattern) : pattern_(pattern), compiled_(new Compiled) {
    std::vector<wchar_t> wide(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) wide[i] = code(pattern[i]);
    int rc = tre_regwncomp(&compiled_->re, wide.data(), wide.size(), REG_EXTENDED);
    if (rc != REG_OK) {
        char buffer[256];
        tre_regerror(rc, &compiled_->re, buffer, sizeof buffer);
        error_ = buffer;
        if (error_.empty()) error_ = "invalid regular expression";
        compiled_.reset();
        return;
    }
    nsub_ = compiled_->re.re_nsub;
}

Regex::~Regex() {
    if (compiled_) tre_regfree(&compiled_->re);
}

bool Regex::search(const String& text, RegexMatch& match, std::size_t from) const {
    if (!compiled_ || from > text.size()) return false;
    ByteSource src{reinterpret_cast<const unsigned char*>(text.data()) + from, text.size() - from,
                   0};
    tre_str_source source{nextChar, rewind, compare, &src};
    std::vector<regmatch_t> slots(nsub_ + 1);
    int rc = tre_reguexec(&compiled_->re, &source, slots.size(), slots.data(),
                          from == 0 ? 0 : REG_NOTBOL);
    if (rc != REG_OK) return false;
    match.reset(text, from + slots[0].rm_so, from + slots[0].rm_eo, slots.size());
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].rm_so >= 0 && slots[i].rm_eo >= slots[i].rm_so)
            match.set(i, from + slots[i].rm_so, from + slots[i].rm_eo);
    }
    return true;
}

bool Regex::matches(const String& text) const {
    RegexMatch match;
    return search(text, match);
}

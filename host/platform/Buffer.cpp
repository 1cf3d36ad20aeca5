#include "platform/Buffer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// The text without the blanks around it.
std::string trimmed(const char* text) {
    std::string s(text);
    std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    std::size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

int refuse(int& rval, int& ecode, int code) {
    rval = 3;
    ecode = code;
    return 1;
}

}  // namespace

void Buffer::reply(int fields) {
    if (fields < 0) fields = 0;
    if (fields > max_fields) fields = max_fields;
    // Keeps the capacity: a server answering many requests reuses it.
    for (std::string& field : reply_) field.clear();
    reply_.resize(static_cast<std::size_t>(fields));
    replyLast_ = fields == 0 ? -1 : std::min(fields, max_fields - 1);
}

int Buffer::in_long(int field, long minimum, long maximum, long& value, int& rval, int& ecode) {
    char* text = nullptr;
    if (in_field(field, text) != 0) return refuse(rval, ecode, ADM_UNREADABLE);
    std::string number = trimmed(text);
    if (number.empty()) return refuse(rval, ecode, ADM_NOT_A_NUMBER);
    errno = 0;
    char* end = nullptr;
    long read = std::strtol(number.c_str(), &end, 10);
    if (end == number.c_str() || *end != '\0') return refuse(rval, ecode, ADM_NOT_A_NUMBER);
    if (errno == ERANGE || read < minimum || read > maximum)
        return refuse(rval, ecode, ADM_OUT_OF_RANGE);
    value = read;
    return 0;
}

int Buffer::in_blong(int field, long minimum, long maximum, long& value, int& rval, int& ecode) {
    char* text = nullptr;
    if (in_field(field, text) != 0) return refuse(rval, ecode, ADM_UNREADABLE);
    if (trimmed(text).empty()) {
        value = -1;
        return 0;
    }
    return in_long(field, minimum, maximum, value, rval, ecode);
}

int Buffer::in_string(int field, STRING_CODE<char, char const*> const* table, char& code, int& rval,
                      int& ecode) {
    char* text = nullptr;
    if (in_field(field, text) != 0) return refuse(rval, ecode, ADM_UNREADABLE);
    std::string given = trimmed(text);
    for (const auto* row = table; row != nullptr && row->text != nullptr; ++row)
        if (given == row->text) {
            code = row->code;
            return 0;
        }
    return refuse(rval, ecode, ADM_NOT_IN_LIST);
}

int Buffer::out_long(int field, long value) {
    return out_field(field, std::to_string(value).c_str());
}

int Buffer::out_blong(int field, long value) {
    return value == -1 ? out_field(field, "") : out_long(field, value);
}

int Buffer::out_string(int field, STRING_CODE<char, char const*> const* table, char code) {
    for (const auto* row = table; row != nullptr && row->text != nullptr; ++row)
        if (row->code == code) return out_field(field, row->text);
    ++refused_;
    return 1;
}

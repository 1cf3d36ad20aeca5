#include "platform/Com_Buffer.h"

#include <cstring>

namespace {

bool inRange(int field, std::size_t size) {
    return field >= 0 && static_cast<std::size_t>(field) < size;
}

// Most answer fields are a letter or two (a right, a flag): counted here
// rather than through a library call each.
std::size_t lengthOf(const char* text) {
    std::size_t n = 0;
    while (n < 8 && text[n] != '\0') ++n;
    return n < 8 ? n : n + std::strlen(text + n);
}

}  // namespace

Com_Buffer::Com_Buffer() : request_(max_fields), readable_(max_fields, true) {}

Com_Buffer::~Com_Buffer() = default;

int Com_Buffer::in_field(int field, char*& text) {
    if (!inRange(field, request_.size()) || !readable_[static_cast<std::size_t>(field)]) return 1;
    text = request_[static_cast<std::size_t>(field)].data();
    return 0;
}

int Com_Buffer::out_field(int field, char const* text) {
    if (field < 0 || field > replyLast_ || text == nullptr) {
        ++refused_;
        return 1;
    }
    auto f = static_cast<std::size_t>(field);
    if (f >= reply_.size()) reply_.resize(f + 1);
    reply_[f].assign(text, lengthOf(text));
    return 0;
}

bool Com_Buffer::set_field(int field, const std::string& text) {
    if (!inRange(field, request_.size())) return false;
    auto f = static_cast<std::size_t>(field);
    request_[f] = std::string(text.c_str());
    readable_[f] = true;
    return true;
}

void Com_Buffer::set_unreadable(int field) {
    if (inRange(field, readable_.size())) readable_[static_cast<std::size_t>(field)] = false;
}

void Com_Buffer::clear() {
    for (std::string& field : request_) field.clear();
    readable_.assign(readable_.size(), true);
    reply_.clear();
    replyLast_ = -1;
    refused_ = 0;
}

const std::string& Com_Buffer::reply_field(int field) const {
    static const std::string none;
    return inRange(field, reply_.size()) ? reply_[static_cast<std::size_t>(field)] : none;
}

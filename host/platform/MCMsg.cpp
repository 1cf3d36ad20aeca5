#include "platform/MCMsg.h"

#include <new>

MCMsg::~MCMsg() = default;

bool MCMsg::allocate() {
    buffer_.reset(new (std::nothrow) Buffer());
    return buffer_ != nullptr;
}

void MCMsg::release() {
    buffer_.reset();
}

void MCMsg::opcode(int code) {
    if (buffer_) buffer_->opcode = code;
}

int MCMsg::opcode() const {
    return buffer_ ? buffer_->opcode : 0;
}

std::uint32_t* MCMsg::to() {
    return buffer_ ? buffer_->address : nullptr;
}
const std::uint32_t* MCMsg::to() const {
    return buffer_ ? buffer_->address : nullptr;
}
char* MCMsg::body() {
    return buffer_ ? buffer_->body : nullptr;
}
const char* MCMsg::body() const {
    return buffer_ ? buffer_->body : nullptr;
}

bool MCMsg::length(int bytes) {
    if (!buffer_ || bytes < 0 || static_cast<std::size_t>(bytes) > maxBody) return false;
    buffer_->length = bytes;
    return true;
}

int MCMsg::length() const {
    return buffer_ ? buffer_->length : 0;
}

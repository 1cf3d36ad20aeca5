#include "properties/PropertyValueString.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <new>
#include <ostream>
#include <utility>

#include "util/BlockPool.h"

namespace {

// Upper bound of one step of read().
constexpr unsigned long ReadStep = 8096;

}  // namespace

PropertyValueString::PropertyValueString() : store_{} {}

PropertyValueString::PropertyValueString(const String& bytes)
    : PropertyValueString(String(bytes)) {}

PropertyValueString::PropertyValueString(String&& bytes) : store_{} {
    if (bytes.size() <= InlineBytes) {
        std::memcpy(inlineBytes(), bytes.data(), bytes.size());
        length_ = static_cast<std::uint16_t>(bytes.size());
    } else {
        store_.text = new String(std::move(bytes));
        length_ = InlineBytes;
        room_ = Spilled;
    }
}

PropertyValueString::PropertyValueString(std::string_view bytes, std::size_t room)
    : length_(static_cast<std::uint16_t>(bytes.size())),
      room_(static_cast<std::uint16_t>(room)),
      store_{} {
    std::memcpy(inlineBytes(), bytes.data(), bytes.size());
}

PropertyValueString::~PropertyValueString() {
    delete spilled();
}

PropertyValueString* PropertyValueString::make(std::string_view bytes, std::size_t room) {
    room = std::max(room, bytes.size());
    // A value too big to keep in memory is not given room for all of it.
    if (room <= InlineBytes || room >= FileRequired) {
        auto* made = new PropertyValueString;
        made->modify(String(bytes), 0);
        return made;
    }
    std::size_t size = sizeof(PropertyValueString) - InlineBytes + room;
    return ::new (operator new(size)) PropertyValueString(bytes, room);
}

void* PropertyValueString::operator new(std::size_t size) {
    if (BlockPool::HeapChecked) return ::operator new(size);
    return BlockPool::values().allocate(size);
}

void PropertyValueString::operator delete(PropertyValueString* value, std::destroying_delete_t) {
    std::size_t size = value->blockBytes();
    value->~PropertyValueString();
    operator delete(value, size);
}

void PropertyValueString::operator delete(void* block, std::size_t size) {
    if (BlockPool::HeapChecked) return ::operator delete(block);
    BlockPool::releaseValue(block, size);
}

std::size_t PropertyValueString::blockBytes() const {
    return sizeof(PropertyValueString) - InlineBytes + (room_ == Spilled ? length_ : room_);
}

// The bytes in place begin at store_ and may run past it, into the rest of
// the block make() allocated.
const char* PropertyValueString::inlineBytes() const {
    return reinterpret_cast<const char*>(this) + (sizeof(PropertyValueString) - InlineBytes);
}

char* PropertyValueString::inlineBytes() {
    return reinterpret_cast<char*>(this) + (sizeof(PropertyValueString) - InlineBytes);
}

String* PropertyValueString::spilled() const {
    return room_ == Spilled ? store_.text : nullptr;
}

String& PropertyValueString::spill() {
    if (String* text = spilled()) return *text;
    auto* text = new String(inlineBytes(), length_);
    store_.text = text;
    length_ = room_;
    room_ = Spilled;
    return *text;
}

std::string_view PropertyValueString::bytes() const {
    if (const String* text = spilled()) return *text;
    return std::string_view(inlineBytes(), length_);
}

PropertyValueString::operator String() const {
    return String(bytes());
}

String PropertyValueString::get(unsigned long position, unsigned long count) const {
    std::string_view all = bytes();
    if (position > all.size()) return String();
    return String(all.substr(position, count));
}

void PropertyValueString::modify(const String& text, unsigned long position) {
    unsigned long kept = std::min(position, length());
    if (!spilled() && kept + text.size() <= room_) {
        std::memcpy(inlineBytes() + kept, text.data(), text.size());
        length_ = static_cast<std::uint16_t>(kept + text.size());
        return;
    }
    String& bytes = spill();
    bytes.resize(kept);
    bytes += text;
}

unsigned long PropertyValueString::length() const {
    if (const String* text = spilled()) return text->size();
    return length_;
}

bool PropertyValueString::read(std::istream& in, unsigned long count) {
    if (!spilled() && count <= room_) {
        in.read(inlineBytes(), static_cast<std::streamsize>(count));
        length_ = static_cast<std::uint16_t>(in.gcount());
        return static_cast<unsigned long>(in.gcount()) == count;
    }
    String& bytes = spill();
    bytes.clear();
    while (bytes.size() < count) {
        std::size_t have = bytes.size();
        std::size_t step = std::min<unsigned long>(ReadStep, count - have);
        bytes.resize(have + step);
        in.read(bytes.data() + have, static_cast<std::streamsize>(step));
        bytes.resize(have + static_cast<std::size_t>(in.gcount()));
        if (static_cast<std::size_t>(in.gcount()) < step) return false;
    }
    return true;
}

bool PropertyValueString::write(std::ostream& out) const {
    std::string_view all = bytes();
    out.write(all.data(), static_cast<std::streamsize>(all.size()));
    return true;
}

bool PropertyValueString::can_handle_size(unsigned long size) const {
    return size < FileRequired;
}

PropertyValueRepresentationBase* PropertyValueString::clone() const {
    return make(bytes());
}

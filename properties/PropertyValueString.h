#pragma once

#include <cstdint>
#include <new>
#include <string_view>

#include "platform/Export.h"
#include "platform/String.h"
#include "properties/PropertyValueRepresentationBase.h"

// A value held in memory. Holds values below FileRequired bytes.
//
// The bytes live in the representation's own allocation when it was made
// for their size (make()): a set read from a stream then costs one block per
// value, not a representation plus a string. Bytes that outgrow that room,
// and those of representations built with the constructors, move to a String
// of the representation's own. Which of the two holds them is invisible from
// outside.
class CFGADM_EXPORT PropertyValueString : public PropertyValueRepresentationBase {
  public:
    PropertyValueString();
    explicit PropertyValueString(const String& bytes);
    explicit PropertyValueString(String&& bytes);
    ~PropertyValueString() override;

    // A new representation (count 1, owned by the caller, released through
    // remove()) holding `bytes`, with room in place for `room` bytes (at
    // least the bytes' own length) so that a modify up to that size does not
    // allocate again.
    static PropertyValueString* make(std::string_view bytes, std::size_t room = 0);
    // make() allocates more than the class's size: every representation is
    // allocated through this form and freed through the destroying delete,
    // which learns the block's size from the representation before ending
    // it. Blocks come from BlockPool::values().
    static void* operator new(std::size_t size);
    static void operator delete(PropertyValueString* value, std::destroying_delete_t);
    // Frees the block of a representation whose constructor threw.
    static void operator delete(void* block, std::size_t size);

    operator String() const override;
    String get(unsigned long position, unsigned long count) const override;
    void modify(const String& text, unsigned long position) override;
    unsigned long length() const override;
    // Reads in bounded steps, so memory grows with the bytes that arrive, not
    // with `count`. True exactly when all `count` bytes were read.
    bool read(std::istream& in, unsigned long count) override;
    bool write(std::ostream& out) const override;

    bool can_handle_size(unsigned long size) const override;
    PropertyValueRepresentationBase* clone() const override;

    // The bytes, without a copy; valid until the value next changes.
    std::string_view bytes() const;

  private:
    // Room every representation has in place.
    static constexpr std::size_t InlineBytes = sizeof(String*);
    // room_ when the bytes live in a String (its pointer is kept in place).
    static constexpr std::uint16_t Spilled = 0xffff;

    PropertyValueString(std::string_view bytes, std::size_t room);

    const char* inlineBytes() const;
    char* inlineBytes();
    String* spilled() const;
    // Moves the bytes into a String of their own (a no-op when they are).
    String& spill();

    // Bytes this representation's block was made for.
    std::size_t blockBytes() const;

    // The length of the bytes in place; once they are spilled, the room
    // they had (the length is the String's), so that the block's size is
    // still known when it is freed.
    std::uint16_t length_ = 0;
    std::uint16_t room_ = InlineBytes;
    // Last: the bytes in place start here and run on past it when make()
    // allocated more.
    union {
        char bytes[InlineBytes];
        String* text;
    } store_;
};

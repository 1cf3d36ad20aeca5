#pragma once

#include <cstddef>
#include <cstdint>

// The platform's message store: numbered items (stored messages and their
// parts) with numbered text attributes.
//
// Result codes: 0 success; MSG_STORE_NO_ITEM when the item does not exist;
// MSG_STORE_NO_VALUE when the item exists but the attribute holds no value
// (the output then holds the empty text); MSG_STORE_BAD_ARGUMENT for a null
// pointer, a reading mode other than 3 or a value that is too long;
// MSG_STORE_TOO_LONG when a value does not fit the reading call's buffer
// (nothing but the empty text is written); MSG_STORE_IO_ERROR when the store
// cannot be read or written. None gives up the run token.

constexpr int MSG_STORE_OK = 0;
constexpr int MSG_STORE_IO_ERROR = 5;
constexpr int MSG_STORE_BAD_ARGUMENT = 22;
constexpr int MSG_STORE_TOO_LONG = 34;
constexpr int MSG_STORE_NO_ITEM = 1114;
constexpr int MSG_STORE_NO_VALUE = 1137;

// Buffer sizes, terminator included.
constexpr std::size_t ATTRIBUTE_SIZE = 256;       // ret_attribute
constexpr std::size_t LONG_ATTRIBUTE_SIZE = 512;  // ret_l_attribute; longest value stored

// The attribute that holds the path of a message's property file.
constexpr short MSG_ATTRIBS = 269;
// The update mode that leaves the message's change stamp alone.
constexpr int NO_CHANGE = 3;

// Reads an attribute of an item as text into out (at most ATTRIBUTE_SIZE
// bytes); `c` is the reading mode and must be 3.
int ret_attribute(long item, short attr, char* out, char c);
// The same for long attributes: out holds at most LONG_ATTRIBUTE_SIZE bytes.
int ret_l_attribute(long item, short attr, char* out, char c);
// Sets an attribute of a message: the empty text (or null) clears it. A value
// longer than LONG_ATTRIBUTE_SIZE - 1 is refused. Modes 0 to 3; every mode
// but NO_CHANGE also advances the message's change stamp.
int upd_msg(unsigned long msgid, short attr, const char* value, int mode);

// The platform's attribute record of a message. This module writes the three
// fields named here (the reply address located for a proxy reply); the rest
// of the layout belongs to the platform.
struct MSG_ATTRS {
    unsigned char head[92];
    std::int32_t user_id;  // offset 92
    unsigned char gap1[124 - 96];
    std::int16_t node;  // offset 124
    unsigned char gap2[472 - 126];
    char mailbox[11];  // offset 472: not terminated when the text has 11 characters or more
    unsigned char tail[512 - 483];
};
static_assert(offsetof(MSG_ATTRS, user_id) == 92);
static_assert(offsetof(MSG_ATTRS, node) == 124);
static_assert(offsetof(MSG_ATTRS, mailbox) == 472);
static_assert(sizeof(MSG_ATTRS) == 512);

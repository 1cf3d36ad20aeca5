#pragma once

#include "platform/Export.h"
#include "platform/MessageStore.h"
#include "platform/Path.h"
#include "platform/String.h"
#include "properties/MessageProperties.h"

// The property set of a stored message: a MessageProperties set in
// the file whose path the message store keeps in the message's attribute 269
// (MSG_ATTRIBS). Free functions for the platform's message-handling
// processes; none throws, failures are result codes and traces.

// Result codes.
constexpr int MSGPROP_OK = 0;
constexpr int MSGPROP_NO_PERMISSION = 13;
constexpr int MSGPROP_NODE_NAME_TOO_LONG = 36;
constexpr int MSGPROP_NO_FILE = 1114;
constexpr int MSGPROP_FAILED = 1190;
constexpr int MSGPROP_UNKNOWN_VERSION = 1211;
constexpr int MSGPROP_NOT_PROXY_ADDRESS = 1230;

// The longest node name of a proxy address.
constexpr std::size_t PROXY_NODE_NAME_LENGTH = 11;

// Reads the set from path (a missing file reads as empty). caller and msgid
// appear only in traces. 0, 1114 empty path (the set untouched), 1211 unknown
// version, 1190 any other read failure.
CFGADM_EXPORT int make_properties(MessageProperties& set, Path const& path, String const& caller,
                                  long msgid);

// Saves the set (an empty set removes its file) and, when the set is empty,
// clears the message's attribute 269. The save's result; a failed attribute
// update is only traced.
CFGADM_EXPORT bool update_properties(MessageProperties& set, unsigned long msgid);

// When the set holds no property, records its path in the message's
// attribute 269. 0, or 1190 when the attribute can't be written.
CFGADM_EXPORT int update_property_path(String const& caller, MessageProperties& set,
                                       unsigned long msgid);

// False only for a server-known "ORVEX Proxy Reply To" whose value type is
// not 1 or whose value is not a proxy address.
CFGADM_EXPORT bool validate_property(Property& property);

// Resolves the set's "ORVEX Proxy Reply To" into the attribute record: user
// id at offset 92, node number at 124, mailbox text (11-byte bound) at 472.
// 0 (done or nothing to do), 13, 1230, 36, or the result of locate_address.
CFGADM_EXPORT int property_change(MessageProperties& set, MSG_ATTRS& attributes);

// Splits "address@node" at the last "@" into address and node (true); on no
// match the outputs are untouched (false).
CFGADM_EXPORT bool get_proxy_address(String const& text, String& address, String& node);

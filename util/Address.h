#pragma once

#include "platform/Export.h"

// Network addresses: building the address text of a message-store
// item, and locating an address on a named node in the platform's directory.
// Both work on NUL-terminated buffers the caller provides, sized by the
// platform (platform/Directory.h: ADDRESS_SIZE for address, localPart and
// fullAddress, NODE_NAME_SIZE for nodeName, MAILBOX_SIZE for mailbox); no
// output is written past those sizes. Neither writes a trace message.

// Result codes.
constexpr int ADDRESS_OK = 0;
constexpr int ADDRESS_BAD_FORM = 22;   // not the form of its node kind, or an unacceptable answer
constexpr int ADDRESS_PASSED_ON = 34;  // the directory's 34 for a kind 3 node
constexpr int ADDRESS_NOT_ON_NODE = 1021;  // a kind 2 address not resolving to a user on the node
constexpr int ADDRESS_NOT_FOUND = 1114;

// Work buffer limits of locate_address (characters, without the terminator).
constexpr int ADDRESS_WORK_LENGTH = 129;   // the copy examined for kinds 1 and 2
constexpr int DIRECTORY_NAME_LENGTH = 31;  // a kind 3 name (with its "!" on node 9001)

// The kind of a node: 0 its network data (type) can't be read; 4 a node
// numbered 10001 to 10064; 2 type "amisac"; 3 type "calld" or "scalld"; 1 any
// other type.
CFGADM_EXPORT int node_kind(short node);

// Writes the address text of a message-store item into address and the name
// of its node into nodeName. 0, or 1114 when an attribute, the node's network
// data or its kind fails.
CFGADM_EXPORT int construct_address(long item, char* address, char* nodeName);

// Locates address on the node called nodeName. Outputs: *id the user's id
// (-1 unless located), *node the node's number (-1 when the directory has no
// node of that name), mailbox, localPart (kind 2) and fullAddress (kind 4).
// Result: 0, 22, 34, 1021 or 1114 (see the codes above).
CFGADM_EXPORT int locate_address(const char* address, const char* nodeName, long* id, short* node,
                                 char* mailbox, char* localPart, char* fullAddress);

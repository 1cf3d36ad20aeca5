#pragma once

#include <cstddef>

// The platform's directory of the messaging network: its nodes (number, name
// and network data) and its users (node, mailbox number, name, id) with the
// complete addresses stored for some of them.
//
// Every call answers with a result code: 0 success, DIRECTORY_NOT_FOUND when
// there is no such node, user or address, other codes as stated per call.
// Texts are NUL-terminated. Output buffers must hold at least the sizes below;
// no call writes more. None of the calls gives up the run token.

// Result codes of the directory (the platform's numbers).
constexpr int DIRECTORY_OK = 0;
constexpr int DIRECTORY_IO_ERROR = 5;       // the directory cannot be read
constexpr int DIRECTORY_BAD_ARGUMENT = 22;  // a null pointer, an unknown item or lookup kind
constexpr int DIRECTORY_MORE_MATCHES = 34;  // more users matched than the caller had room for
constexpr int DIRECTORY_NOT_FOUND = 1114;

// Buffer sizes, terminator included.
constexpr std::size_t NODE_NAME_SIZE = 32;  // a node name: at most 31 characters
constexpr std::size_t NETDATA_SIZE = 64;    // one item of a node's network data
constexpr std::size_t MAILBOX_SIZE = 32;    // a user's mailbox text
constexpr std::size_t ADDRESS_SIZE = 512;   // an address text (and a user name)

// Network data items.
constexpr short NETDATA_NODE_NAME = 808;  // the node's name (at most NODE_NAME_SIZE bytes)
constexpr short NETDATA_NODE_TYPE = 830;  // the node's type text

// Lookup kinds of find_user.
constexpr char FIND_BY_MAILBOX = 1;
constexpr char FIND_BY_NAME = 4;

// One item of the network data of a node into out (at most NETDATA_SIZE
// bytes). DIRECTORY_NOT_FOUND when the node is unknown or has no such data
// (a node may have a name but no type), DIRECTORY_BAD_ARGUMENT for another item.
int get_netdata(short node, short item, char* out);

// The number of the node called name (exact bytes) into *node; scratch (at
// least NODE_NAME_SIZE bytes) receives the node's name. DIRECTORY_NOT_FOUND
// when no node has that name.
int find_node(const char* name, char* scratch, short* node);

// Looks a user up. how FIND_BY_MAILBOX: the user of `node` whose mailbox
// number is name. how FIND_BY_NAME: the users of any node whose name is
// name, those of `node` first, then by id. *count is the number of users the
// caller has room for (at least 1); the outputs describe one user, the first:
// id, mailbox (MAILBOX_SIZE bytes) and userNode, with *found and *count 1.
// Results: 0 one user, who has a mailbox; DIRECTORY_MORE_MATCHES more than
// one user matched (the first is given); DIRECTORY_NOT_FOUND no user (*found
// and *count 0, the other outputs untouched), or, by name, one entry of the
// directory that has no mailbox on the platform (*found 1, the entry
// described, mailbox empty); DIRECTORY_BAD_ARGUMENT for a bad how, count or
// pointer.
int find_user(short node, const char* name, char how, short* count, long* id, char* mailbox,
              short* found, short* userNode);

// Looks up the complete address `address` among the addresses of `node`.
// `extra` is not used by the stand-in (callers pass the empty text). On
// success *found is 1, *id the user's id and other (MAILBOX_SIZE bytes) the
// user's mailbox text; DIRECTORY_NOT_FOUND with *found 0 otherwise.
int find_address(short node, const char* address, const char* extra, short* count, long* id,
                 char* found, char* other);

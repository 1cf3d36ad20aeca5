#include "platform/Directory.h"

#include <algorithm>
#include <cstring>

#include "host/platform/PlatformStatement.h"

// The directory on the stand-in's database (host/platform/PlatformDatabase.h):
// tables nodes, users and addresses. Every text written to a caller's buffer
// is cut to the buffer's size less the terminator; the schema keeps stored
// texts within those sizes, so nothing is cut in practice.

namespace {

void copyOut(char* out, std::size_t size, const String& text) {
    std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

int get_netdata(short node, short item, char* out) {
    if (out == nullptr || (item != NETDATA_NODE_NAME && item != NETDATA_NODE_TYPE))
        return DIRECTORY_BAD_ARGUMENT;
    PlatformConnection connection(false);
    if (!connection.ok()) return connection.missing() ? DIRECTORY_NOT_FOUND : DIRECTORY_IO_ERROR;
    PlatformStatement statement(connection, "SELECT name, type FROM nodes WHERE number = ?");
    statement.bind(1, node);
    if (!statement.row()) return DIRECTORY_NOT_FOUND;
    if (item == NETDATA_NODE_NAME) {
        copyOut(out, NODE_NAME_SIZE, statement.text(0));
    } else {
        if (statement.null(1)) return DIRECTORY_NOT_FOUND;
        copyOut(out, NETDATA_SIZE, statement.text(1));
    }
    return DIRECTORY_OK;
}

int find_node(const char* name, char* scratch, short* node) {
    if (name == nullptr || node == nullptr) return DIRECTORY_BAD_ARGUMENT;
    PlatformConnection connection(false);
    if (!connection.ok()) return connection.missing() ? DIRECTORY_NOT_FOUND : DIRECTORY_IO_ERROR;
    PlatformStatement statement(connection, "SELECT number, name FROM nodes WHERE name = ?");
    statement.bind(1, name, std::strlen(name));
    if (!statement.row()) return DIRECTORY_NOT_FOUND;
    *node = static_cast<short>(statement.integer(0));
    if (scratch) copyOut(scratch, NODE_NAME_SIZE, statement.text(1));
    return DIRECTORY_OK;
}

int find_user(short node, const char* name, char how, short* count, long* id, char* mailbox,
              short* found, short* userNode) {
    if (name == nullptr || count == nullptr || id == nullptr || mailbox == nullptr ||
        found == nullptr || userNode == nullptr || *count < 1 ||
        (how != FIND_BY_MAILBOX && how != FIND_BY_NAME))
        return DIRECTORY_BAD_ARGUMENT;
    PlatformConnection connection(false);
    if (!connection.ok()) {
        if (!connection.missing()) return DIRECTORY_IO_ERROR;
        *found = *count = 0;
        return DIRECTORY_NOT_FOUND;
    }
    // By mailbox: only the node's users, and only users with a mailbox. By
    // name: every node's, the given node's first. A second row tells that
    // there were more than the one user the outputs describe.
    const char* sql = how == FIND_BY_MAILBOX
                          ? "SELECT id, mailbox, node FROM users WHERE node = ?1 AND mailbox = ?2 "
                            "AND mailbox <> '' ORDER BY id LIMIT 2"
                          : "SELECT id, mailbox, node FROM users WHERE name = ?2 "
                            "ORDER BY node <> ?1, id LIMIT 2";
    PlatformStatement statement(connection, sql);
    statement.bind(1, node).bind(2, name, std::strlen(name));
    int matches = 0;
    String firstMailbox;
    while (statement.row()) {
        if (matches == 0) {
            *id = static_cast<long>(statement.integer(0));
            firstMailbox = statement.text(1);
            copyOut(mailbox, MAILBOX_SIZE, firstMailbox);
            *userNode = static_cast<short>(statement.integer(2));
        }
        ++matches;
    }
    if (matches == 0) {
        *found = *count = 0;
        return DIRECTORY_NOT_FOUND;
    }
    // The outputs describe one user: the first.
    *found = *count = 1;
    if (matches > 1) return DIRECTORY_MORE_MATCHES;
    return firstMailbox.empty() ? DIRECTORY_NOT_FOUND : DIRECTORY_OK;
}

int find_address(short node, const char* address, const char* extra, short* count, long* id,
                 char* found, char* other) {
    (void)extra;
    if (address == nullptr || count == nullptr || id == nullptr || found == nullptr ||
        other == nullptr || *count < 1)
        return DIRECTORY_BAD_ARGUMENT;
    PlatformConnection connection(false);
    if (!connection.ok()) {
        if (!connection.missing()) return DIRECTORY_IO_ERROR;
        *found = 0;
        *count = 0;
        return DIRECTORY_NOT_FOUND;
    }
    PlatformStatement statement(connection,
                                "SELECT users.id, users.mailbox FROM addresses JOIN users "
                                "ON users.id = addresses.user "
                                "WHERE addresses.node = ? AND addresses.address = ?");
    statement.bind(1, node).bind(2, address, std::strlen(address));
    if (!statement.row()) {
        *found = 0;
        *count = 0;
        return DIRECTORY_NOT_FOUND;
    }
    *id = static_cast<long>(statement.integer(0));
    copyOut(other, MAILBOX_SIZE, statement.text(1));
    *found = 1;
    *count = 1;
    return DIRECTORY_OK;
}

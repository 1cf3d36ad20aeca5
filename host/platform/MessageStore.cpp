#include "platform/MessageStore.h"

#include <cstdint>
#include <cstring>

#include "host/platform/PlatformStatement.h"

// The message store on the stand-in's database: tables items and attributes
// (host/platform/PlatformDatabase.h). An attribute without a row holds no
// value; storing the empty text deletes the row.

namespace {

int readAttribute(long item, short attr, char* out, char c, std::size_t size) {
    if (out == nullptr || c != 3) return MSG_STORE_BAD_ARGUMENT;
    out[0] = '\0';
    PlatformConnection connection(false);
    if (!connection.ok()) return connection.missing() ? MSG_STORE_NO_ITEM : MSG_STORE_IO_ERROR;
    PlatformStatement statement(connection,
                                "SELECT attributes.value FROM items LEFT JOIN attributes "
                                "ON attributes.item = items.item AND attributes.attr = ?2 "
                                "WHERE items.item = ?1");
    statement.bind(1, item).bind(2, attr);
    if (!statement.row()) return MSG_STORE_NO_ITEM;
    if (statement.null(0)) return MSG_STORE_NO_VALUE;
    String value = statement.text(0);
    if (value.size() >= size) return MSG_STORE_TOO_LONG;
    std::memcpy(out, value.data(), value.size());
    out[value.size()] = '\0';
    return value.empty() ? MSG_STORE_NO_VALUE : MSG_STORE_OK;
}

}  // namespace

int ret_attribute(long item, short attr, char* out, char c) {
    return readAttribute(item, attr, out, c, ATTRIBUTE_SIZE);
}

int ret_l_attribute(long item, short attr, char* out, char c) {
    return readAttribute(item, attr, out, c, LONG_ATTRIBUTE_SIZE);
}

int upd_msg(unsigned long msgid, short attr, const char* value, int mode) {
    std::size_t length = value ? std::strlen(value) : 0;
    if (mode < 0 || mode > 3 || length >= LONG_ATTRIBUTE_SIZE ||
        msgid > static_cast<unsigned long>(INT64_MAX))
        return MSG_STORE_BAD_ARGUMENT;
    PlatformConnection connection(true);
    if (!connection.ok()) return connection.missing() ? MSG_STORE_NO_ITEM : MSG_STORE_IO_ERROR;
    auto item = static_cast<long long>(msgid);
    // One transaction: the item's existence, the value and the stamp change
    // together or not at all.
    PlatformStatement begin(connection, "BEGIN IMMEDIATE");
    if (!begin.done()) return MSG_STORE_IO_ERROR;
    auto finish = [&](int result) {
        PlatformStatement end(connection, result == MSG_STORE_OK ? "COMMIT" : "ROLLBACK");
        end.done();
        return result;
    };
    PlatformStatement exists(connection, "SELECT 1 FROM items WHERE item = ?");
    exists.bind(1, item);
    if (!exists.row()) return finish(MSG_STORE_NO_ITEM);
    bool written;
    if (length == 0) {
        PlatformStatement clear(connection, "DELETE FROM attributes WHERE item = ? AND attr = ?");
        clear.bind(1, item).bind(2, attr);
        written = clear.done();
    } else {
        PlatformStatement set(connection,
                              "INSERT OR REPLACE INTO attributes (item, attr, value) "
                              "VALUES (?, ?, ?)");
        set.bind(1, item).bind(2, attr).bind(3, value, length);
        written = set.done();
    }
    if (written && mode != NO_CHANGE) {
        PlatformStatement stamp(connection, "UPDATE items SET stamp = stamp + 1 WHERE item = ?");
        stamp.bind(1, item);
        written = stamp.done();
    }
    return finish(written ? MSG_STORE_OK : MSG_STORE_IO_ERROR);
}

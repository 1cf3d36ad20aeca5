#pragma once

#include <optional>

#include "platform/Path.h"
#include "platform/String.h"

// The stand-in's directory and message store: one SQLite database at the
// platform path PlatformDatabase::path under the platform root (schema in
// docs/messages.md). The platform calls of platform/Directory.h and
// platform/MessageStore.h read and write it; this class is the host's side:
// it creates the database and fills it (vmcfg init --demo, tests).
// PlatformConnection and PlatformStatement are the calls' access to it.
//
// A missing database is an empty directory and message store: lookups answer
// "not found" and nothing is created by them. Every call opens the database,
// does its work in one statement or transaction and closes it again, so
// processes share the file safely (SQLite's locks, a 5 s busy wait).
class PlatformDatabase {
  public:
    static const Path path;

    // Creates the database and its tables when missing. False with
    // lastError() set when it cannot be made.
    static bool create();
    // Each adds one row (the database must exist); false with lastError()
    // set when SQLite refuses it (a duplicate, a text over its limit, ...).
    // A node without a type has a name but no type in its network data.
    static bool addNode(short number, const String& name, const std::optional<String>& type);
    static bool addUser(long id, short node, const String& mailbox, const String& name);
    static bool addAddress(short node, const String& address, long user);
    static bool addItem(long item);
    // Sets an attribute of an existing item directly (no mode, no stamp).
    static bool setAttribute(long item, short attr, const String& value);
    // The item's change stamp (advanced by upd_msg in every mode but 3), or
    // -1 when there is no such item.
    static long stamp(long item);
    // Counts of the rows of a table ("nodes", "users", "addresses", "items",
    // "attributes"), -1 on failure.
    static long count(const String& table);

    static const String& lastError();
};

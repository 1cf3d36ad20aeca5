#pragma once

#include <cstdint>
#include <map>

#include "platform/String.h"

// Where the messages to a processor box go. The routes file (env
// VM_MSG_ROUTES, else the platform path "/VM/config/msg_routes" under the
// root) holds one route a line, "BOX HOST:PORT" (HOST a name, an IPv4
// address or a bracketed IPv6 address), with '#' starting a comment and blank
// lines ignored. A box without a route is served on this machine (the Unix
// socket under "/vm/run"); so is every box when the file does not exist.
//
// The file is read at the first lookup of the process and read again when
// its modification time, size or inode changes, so an edit takes effect at
// the next message without a restart. A file that does not parse is refused
// as a whole (no route of it is used) until it is fixed; the error names the
// file and the line. Thread-safe.
class MsgRoutes {
  public:
    struct Route {
        String host;
        std::uint16_t port = 0;
        // "HOST:PORT" as written, for messages.
        String text() const;
    };
    using Table = std::map<std::uint32_t, Route>;

    enum class Lookup {
        local,  // no route: this machine's socket
        tcp,    // `route` is filled
        bad,    // the routes file cannot be used; `error` says why
    };

    static Lookup find(std::uint32_t box, Route& route, String& error);
    // Host path of the routes file in use.
    static String file();

    // Parses a whole file's text; false with `error` ("FILE:LINE: what")
    // at the first bad line.
    static bool parse(const String& text, const String& fileName, Table& table, String& error);
    // Parses "HOST:PORT" (port 0 only when allowPortZero); false with
    // `error` in words.
    static bool parseAddress(const String& text, Route& route, String& error,
                             bool allowPortZero = false);
};

#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <string_view>

#include "platform/String.h"

// The console's signed-in sessions, in memory only. A session is known by a
// random id (32 bytes as 64 hex digits) handed to the browser once; the
// table keeps only the id's digest, so neither a look-up's time nor the
// table's memory gives an id away. A session ends when closed, when unused
// for the idle time, or when retain() drops it; at the capacity, opening one
// more ends the one unused the longest. Not thread-safe: the owner locks.
class SessionTable {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct Session {
        String user;
        // What the user signed in with (the users file's salt, '' for the
        // shared token): a new token for the user ends the old sessions.
        String grant;
        std::chrono::steady_clock::time_point used;
    };

    // The clock is the steady clock unless one is given (tests).
    SessionTable(std::chrono::steady_clock::duration idle, std::size_t capacity,
                 Clock clock = nullptr);

    // A new session's id, empty when no random bytes could be had.
    String open(const String& user, const String& grant);
    // The live session with this id, its idle time started again; null for
    // an id unknown, closed or idle too long (then forgotten).
    const Session* find(std::string_view id);
    // Ends the session with this id; false when there was none.
    bool close(std::string_view id);
    // Ends every session for which keep is false.
    void retain(const std::function<bool(const Session&)>& keep);
    std::size_t size() const { return sessions_.size(); }

  private:
    std::chrono::steady_clock::duration idle_;
    std::size_t capacity_;
    Clock clock_;
    std::map<String, Session> sessions_;  // by the id's digest
};

#pragma once

#include <sys/stat.h>

#include <chrono>
#include <mutex>
#include <string_view>
#include <vector>

#include "host/vmadmd/SessionTable.h"
#include "host/vmadmd/UsersFile.h"
#include "platform/String.h"

// Who is asking the console. Two modes, chosen by whether the users file
// exists, looked at again on every request (so `vmadmd user add` and `rm`
// count at once):
// - named users: a user signs in with their own token (UsersFile) and gets
//   a session (SessionTable) whose id is then the bearer credential; the
//   shared token is refused;
// - single token (no users file): the shared token of the token file is a
//   bearer credential itself, or signs in to a session, as "console".
// A session ends on sign-out, after the idle time, when its user is removed
// or given a new token, or when the mode changes. Thread-safe.
class ConsoleAuth {
  public:
    // The actor of the shared token's requests.
    static constexpr const char* kSharedUser = "console";

    // An answer: status 0 and the user when accepted, else an HTTP status
    // (401, or 503 when the users file cannot be used) and words for it.
    struct Verdict {
        int status = 0;
        String user;
        String error;
        bool ok() const { return status == 0; }
    };

    ConsoleAuth(String sharedToken, UsersFile users, std::chrono::steady_clock::duration idle,
                std::size_t maxSessions = 1000, SessionTable::Clock clock = nullptr);

    // The user an Authorization header ("Bearer CREDENTIAL") stands for,
    // after reading the users file again if it changed.
    Verdict admit(std::string_view authorization);
    // The same without looking at the users file (for a request admitted).
    Verdict who(std::string_view authorization);
    // Signs in with a token: the user and, in id, a new session's id.
    Verdict signIn(std::string_view token, String& id);
    // Ends the session an Authorization header names (a shared token names
    // none); false when there was none.
    bool signOut(std::string_view authorization);

    // Whether the users file existed when last looked at.
    bool namedUsers();

  private:
    // Reads the users file again when its inode, size or times changed;
    // then ends the sessions it no longer backs. Called locked.
    void refresh();
    Verdict resolve(std::string_view authorization);

    String sharedToken_;
    UsersFile file_;
    std::mutex mutex_;
    SessionTable sessions_;
    std::vector<UsersFile::User> users_;
    bool exists_ = false;
    String fault_;  // why the users file cannot be used, '' when it can
    struct stat seen_ {};
    bool looked_ = false;
};

#pragma once

#include <string_view>
#include <vector>

#include "platform/String.h"

// The console's named users: a private file (PrivateFile: mode 0600, this
// user's, a regular file) of one line per user, "NAME SALT DIGEST", where
// SALT is 16 random bytes and DIGEST the SHA-256 of SALT then the user's
// token (TokenDigest), both in hex; lines that start with '#' and blank
// lines are ignored. The tokens themselves are never stored: `add` prints
// one once. Changes are made under a lock (a file beside it, ".lock") and
// written whole to a temporary file renamed into place, so two changes at
// once both count and a crash leaves the old file or the new one.
class UsersFile {
  public:
    struct User {
        String name;
        String salt;
        String digest;
    };

    // Largest file read (bigger is refused).
    static constexpr std::size_t kMaxBytes = 1 << 20;

    explicit UsersFile(String path) : path_(std::move(path)) {}

    const String& path() const { return path_; }

    // The users the file holds; `exists` false (no users) when there is no
    // file. False with the reason in error when the file is unsafe, cannot
    // be read, or has a line that is not a user (its number is named).
    bool load(std::vector<User>& users, bool& exists, String& error) const;

    // Adds NAME with a fresh token, returned in token (64 hex digits), or
    // with `replace` gives an existing NAME a new one. False with the reason
    // when the name is not valid, is taken (without replace), or the file
    // cannot be read or written.
    bool add(const String& name, bool replace, String& token, String& error) const;
    // Removes NAME; false with the reason when there is no such user or the
    // file cannot be read or written.
    bool remove(const String& name, String& error) const;

    // Whether name is 1 to 32 of A-Z a-z 0-9 . _ -
    static bool validName(std::string_view name);
    // The user whose token this is, or null. Every user's digest is
    // computed and compared in full, whichever matches.
    static const User* match(const std::vector<User>& users, std::string_view token);

  private:
    // Runs change on the users read under the lock, then writes them back
    // when it returns true.
    template <typename Change>
    bool update(Change change, String& error) const;
    static bool parse(const String& text, std::vector<User>& users, String& error);

    String path_;
};

#pragma once

#include <iosfwd>

#include "host/vmadmd/UsersFile.h"

// `vmadmd user add|rm|list`: the administrator's commands on the users
// file. Each returns the exit status (0 done, 1 refused or failed, with the
// reason on err prefixed "vmadmd: ").
class UserCommands {
  public:
    // Adds NAME (or with replace gives it a new token) and prints the token,
    // the only time it is shown, as one line on out.
    static int add(const UsersFile& file, const String& name, bool replace, std::ostream& out,
                   std::ostream& err);
    // Removes NAME; removing the last user also says, on err, that nobody can
    // sign in until one is added.
    static int remove(const UsersFile& file, const String& name, std::ostream& err);
    // The users' names, one a line; none, and a note on err, without a file
    // or with a file of no users.
    static int list(const UsersFile& file, std::ostream& out, std::ostream& err);

  private:
    static void noUsersLeft(const UsersFile& file, std::ostream& err);
};

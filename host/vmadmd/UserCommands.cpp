#include "host/vmadmd/UserCommands.h"

#include <iostream>

int UserCommands::add(const UsersFile& file, const String& name, bool replace, std::ostream& out,
                      std::ostream& err) {
    String token, error;
    if (!file.add(name, replace, token, error)) {
        err << "vmadmd: " << error << std::endl;
        return 1;
    }
    out << token << std::endl;
    return 0;
}

int UserCommands::remove(const UsersFile& file, const String& name, std::ostream& err) {
    String error;
    if (!file.remove(name, error)) {
        err << "vmadmd: " << error << std::endl;
        return 1;
    }
    std::vector<UsersFile::User> users;
    bool exists = false;
    if (file.load(users, exists, error) && exists && users.empty()) noUsersLeft(file, err);
    return 0;
}

void UserCommands::noUsersLeft(const UsersFile& file, std::ostream& err) {
    err << "vmadmd: " << file.path()
        << " holds no users: nobody can sign in to the console until one is added "
           "(vmadmd user add NAME), or the file is removed to go back to the shared token"
        << std::endl;
}

int UserCommands::list(const UsersFile& file, std::ostream& out, std::ostream& err) {
    std::vector<UsersFile::User> users;
    bool exists = false;
    String error;
    if (!file.load(users, exists, error)) {
        err << "vmadmd: " << error << std::endl;
        return 1;
    }
    if (!exists)
        err << "vmadmd: no users file " << file.path() << " (the console takes its shared token)"
            << std::endl;
    else if (users.empty())
        noUsersLeft(file, err);
    for (const UsersFile::User& user : users) out << user.name << "\n";
    out.flush();
    return out ? 0 : 1;
}

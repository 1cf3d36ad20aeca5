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
    return 0;
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
    for (const UsersFile::User& user : users) out << user.name << "\n";
    out.flush();
    return out ? 0 : 1;
}

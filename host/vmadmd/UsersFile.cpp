#include "host/vmadmd/UsersFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "host/vmadmd/PrivateFile.h"
#include "host/vmadmd/TokenDigest.h"
#include "host/vmadmd/TokenFile.h"

namespace {

constexpr const char* kWhat = "users file";
constexpr std::size_t kSaltBytes = 16;

bool isHex(const String& text, std::size_t digits) {
    return text.size() == digits && text.find_first_not_of("0123456789abcdef") == String::npos;
}

String nameRule() {
    return "a user name is 1 to 32 of the letters A-Z a-z, the digits 0-9 and . _ -";
}

}  // namespace

bool UsersFile::validName(std::string_view name) {
    return !name.empty() && name.size() <= 32 &&
           name.find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
               "0123456789._-") == std::string_view::npos;
}

const UsersFile::User* UsersFile::match(const std::vector<User>& users, std::string_view token) {
    const User* found = nullptr;
    for (const User& user : users) {
        bool same = TokenDigest::same(TokenDigest::of(user.salt, token), user.digest);
        if (same && found == nullptr) found = &user;
    }
    return found;
}

bool UsersFile::parse(const String& text, std::vector<User>& users, String& error) {
    std::istringstream lines(text);
    String line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        User user;
        String more;
        if (!(words >> user.name >> user.salt >> user.digest) || (words >> more) ||
            !validName(user.name) || !isHex(user.salt, 2 * kSaltBytes) || !isHex(user.digest, 64)) {
            error = "line " + std::to_string(number) + " is not \"NAME SALT DIGEST\"";
            return false;
        }
        for (const User& other : users)
            if (other.name == user.name) {
                error = "line " + std::to_string(number) + " repeats user " + user.name;
                return false;
            }
        users.push_back(std::move(user));
    }
    return true;
}

bool UsersFile::load(std::vector<User>& users, bool& exists, String& error) const {
    users.clear();
    String text;
    if (!PrivateFile::read(path_, kWhat, kMaxBytes + 1, text, exists, error)) return false;
    if (text.size() > kMaxBytes) {
        error = "users file " + path_ + " is larger than 1 MiB";
        return false;
    }
    String why;
    if (!parse(text, users, why)) {
        error = "users file " + path_ + ": " + why;
        users.clear();
        return false;
    }
    return true;
}

template <typename Change>
bool UsersFile::update(Change change, String& error) const {
    String lockPath = path_ + ".lock";
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        error = "can't lock " + lockPath + ": " + std::strerror(errno);
        if (lock >= 0) ::close(lock);
        return false;
    }
    std::vector<User> users;
    bool exists = false;
    bool done = load(users, exists, error) && change(users);
    if (done) {
        String text = "# vmadmd users: NAME SALT SHA-256(SALT TOKEN); change with vmadmd user\n";
        for (const User& user : users)
            text += user.name + " " + user.salt + " " + user.digest + "\n";
        done = PrivateFile::write(path_, kWhat, text, error);
    }
    ::close(lock);  // releases the lock
    return done;
}

bool UsersFile::add(const String& name, bool replace, String& token, String& error) const {
    if (!validName(name)) {
        error = "'" + name + "' is no user name: " + nameRule();
        return false;
    }
    return update(
        [&](std::vector<User>& users) {
            auto held = std::find_if(users.begin(), users.end(),
                                     [&](const User& user) { return user.name == name; });
            if (held != users.end() && !replace) {
                error = "user " + name + " already exists (--replace gives it a new token)";
                return false;
            }
            User user{name, TokenFile::fresh(kSaltBytes), String()};
            token = TokenFile::fresh();
            if (!user.salt.empty() && !token.empty())
                user.digest = TokenDigest::of(user.salt, token);
            if (user.digest.empty()) {
                error = "no random bytes or digest for the token";
                return false;
            }
            if (held != users.end())
                *held = std::move(user);
            else
                users.push_back(std::move(user));
            return true;
        },
        error);
}

bool UsersFile::remove(const String& name, String& error) const {
    return update(
        [&](std::vector<User>& users) {
            auto held = std::find_if(users.begin(), users.end(),
                                     [&](const User& user) { return user.name == name; });
            if (held == users.end()) {
                error = "there is no user " + name + " in " + path_;
                return false;
            }
            users.erase(held);
            return true;
        },
        error);
}

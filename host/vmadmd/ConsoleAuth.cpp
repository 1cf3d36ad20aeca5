#include "host/vmadmd/ConsoleAuth.h"

#include "host/vmadmd/TokenDigest.h"

namespace {

constexpr std::string_view kScheme = "Bearer ";

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec &&
           a.st_mode == b.st_mode && a.st_uid == b.st_uid;
}

}  // namespace

ConsoleAuth::ConsoleAuth(String sharedToken, UsersFile users,
                         std::chrono::steady_clock::duration idle, std::size_t maxSessions,
                         SessionTable::Clock clock)
    : sharedToken_(std::move(sharedToken)),
      file_(std::move(users)),
      sessions_(idle, maxSessions, std::move(clock)) {}

void ConsoleAuth::refresh() {
    struct stat now {};
    bool present = ::lstat(file_.path().c_str(), &now) == 0;
    if (!present) now = {};
    if (looked_ && sameFile(now, seen_)) return;
    looked_ = true;
    seen_ = now;
    fault_.clear();
    if (!file_.load(users_, exists_, fault_)) {
        // Every request is refused until the file is fixed; the sessions
        // are judged against the file then, so a slip signs no one out.
        exists_ = true;
        return;
    }
    // A session lives while what it signed in with still holds: its user
    // with the same salt, or the shared token while there are no users.
    sessions_.retain([this](const SessionTable::Session& session) {
        if (session.grant.empty()) return !exists_;
        for (const UsersFile::User& user : users_)
            if (user.name == session.user) return user.salt == session.grant;
        return false;
    });
}

ConsoleAuth::Verdict ConsoleAuth::resolve(std::string_view authorization) {
    if (!fault_.empty()) return {503, String(), "the console's " + fault_};
    if (!authorization.starts_with(kScheme))
        return {401, String(), exists_ ? "sign in first" : "a valid bearer token is required"};
    std::string_view credential = authorization.substr(kScheme.size());
    if (!exists_ && TokenDigest::same(credential, sharedToken_) && !sharedToken_.empty())
        return {0, kSharedUser, String()};
    if (const SessionTable::Session* session = sessions_.find(credential))
        return {0, session->user, String()};
    return {401, String(),
            exists_ ? "session expired, sign in again"
                    : "a valid bearer token is required (the session may have expired: sign in "
                      "again)"};
}

ConsoleAuth::Verdict ConsoleAuth::admit(std::string_view authorization) {
    std::lock_guard lock(mutex_);
    refresh();
    return resolve(authorization);
}

ConsoleAuth::Verdict ConsoleAuth::who(std::string_view authorization) {
    std::lock_guard lock(mutex_);
    if (!looked_) refresh();
    return resolve(authorization);
}

ConsoleAuth::Verdict ConsoleAuth::signIn(std::string_view token, String& id) {
    std::lock_guard lock(mutex_);
    refresh();
    if (!fault_.empty()) return {503, String(), "the console's " + fault_};
    String user, grant;
    if (exists_) {
        const UsersFile::User* found = UsersFile::match(users_, token);
        if (found != nullptr) user = found->name, grant = found->salt;
    } else if (!sharedToken_.empty() && TokenDigest::same(token, sharedToken_)) {
        user = kSharedUser;
    }
    if (user.empty())
        return {401, String(),
                !exists_         ? "that token is not the console's"
                : users_.empty() ? "the console has no users: an administrator adds one with "
                                   "'vmadmd user add NAME'"
                                 : "that token is not a user's token"};
    id = sessions_.open(user, grant);
    if (id.empty()) return {503, String(), "no random bytes for a session id"};
    return {0, user, String()};
}

bool ConsoleAuth::signOut(std::string_view authorization) {
    std::lock_guard lock(mutex_);
    return authorization.starts_with(kScheme) &&
           sessions_.close(authorization.substr(kScheme.size()));
}

bool ConsoleAuth::namedUsers() {
    std::lock_guard lock(mutex_);
    if (!looked_) refresh();
    return exists_;
}

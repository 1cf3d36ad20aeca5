#include "host/vmadmd/SessionTable.h"

#include <algorithm>

#include "host/vmadmd/TokenDigest.h"
#include "host/vmadmd/TokenFile.h"

SessionTable::SessionTable(std::chrono::steady_clock::duration idle, std::size_t capacity,
                           Clock clock)
    : idle_(idle), capacity_(std::max<std::size_t>(capacity, 1)), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
}

String SessionTable::open(const String& user, const String& grant) {
    auto now = clock_();
    std::erase_if(sessions_, [&](const auto& entry) { return now - entry.second.used >= idle_; });
    if (sessions_.size() >= capacity_) {
        auto oldest = std::min_element(
            sessions_.begin(), sessions_.end(),
            [](const auto& a, const auto& b) { return a.second.used < b.second.used; });
        sessions_.erase(oldest);
    }
    String id = TokenFile::fresh();
    String key = id.empty() ? String() : TokenDigest::of("", id);
    if (key.empty()) return String();
    sessions_[key] = Session{user, grant, now};
    return id;
}

const SessionTable::Session* SessionTable::find(std::string_view id) {
    auto found = sessions_.find(TokenDigest::of("", id));
    if (found == sessions_.end()) return nullptr;
    auto now = clock_();
    if (now - found->second.used >= idle_) {
        sessions_.erase(found);
        return nullptr;
    }
    found->second.used = now;
    return &found->second;
}

bool SessionTable::close(std::string_view id) {
    return sessions_.erase(TokenDigest::of("", id)) > 0;
}

void SessionTable::retain(const std::function<bool(const Session&)>& keep) {
    std::erase_if(sessions_, [&](const auto& entry) { return !keep(entry.second); });
}

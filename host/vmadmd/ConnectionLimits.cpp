#include "host/vmadmd/ConnectionLimits.h"

bool ConnectionLimits::admit(const String& peer) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t& count = byPeer_[peer];
    if (count >= perPeer_ || open_ >= total_) {
        if (count == 0) byPeer_.erase(peer);
        return false;
    }
    ++count;
    ++open_;
    return true;
}

void ConnectionLimits::release(const String& peer) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = byPeer_.find(peer);
    if (found == byPeer_.end()) return;
    --open_;
    if (--found->second == 0) byPeer_.erase(found);
}

#pragma once

#include <cstddef>
#include <map>
#include <mutex>

#include "platform/String.h"

// How many connections are open, from each peer address and in all, so that
// one client cannot take every connection the console will hold. Thread-safe.
class ConnectionLimits {
  public:
    ConnectionLimits(std::size_t perPeer, std::size_t total) : perPeer_(perPeer), total_(total) {}

    // Counts a new connection from `peer` and returns true, or returns false
    // (counting nothing) when the peer or the whole server is at its limit.
    bool admit(const String& peer);
    // Uncounts a connection admit() counted.
    void release(const String& peer);

  private:
    std::size_t perPeer_;
    std::size_t total_;
    std::size_t open_ = 0;
    std::map<String, std::size_t> byPeer_;
    std::mutex mutex_;
};

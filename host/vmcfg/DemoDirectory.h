#pragma once

#include <iosfwd>
#include <vector>

#include "platform/String.h"

// Sample directory and message store for a newcomer's platform root (part of
// vmcfg init --demo): the database PlatformDatabase::path with nodes of every
// kind (the local node 0, node 9001, node 10001 and node 10064 without a type
// among them), users, one complete address and message-store items, and the
// property files of the sample messages. Written only when the database is
// missing (a database that fails half-way is removed again); property files
// only when missing.
class DemoDirectory {
  public:
    static bool write(std::vector<String>& created, std::ostream& err);
};

#pragma once

#include <map>
#include <string>

#include "host/vmadmd/ConsoleReply.h"

// What the console shows of a kind's known properties beyond form 1's
// listing: the names of its fixed known properties, which exist whatever
// the defaults file holds and which form 2 refuses to remove, so that the
// page need not offer a removal that can only be refused.
class KnownView {
  public:
    // Query kind=MESSAGE|SYSTEM|COS|SUBSCRIBER. 200 and an array of
    // {"name"} (with "name_hex" for bytes that are not UTF-8), in the
    // kind's table order; 400 for another query. The caller holds the run
    // token.
    static ConsoleReply fixedNames(const std::multimap<std::string, std::string>& query);
};

#pragma once

#include <string>

#include "host/vmadmd/ConsoleReply.h"

// The console's edit of one property set's values: set, add, remove or reset
// a property through the same lost-update-safe cycle as "vmcfg props"
// (EditCycle: a save that lost a race is read and applied again; a remote
// kind saved from a box that does not own it goes to the owner daemon).
//
// The body is a JSON object:
//   {"set":{"system":""|"cos":"N"|"subscriber":"N"|"message":PATH|"file":PATH},
//    "op":"set"|"add"|"remove"|"reset", "name":TEXT or "name_hex":HEX,
//    "value":TEXT or "value_hex":HEX (set, add), "index":N (set: copy N,
//    default 1; remove: copy N, default 0 = every copy), "access":CLASS
//    (default Server), "dry_run":false}
// Answers 200 {"action","written":[copies],"removed","count","dry_run"} when
// saved (or, in a dry run, what would be); 400 for a body that is not such an
// object; 404 when the set to remove from or reset is missing; 422 when the
// set refuses the change (the reason names the class and the right it
// lacks); 500 when the save failed, with the reason in words. The caller
// holds the run token and sets the journal's actor.
class ConsoleEdit {
  public:
    static ConsoleReply run(const std::string& body);
};

#pragma once

#include <cstdint>
#include <vector>

#include "platform/String.h"
#include "properties/Property.h"

class Properties;

// One change "vmcfg props" makes to a property set that was just read, and
// what it did, so that the command can say so (or, in a dry run, say what it
// would do) before anything is saved.
//   write   copy `index` of the name: index 0 adds a new copy (the next free
//           index); a copy that exists gets the new value and keeps its
//           attributes, unless attributes were given: then the copy is
//           replaced whole, which only Server and Privileged may do (a
//           refusal says so); a copy that does not exist is added. A name
//           the kind knows starts from the known attributes unless
//           attributes were given.
//   reset   every copy of the name is replaced by the kind's known copies
//           (its defaults file); refused when the kind has no default.
//   remove  copy `index` (0: every copy) of the name; an empty name with
//           `all`: every property.
// apply() returns 0 when the set was changed, 1 when the change was refused;
// the refusal is in words naming the class and the right it lacks. Nothing is
// saved here: the caller saves (EditCycle).
class PropsEdit {
  public:
    enum class Action { Write, Reset, Remove };

    struct Request {
        Action action = Action::Write;
        Property wanted;  // name, index, value and (when given) attributes
        bool attributesGiven = false;
        bool all = false;  // remove every property
        PropertyAttributes::AccessType access = PropertyAttributes::Server;
    };

    struct Outcome {
        String verb;                    // "added", "replaced", "reset", "removed"
        std::vector<Property> written;  // the copies as stored
        std::size_t removed = 0;        // copies removed (remove, reset)
        std::size_t left = 0;           // properties left in the set
    };

    static int apply(Properties& set, const Request& request, Outcome& outcome, String& refusal);

  private:
    static int write(Properties& set, const Request& request, Outcome& outcome, String& refusal);
    static int reset(Properties& set, const Request& request, Outcome& outcome, String& refusal);
    static int remove(Properties& set, const Request& request, Outcome& outcome, String& refusal);
};

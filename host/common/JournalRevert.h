#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "properties/PropertyAttributes.h"

// Undoes one change-journal record: every property change of it that the
// access class may see is applied in reverse (an added copy removed, a
// removed copy put back, a changed copy given its old value and attributes),
// through the same lost-update-safe read-change-save cycle as the property
// edits (EditCycle), with the class's rights. The revert's own save is
// journaled like any other.
//
// Before anything is applied, each copy must still be as the record left it
// (the new value and attributes; absent for a removal). When one is not, the
// revert is refused, naming the newest later record that touched that copy
// (its number, actor and time), unless `force`. A dry run reads and checks,
// then saves nothing. Nothing is saved when any change is refused.
//
// The caller holds the run token. Nothing is owned beyond the call.
class JournalRevert {
  public:
    struct Options {
        PropertyAttributes::AccessType access = PropertyAttributes::Server;
        bool force = false;
        bool dryRun = false;
    };

    struct Result {
        // 0 done (a dry run: it would be done), 1 refused or failed, 2 no
        // such record or nothing in it the class may revert.
        int status = 2;
        std::string words;  // what was done or why not, one or more lines
        // One row per reverted change, as the history shows changes (the
        // op, old and new sides being those of the revert), with "reverts":
        // the record's number; sides the class may not read are null.
        nlohmann::json rows = nlohmann::json::array();
    };

    static Result run(std::uint64_t seq, const Options& options);
};

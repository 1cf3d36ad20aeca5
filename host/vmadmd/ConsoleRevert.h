#pragma once

#include <cstdint>

#include "host/vmadmd/ConsoleReply.h"

// The console's revert of one change-journal record (JournalRevert, for the
// Server class), answered as the API answers: 200 {"seq","message","rows"}
// when done; 409 {"error","conflict":true} when a later change touched a
// copy the record changed and the revert was not forced; 404 for a record
// the journal does not hold; 422 for a record that cannot be reverted (a
// feature switch, a refusal of the set); 503 without a journal. A dry run
// answers the same, saving nothing: the rows say what the revert would
// change, so that the page can name it before asking. The caller
// holds the run token and sets the journal's actor; nothing is kept.
class ConsoleRevert {
  public:
    static ConsoleReply run(std::uint64_t seq, bool force, bool dryRun);
};

#pragma once

#include <cstddef>
#include <cstdint>

#include "host/platform/JournalStore.h"
#include "host/vmadmd/ConsoleReply.h"
#include "host/vmadmd/SetQuery.h"
#include "properties/PropertyAttributes.h"

// The console's view of a property set's change history: the journal's
// records of the set, newest first, as HistoryRows rows (one per property
// change) for one access class. The query names the set as the property
// view does, and may add name=, since=, until=, actor=, limit= (1 to
// kMaxLimit, default kDefaultLimit) and access= (a class, default Server).
//
// Answers 200 and the array of rows; 400 with the parameter at fault in
// words; 503 when the journal is off or cannot be opened, 500 when it
// cannot be read. The caller holds the run token; nothing is kept.
class HistoryView {
  public:
    static constexpr std::size_t kDefaultLimit = 50;
    static constexpr std::size_t kMaxLimit = 1000;

    static ConsoleReply answer(const SetQuery::Query& query);
    // The journal, or null with the 503 that says why in refusal.
    static JournalStore* journal(ConsoleReply& refusal);

  private:
    // Takes the query's parameters; false with the reason in error.
    bool parse(const SetQuery::Query& query, std::int64_t nowUs, String& error);
    bool take(const std::string& name, const std::string& value, std::int64_t nowUs, String& error);
    ConsoleReply list(JournalStore& store);

    SetQuery set_;
    JournalQuery journal_;
    PropertyAttributes::AccessType access_ = PropertyAttributes::Server;
    std::size_t limit_ = kDefaultLimit;
};

#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/ChangeJournal.h"
#include "platform/String.h"

class Properties;

// Journals one save of a set while the store holds the set's write lock (a
// file's exclusive lock, a record's fenced write): built from the stored form
// read under that lock and the form about to be written, it settles what an
// earlier killed writer left pending, works out which copies were added,
// removed or changed, and records them as pending. finish() then commits the
// record when the store was written and drops it otherwise; a journal that
// was never finished (the save threw) is dropped by the destructor.
//
// A save that changes nothing records nothing. Journal failures never stop
// the save: they are traced as failures and the platform counts them.
// Costs nothing beyond one check when the platform runs without a journal.
class SaveJournal {
  public:
    // The stored form now: the set's stream in it (empty when there is
    // none) and the digest of the whole form (record prefix included); and
    // the digest of the form the save writes.
    struct Forms {
        std::string_view beforeStream;
        std::uint64_t beforeDigest = 0;
        std::uint64_t afterDigest = 0;
    };
    // set: the set being saved, as it will be stored; target: its key in
    // words (a platform path, a record number).
    SaveJournal(const Properties& set, const String& target, const Forms& forms, bool lockHeld);
    ~SaveJournal();
    SaveJournal(const SaveJournal&) = delete;
    SaveJournal& operator=(const SaveJournal&) = delete;

    void finish(bool saved);

    // The copies that differ between two sets, in the order of names, then
    // indexes. No access check: the journal keeps every byte and its readers
    // decide what to show.
    static std::vector<JournalChange> changes(const Properties& before, const Properties& after);

    // The same for a set whose store still holds what the set last matched:
    // from the copies the set changed since, without reading anything.
    static std::vector<JournalChange> changesSinceMatched(const Properties& set);

  private:
    std::uint64_t ticket_ = 0;
    bool pending_ = false;
};

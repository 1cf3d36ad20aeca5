#pragma once

#include <cstdint>
#include <vector>

#include "platform/Export.h"
#include "platform/String.h"

// The platform's change journal: one record for every save that changed a
// property set, telling who changed what. The platform stamps each record
// with a sequence number, the time, the actor, box, program and pid of the
// saving process and, for a save applied for another box, the sending box.
//
// A save is journaled in two steps so that a writer killed at any moment
// leaves the journal agreeing with the store: journal_begin() records the
// change as pending before the store is written, journal_commit() or
// journal_abandon() ends it after. A pending record is invisible to readers.
// One left behind by a writer that ended between the steps is settled by the
// next writer of the set (or a reader that settles it): it is kept when the
// stored form is the one the record says the save made, dropped otherwise.
//
// Every call returns 0 or an errno value. None gives up the run token; each
// returns once the journal's store has answered. The journal never decides
// whether a save happens: a caller whose journal call fails still saves,
// traces the failure and the platform counts it for the tools to report.

// One property's change: a copy (name and index) added, removed or changed
// in its value or attributes. The absent side of an addition or removal is
// empty.
struct JournalChange {
    enum Op : char { ADDED = 'a', REMOVED = 'r', CHANGED = 'c' };
    Op op = CHANGED;
    String name;
    std::uint32_t index = 0;
    String oldValue;
    String newValue;
    String oldAttributes;  // attribute record text, as in the set's stream
    String newAttributes;
};

// What one save changed.
struct JournalSave {
    String kind;    // the set's kind: its factory name, or "feature"
    String target;  // the set's key: a platform path or a record number
    // A digest of the stored form the save writes (see journal_digest), so
    // that a pending record can be matched against the store later.
    std::uint64_t after = 0;
    std::vector<JournalChange> changes;
};

// The digest of a stored form's bytes (64 bits, FNV-1a by words), the same in every
// process and on every host. An empty form (no file, no record) is 0.
CFGADM_EXPORT std::uint64_t journal_digest(const char* bytes, std::size_t length);

// Whether this process journals its saves (a platform may run without a
// journal); when not, the calls below do nothing and return 0.
CFGADM_EXPORT bool journal_enabled();

// Records `save` as pending; ticket names it for the calls below.
CFGADM_EXPORT int journal_begin(const JournalSave& save, std::uint64_t& ticket);
// The save was stored: the record joins the history.
CFGADM_EXPORT int journal_commit(std::uint64_t ticket);
// The save did not happen: the record goes.
CFGADM_EXPORT int journal_abandon(std::uint64_t ticket);
// Settles the target's pending records whose writers are gone: a record whose
// `after` equals `now` (the digest of the form stored now) is committed, any
// other dropped. With `lockHeld` the caller holds the set's write lock, which
// proves every pending record of the target abandoned, whoever wrote it;
// without it only the records of processes known to have ended are settled.
CFGADM_EXPORT int journal_settle(const String& kind, const String& target, std::uint64_t now,
                                 bool lockHeld);
// Records an event that needs no store write (a feature switched): begin and
// commit in one.
CFGADM_EXPORT int journal_record(const JournalSave& save);

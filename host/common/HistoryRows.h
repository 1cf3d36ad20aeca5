#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/platform/JournalStore.h"
#include "properties/Property.h"
#include "properties/PropertyAttributes.h"

// How the tools show the change journal: one flat row per property change,
// only to those who may see it. A side of a change (old or new) is visible
// to an access class when that side's attributes let the class read it; a
// change with no visible side is left out, and an invisible side of a shown
// change is null with "hidden": true, so a secret never travels to a class
// that may not read it.
class HistoryRows {
  public:
    // The set a record's target names, in words: "system", "class of
    // service 7", "subscriber 1001", a platform path, "feature NAME".
    static std::string targetWords(const JournalEntry& entry);
    // "2026-12-06T20:15:03.123Z": UTC, milliseconds.
    static std::string timeText(std::int64_t timeUs);
    // Parses a time as the options take it: "2026-12-06", "2026-12-06T20:15",
    // "2026-12-06 20:15:03" (UTC; a trailing "Z" allowed), or a duration back
    // from now: "90s", "15m", "2h", "7d". Empty when it is neither.
    static std::optional<std::int64_t> parseTime(const std::string& text, std::int64_t nowUs);

    // The JSON row of one change: seq, time, actor, box, program, pid,
    // sender_box (null unless a remote save), kind, target, then the change
    // fields (name, index, op, old_value, new_value with *_hex twins,
    // old_attributes, new_attributes).
    static nlohmann::json json(const JournalEntry& entry, const JournalChange& change,
                               PropertyAttributes::AccessType access);
    // The rows of entries that the class may see, in the entries' order,
    // at most limit (0: all).
    static nlohmann::json rows(const std::vector<JournalEntry>& entries,
                               PropertyAttributes::AccessType access, std::size_t limit = 0);
    // One line per change: "SEQ TIME ACTOR PROGRAM@BOX TARGET  + NAME#I VALUE"
    // (the change as `vmcfg props diff` prints it).
    static void print(const JournalEntry& entry, const JournalChange& change,
                      PropertyAttributes::AccessType access, std::ostream& out);
    // One side of a change as a property (old: before the save); empty for
    // the side an addition or removal lacks.
    static std::optional<Property> sideOf(const JournalChange& change, bool old);
    // Whether the class may see any side of the change.
    static bool visible(const JournalChange& change, PropertyAttributes::AccessType access);
};

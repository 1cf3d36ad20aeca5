#include "host/common/JournalRevert.h"

#include <cerrno>
#include <optional>
#include <sstream>

#include "host/common/AccessRights.h"
#include "host/common/EditCycle.h"
#include "host/common/HistoryRows.h"
#include "host/common/PropertyText.h"
#include "host/common/PropsTarget.h"
#include "host/common/SetDifference.h"
#include "host/platform/JournalStore.h"
#include "properties/Properties.h"

namespace {

using A = PropertyAttributes;

std::optional<Property> sideOf(const JournalChange& change, bool old) {
    return HistoryRows::sideOf(change, old);
}

// What putting the old side of `change` back does to the copy held now.
JournalChange undoOf(const std::optional<Property>& now, const JournalChange& change) {
    JournalChange undo;
    undo.name = change.name;
    undo.index = change.index;
    bool restores = change.op != JournalChange::ADDED;
    undo.op = !now       ? JournalChange::ADDED
              : restores ? JournalChange::CHANGED
                         : JournalChange::REMOVED;
    if (now) {
        undo.oldValue = String(now->value);
        undo.oldAttributes = String(now->attributes);
    }
    if (restores) {
        undo.newValue = change.oldValue;
        undo.newAttributes = change.oldAttributes;
    }
    return undo;
}

std::optional<Property> held(Properties& set, const JournalChange& change) {
    Property copy;
    copy.name = Symbol(change.name);
    copy.index = change.index;
    if (set.get(copy, A::Server) != Properties::GET_OK) return std::nullopt;
    return copy;
}

// Whether the copy is still as the record left it.
bool asLeft(const std::optional<Property>& now, const JournalChange& change) {
    if (change.op == JournalChange::REMOVED) return !now;
    return now && String(now->value) == change.newValue &&
           String(now->attributes) == change.newAttributes;
}

std::string copyName(const JournalChange& change) {
    return terminalText(change.name) + "#" + std::to_string(change.index);
}

// Names what changed the copy after the record: the newest later record
// that touched it, if the journal has one.
std::string conflictWords(JournalStore& store, const JournalEntry& entry,
                          const JournalChange& change) {
    JournalQuery query;
    query.kind = entry.kind;
    query.target = entry.target;
    query.name = change.name;
    query.afterSeq = entry.seq;
    query.limit = 0;
    std::vector<JournalEntry> later;
    std::string error;
    store.query(query, later, error);
    std::string words =
        copyName(change) + " is no longer as record " + std::to_string(entry.seq) + " left it: ";
    for (const JournalEntry& e : later)
        for (const JournalChange& c : e.changes)
            if (c.name == change.name && c.index == change.index)
                return words + "changed since by record " + std::to_string(e.seq) + " (" +
                       terminalText(e.actor) + ", " + HistoryRows::timeText(e.timeUs) + ")";
    return words + "changed by a save the journal does not show";
}

// Puts the old side of `change` back in place of what the set holds now.
int applyInverse(Properties& set, const JournalChange& change, A::AccessType access,
                 String& refusal) {
    std::optional<Property> now = held(set, change);
    std::optional<Property> old = sideOf(change, true);
    if (now) {
        if (old && String(now->attributes) != change.oldAttributes && access != A::Server &&
            access != A::Privileged) {
            refusal = String("class ") + accessClassName(access) + " may not change the " +
                      "attributes of " + copyName(change) + " (Server and Privileged may)";
            return 1;
        }
        Property gone = *now;
        int result = set.remove(gone, access);
        if (result != Properties::REMOVE_OK) {
            refusal = removeRefusal(result, access, change.name, change.index);
            return 1;
        }
    }
    if (!old) return 0;
    int result = set.put(*old, access);
    if (result != Properties::PUT_OK) {
        refusal = putRefusal(result, access, change.name, change.index);
        return 1;
    }
    return 0;
}

// The undo as a row and a line, with the sides the class may not read hidden.
void describe(const JournalEntry& entry, const JournalChange& undo, A::AccessType access,
              JournalRevert::Result& result, std::ostream& lines) {
    nlohmann::json row = HistoryRows::json(entry, undo, access);
    for (const char* field : {"seq", "time", "actor", "box", "program", "pid", "sender_box"})
        row.erase(field);
    row["reverts"] = entry.seq;
    result.rows.push_back(std::move(row));
    SetDifference::Row diff{SetDifference::Op::Changed, sideOf(undo, true), sideOf(undo, false)};
    diff.op = !diff.before  ? SetDifference::Op::Added
              : !diff.after ? SetDifference::Op::Removed
                            : SetDifference::Op::Changed;
    for (std::optional<Property>* p : {&diff.before, &diff.after}) {
        if (!*p || (*p)->attributes.readable(access)) continue;
        (*p)->value = PropertyValue();
        (*p)->value.modify("(hidden)", 0);
    }
    lines << "  ";
    SetDifference::print(diff, lines);
}

JournalRevert::Result failed(int status, const std::string& words) {
    JournalRevert::Result result;
    result.status = status;
    result.words = words;
    return result;
}

// The record, cut to the changes the class may see.
std::optional<JournalEntry> visibleRecord(JournalStore& store, std::uint64_t seq,
                                          A::AccessType access, JournalRevert::Result& result) {
    JournalEntry entry;
    std::string error;
    int rc = store.entry(seq, entry, error);
    if (rc != 0) {
        result =
            failed(rc == ENOENT ? 2 : 1, rc == ENOENT ? "no journal record " + std::to_string(seq)
                                                      : "can't read the journal: " + error);
        return std::nullopt;
    }
    if (entry.kind == "feature") {
        result = failed(2, "record " + std::to_string(seq) +
                               " switched a feature: switch it back with vmcfg features");
        return std::nullopt;
    }
    std::erase_if(entry.changes,
                  [&](const JournalChange& c) { return !HistoryRows::visible(c, access); });
    if (entry.changes.empty()) {
        result = failed(2, "record " + std::to_string(seq) + " has nothing class " +
                               accessClassName(access) + " may revert");
        return std::nullopt;
    }
    return entry;
}

// Checks and applies every undo on a freshly read set; 0 to save it.
// `done` gets what each undo changed in the set.
int undoAll(Properties& set, JournalStore& store, const JournalEntry& entry,
            const JournalRevert::Options& options, std::vector<JournalChange>& done,
            std::ostream& err) {
    bool conflict = false;
    for (const JournalChange& change : entry.changes)
        if (!asLeft(held(set, change), change)) {
            err << conflictWords(store, entry, change) << "\n";
            conflict = true;
        }
    if (conflict && !options.force) {
        err << "nothing reverted (--force reverts all the same)\n";
        return 1;
    }
    done.clear();
    for (const JournalChange& change : entry.changes) {
        std::optional<Property> now = held(set, change);
        // Forced over a copy already as the record found it: nothing to do.
        if (!now && change.op == JournalChange::ADDED) continue;
        JournalChange undo = undoOf(now, change);
        if (undo.op == JournalChange::CHANGED && undo.oldValue == undo.newValue &&
            undo.oldAttributes == undo.newAttributes)
            continue;
        done.push_back(undo);
        String refusal;
        if (applyInverse(set, change, options.access, refusal) != 0) {
            err << refusal << "\nnothing reverted\n";
            return 1;
        }
    }
    return 0;
}

}  // namespace

JournalRevert::Result JournalRevert::run(std::uint64_t seq, const Options& options) {
    std::string error;
    JournalStore* store = JournalStore::current(error);
    if (store == nullptr)
        return failed(1, error.empty() ? "the change journal is off" : "no journal: " + error);
    Result result;
    std::optional<JournalEntry> entry = visibleRecord(*store, seq, options.access, result);
    if (!entry) return result;
    PropsTarget target;
    String why;
    if (!target.chooseJournaled(entry->kind, entry->target, why)) return failed(1, why);
    std::ostringstream err;
    std::vector<JournalChange> done;
    EditCycle cycle(target, true);
    cycle.setDryRun(options.dryRun);
    result.status = cycle.run(
        [&](Properties& set) {
            err.str("");
            return undoAll(set, *store, *entry, options, done, err);
        },
        err);
    if (result.status != 0) {
        result.words = err.str();
        return result;
    }
    std::ostringstream lines;
    lines << (options.dryRun ? "dry run, nothing written: would revert" : "reverted") << " record "
          << seq << " in " << HistoryRows::targetWords(*entry) << "\n";
    for (const JournalChange& undo : done) describe(*entry, undo, options.access, result, lines);
    if (done.empty()) lines << "  (every copy already as before the record)\n";
    result.words = err.str() + lines.str();
    return result;
}

#include "host/vmcfg/PropsWatch.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <ostream>
#include <set>

#include "host/common/AccessRights.h"
#include "host/common/HistoryRows.h"
#include "host/common/JsonText.h"
#include "host/common/StopSignals.h"
#include "host/common/TerminalText.h"
#include "host/platform/JournalStore.h"

namespace {

// How long one wait on the journal lasts: the longest a signal waits to be
// seen, and the longest a change the journal's wake-up missed waits.
constexpr int kWaitMs = 250;

bool stopAsked(int signals) {
    struct pollfd ready = {signals, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
}

void print(const JournalEntry& entry, PropertyAttributes::AccessType access, bool json,
           std::ostream& out) {
    if (json)
        for (const nlohmann::json& row : HistoryRows::rows({entry}, access)) out << jsonText(row);
    else
        for (const JournalChange& change : entry.changes)
            if (HistoryRows::visible(change, access))
                HistoryRows::print(entry, change, access, out);
}

// Where a watch is in a set's history. A record still pending (an owner's
// save between its write and its record) may yet join the history with a
// number below one already shown, so the records above the last number up to
// which nothing is pending are read again, and those seen are skipped.
struct Cursor {
    JournalStore* store = nullptr;
    JournalQuery query;
    std::uint64_t seen = 0;         // the newest record seen
    std::set<std::uint64_t> shown;  // records above query.afterSeq seen

    void settle() {
        std::uint64_t floor = seen;
        std::vector<JournalEntry> pending;
        if (!query.kind.empty() && store->pending(query.kind, query.target, pending) == 0)
            for (const JournalEntry& entry : pending) floor = std::min(floor, entry.seq - 1);
        query.afterSeq = floor;
        std::erase_if(shown, [&](std::uint64_t seq) { return seq <= floor; });
    }
    // Starts after the history as it is now.
    int start(std::string& error) {
        if (int rc = store->lastSeq(seen, error)) return rc;
        settle();
        std::vector<JournalEntry> fresh;
        return next(fresh, error);
    }
    // The records that joined the history since the last call.
    int next(std::vector<JournalEntry>& fresh, std::string& error) {
        std::vector<JournalEntry> entries;
        if (int rc = store->query(query, entries, error)) return rc;
        for (JournalEntry& entry : entries) {
            if (!shown.insert(entry.seq).second) continue;
            seen = std::max(seen, entry.seq);
            fresh.push_back(std::move(entry));
        }
        settle();
        return 0;
    }
};

}  // namespace

PropsWatch::PropsWatch(CLI::App* group) {
    watch_ = group->add_subcommand("watch", "Print each change to the set as it is saved");
    watch_->add_option("words", words_, "[FILE]");
    target_.addOptions(watch_);
    watch_->add_option("--access", access_, "Show values this class may read")
        ->capture_default_str();
    watch_->fallthrough();
}

bool PropsWatch::selected() const {
    return watch_->parsed();
}

bool PropsWatch::usable(PropertyAttributes::AccessType& access, std::ostream& err) {
    if (!parseAccessClass(access_, access)) {
        err << "vmcfg: --access: unknown access class '" << terminalText(access_) << "'"
            << std::endl;
        return false;
    }
    if (!target_.choose(words_, 0, err)) return false;
    if (words_.empty()) return true;
    err << "vmcfg: props watch takes one set" << std::endl;
    return false;
}

int PropsWatch::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    PropertyAttributes::AccessType access;
    if (!usable(access, err)) return 2;
    int signals = stopSignals();
    std::string error;
    Cursor cursor;
    cursor.store = JournalStore::current(error);
    cursor.query.kind = target_.journalQueryKind();
    cursor.query.target = target_.journalKey();
    cursor.query.limit = 0;
    cursor.query.oldestFirst = true;
    if (signals < 0 || cursor.store == nullptr || cursor.start(error) != 0) {
        err << "vmcfg: can't watch the change journal: "
            << (signals < 0     ? "can't take the stop signals"
                : error.empty() ? "it is off (VM_JOURNAL=off)"
                                : error)
            << std::endl;
        return 1;
    }
    // Said once the history as it is now is behind the cursor: from here on
    // every change is printed (scripts may wait for this line).
    err << "vmcfg: watching " << terminalText(target_.describe()) << " for changes; Ctrl-C stops"
        << std::endl;
    while (!stopAsked(signals)) {
        cursor.store->waitForChange(cursor.seen, kWaitMs);
        std::vector<JournalEntry> fresh;
        if (cursor.next(fresh, error) != 0) {
            err << "vmcfg: can't read the change journal: " << error << std::endl;
            return 1;
        }
        for (const JournalEntry& entry : fresh) print(entry, access, options.json, out);
        out << std::flush;
    }
    ::close(signals);
    return 0;
}

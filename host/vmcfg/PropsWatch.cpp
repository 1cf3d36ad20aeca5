#include "host/vmcfg/PropsWatch.h"

#include <poll.h>
#include <unistd.h>

#include <ostream>

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

int PropsWatch::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    PropertyAttributes::AccessType access;
    if (!parseAccessClass(access_, access)) {
        err << "vmcfg: --access: unknown access class '" << terminalText(access_) << "'"
            << std::endl;
        return 2;
    }
    if (!target_.choose(words_, 0, err)) return 2;
    if (!words_.empty()) {
        err << "vmcfg: props watch takes one set" << std::endl;
        return 2;
    }
    int signals = stopSignals();
    std::string error;
    JournalStore* store = JournalStore::current(error);
    JournalQuery query;
    query.kind = target_.journalKind();
    query.target = target_.journalKey();
    query.limit = 0;
    query.oldestFirst = true;
    if (signals < 0 || store == nullptr || store->lastSeq(query.afterSeq, error) != 0) {
        err << "vmcfg: can't watch the change journal: "
            << (signals < 0     ? "can't take the stop signals"
                : error.empty() ? "it is off (VM_JOURNAL=off)"
                                : error)
            << std::endl;
        return 1;
    }
    while (!stopAsked(signals)) {
        store->waitForChange(query.afterSeq, kWaitMs);
        std::vector<JournalEntry> entries;
        if (store->query(query, entries, error) != 0) {
            err << "vmcfg: can't read the change journal: " << error << std::endl;
            return 1;
        }
        for (const JournalEntry& entry : entries) {
            query.afterSeq = std::max(query.afterSeq, entry.seq);
            if (options.json)
                for (const nlohmann::json& row : HistoryRows::rows({entry}, access))
                    out << jsonText(row);
            else
                for (const JournalChange& change : entry.changes)
                    if (HistoryRows::visible(change, access))
                        HistoryRows::print(entry, change, access, out);
        }
        out << std::flush;
    }
    ::close(signals);
    return 0;
}

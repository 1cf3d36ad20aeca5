#include "host/vmcfg/HistoryCommands.h"

#include <cerrno>
#include <chrono>
#include <ostream>

#include "host/common/AccessRights.h"
#include "host/common/HistoryRows.h"
#include "host/common/JsonText.h"
#include "host/common/TerminalText.h"
#include "host/platform/JournalStore.h"

namespace {

using A = PropertyAttributes;

std::int64_t nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// The journal, or null having said why not.
JournalStore* journal(std::ostream& err) {
    std::string error;
    JournalStore* store = JournalStore::current(error);
    if (store == nullptr)
        err << "vmcfg: "
            << (error.empty() ? std::string("the change journal is off (VM_JOURNAL=off)")
                              : "can't open the change journal: " + error)
            << std::endl;
    return store;
}

bool accessOf(const String& text, A::AccessType& access, std::ostream& err) {
    if (parseAccessClass(text, access)) return true;
    err << "vmcfg: --access: unknown access class '" << terminalText(text)
        << "' (server, privileged, trusted, standard, restricted, minimal)" << std::endl;
    return false;
}

void printEntries(const std::vector<JournalEntry>& entries, A::AccessType access, std::size_t limit,
                  std::ostream& out) {
    std::size_t shown = 0;
    for (const JournalEntry& entry : entries)
        for (const JournalChange& change : entry.changes) {
            if (limit != 0 && shown >= limit) return;
            if (entry.kind != "feature" && !HistoryRows::visible(change, access)) continue;
            HistoryRows::print(entry, change, access, out);
            ++shown;
        }
}

// The records a query answers, cut to `limit` changes the class may see.
// The store cuts by every change, seen or not: when some were hidden the
// query is asked again without a limit.
int fetch(JournalStore& store, JournalQuery query, A::AccessType access,
          std::vector<JournalEntry>& out, std::ostream& err) {
    std::size_t limit = query.limit;
    std::string error;
    for (int pass = 0; pass < 2; ++pass) {
        out.clear();
        if (store.query(query, out, error) != 0) {
            err << "vmcfg: can't read the change journal: " << error << std::endl;
            return 1;
        }
        if (limit == 0 || HistoryRows::rows(out, access).size() >= limit) return 0;
        std::size_t all = 0;
        for (const JournalEntry& entry : out) all += entry.changes.size();
        if (all < limit) return 0;
        query.limit = 0;
    }
    return 0;
}

}  // namespace

HistoryCommands::HistoryCommands(CLI::App& app) {
    group_ = app.add_subcommand("history", "The change journal: who changed which property, when");
    group_->add_option("words", words_, "[FILE]");
    target_.addOptions(group_);
    group_->add_option("--name", name_, "Only changes of this property name");
    group_->add_option("--since", since_, "From this time (2026-12-06, 2026-12-06T20:15, 2h, 7d)");
    group_->add_option("--until", until_, "Before this time (same forms)");
    group_->add_option("--actor", actor_, "Only changes made by this user");
    group_->add_option("--limit", limit_, "At most this many changes")->capture_default_str();
    show_ = group_->add_subcommand("show", "Every change of one journal record");
    show_->add_option("seq", seq_, "The record's number")->required();
    prune_ = group_->add_subcommand("prune", "Remove the records older than --days");
    prune_->add_option("--days", days_, "Keep this many days (default $VM_JOURNAL_KEEP_DAYS, 365)");
    for (CLI::App* command : {group_, show_})
        command->add_option("--access", access_, "Show values this class may read")
            ->capture_default_str();
    group_->footer(
        "Exit status: 0 done; 1 no such record or journal unreadable; 2 bad usage; 3 a "
        "change was saved but not recorded in the journal.");
}

bool HistoryCommands::selected() const {
    return group_->parsed();
}

bool HistoryCommands::targetGiven() const {
    for (const char* option : {"--system", "--message", "--cos", "--subscriber"})
        if (group_->get_option(option)->count() > 0) return true;
    return !words_.empty();
}

int HistoryCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    if (options.valueOnly()) {
        err << "vmcfg: -o value prints one value: props show --name NAME (and param get)"
            << std::endl;
        return 2;
    }
    if (show_->parsed()) return show(options, out, err);
    if (prune_->parsed()) return prune(options, out, err);
    return list(options, out, err);
}

bool HistoryCommands::queryOf(JournalQuery& query, std::ostream& err) {
    if (targetGiven()) {
        if (!target_.choose(words_, 0, err)) return false;
        if (!words_.empty()) {
            err << "vmcfg: history takes one set" << std::endl;
            return false;
        }
        query.kind = target_.journalQueryKind();
        query.target = target_.journalKey();
    }
    if (limit_ < 1) {
        err << "vmcfg: --limit: " << limit_ << " is not a number of changes (1 or more)"
            << std::endl;
        return false;
    }
    query.limit = static_cast<std::size_t>(limit_);
    query.name = name_;
    query.actor = actor_;
    std::int64_t now = nowUs();
    for (auto [text, bound, option] : {std::tuple{&since_, &query.sinceUs, "--since"},
                                       std::tuple{&until_, &query.untilUs, "--until"}}) {
        if (text->empty()) continue;
        *bound = HistoryRows::parseTime(*text, now);
        if (!*bound) {
            err << "vmcfg: " << option << ": '" << terminalText(*text)
                << "' is not a time (2026-12-06, 2026-12-06T20:15, 2026-12-06 20:15:03) or a "
                   "duration back from now (90s, 15m, 2h, 7d)"
                << std::endl;
            return false;
        }
    }
    return true;
}

// Said on standard error, as a note: a mistyped path or name finds nothing,
// and silence would look like success.
void HistoryCommands::noChange(const JournalQuery& query, std::ostream& err) {
    String of = query.kind.empty() && query.target.empty() ? "" : "of this set ";
    if (!query.name.empty() || !query.actor.empty() || query.sinceUs || query.untilUs)
        err << "vmcfg: no recorded change " << of << "matches the filters" << std::endl;
    else
        err << "vmcfg: no change " << of << "is recorded" << std::endl;
}

int HistoryCommands::list(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    A::AccessType access;
    JournalQuery query;
    if (!accessOf(access_, access, err) || !queryOf(query, err)) return 2;
    JournalStore* store = journal(err);
    if (store == nullptr) return 1;
    // A writer killed between its write and its record left the record
    // pending: settled here so that its save shows.
    if (targetGiven()) target_.settleJournal();
    std::vector<JournalEntry> entries;
    if (int status = fetch(*store, query, access, entries, err)) return status;
    if (options.json)
        out << jsonText(HistoryRows::rows(entries, access, query.limit));
    else if (entries.empty())
        noChange(query, err);
    else
        printEntries(entries, access, query.limit, out);
    return 0;
}

int HistoryCommands::show(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    A::AccessType access;
    if (!accessOf(access_, access, err)) return 2;
    if (seq_.empty() || seq_.size() > 19 || seq_.find_first_not_of("0123456789") != String::npos) {
        err << "vmcfg: history show: '" << terminalText(seq_) << "' is not a record number"
            << std::endl;
        return 2;
    }
    JournalStore* store = journal(err);
    if (store == nullptr) return 1;
    JournalEntry entry;
    std::string error;
    int rc = store->entry(std::stoull(seq_), entry, error);
    if (rc != 0) {
        err << "vmcfg: " << (rc == ENOENT ? "no journal record " + seq_ : "can't read it: " + error)
            << std::endl;
        return 1;
    }
    if (options.json)
        out << jsonText(HistoryRows::rows({entry}, access));
    else
        printEntries({entry}, access, 0, out);
    return 0;
}

int HistoryCommands::prune(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    if (prune_->get_option("--days")->count() == 0) days_ = JournalStore::keepDays();
    if (days_ < 1 || days_ > 100000) {
        err << "vmcfg: --days: " << days_ << " is not a number of days (1 to 100000)" << std::endl;
        return 2;
    }
    JournalStore* store = journal(err);
    if (store == nullptr) return 1;
    long removed = 0;
    std::string error;
    if (store->prune(nowUs() - days_ * 86400LL * 1000000, removed, error) != 0) {
        err << "vmcfg: can't prune the change journal: " << error << std::endl;
        return 1;
    }
    if (options.json)
        out << jsonText({{"removed", removed}, {"days", days_}});
    else
        out << "removed " << removed << (removed == 1 ? " record" : " records") << " older than "
            << days_ << " days\n";
    return 0;
}

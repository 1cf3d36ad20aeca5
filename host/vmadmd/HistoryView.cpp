#include "host/vmadmd/HistoryView.h"

#include <charconv>
#include <chrono>

#include "host/common/AccessRights.h"
#include "host/common/HistoryRows.h"

namespace {

constexpr std::string_view kOwn[] = {"name", "since", "until", "actor", "limit", "access"};

// However many changes a class may not see, a page is looked for in at most
// this many of the newest: a long hidden stretch cuts the page short rather
// than reading the whole journal.
constexpr std::size_t kMaxScan = 16 * HistoryView::kMaxLimit;

String timeRefusal(const std::string& name, const std::string& value) {
    return name + ": \"" + value +
           "\" is not a time (2026-12-06, 2026-12-06T20:15, 2026-12-06 20:15:03, all UTC, or a "
           "duration back from now: 90s, 15m, 2h, 7d)";
}

std::int64_t nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

JournalStore* HistoryView::journal(ConsoleReply& refusal) {
    std::string why;
    JournalStore* store = JournalStore::current(why);
    if (store == nullptr)
        refusal = ConsoleReply::error(503, JournalStore::disabled()
                                               ? "the change journal is off ($VM_JOURNAL=off)"
                                               : "can't open the change journal: " + why);
    return store;
}

ConsoleReply HistoryView::answer(const SetQuery::Query& query) {
    HistoryView view;
    String refusal;
    if (!view.parse(query, nowUs(), refusal)) return ConsoleReply::error(400, refusal);
    ConsoleReply unavailable;
    JournalStore* store = journal(unavailable);
    return store == nullptr ? unavailable : view.list(*store);
}

bool HistoryView::parse(const SetQuery::Query& query, std::int64_t now, String& error) {
    if (!set_.parse(query, kOwn, error)) return false;
    journal_.kind = set_.target().journalQueryKind();
    journal_.target = set_.target().journalKey();
    for (std::string_view own : kOwn) {
        auto [first, last] = query.equal_range(std::string(own));
        if (first == last) continue;
        if (std::next(first) != last) {
            error = "give " + std::string(own) + " once";
            return false;
        }
        if (!take(first->first, first->second, now, error)) return false;
    }
    if (journal_.sinceUs && journal_.untilUs && *journal_.sinceUs >= *journal_.untilUs) {
        error = "since must come before until";
        return false;
    }
    return true;
}

bool HistoryView::take(const std::string& name, const std::string& value, std::int64_t now,
                       String& error) {
    if (name == "name") {
        journal_.name = value;
    } else if (name == "actor") {
        journal_.actor = value;
    } else if (name == "since" || name == "until") {
        std::optional<std::int64_t> time = HistoryRows::parseTime(value, now);
        if (!time) return (error = timeRefusal(name, value)), false;
        (name == "since" ? journal_.sinceUs : journal_.untilUs) = time;
    } else if (name == "limit") {
        auto [end, failed] = std::from_chars(value.data(), value.data() + value.size(), limit_);
        if (failed != std::errc() || end != value.data() + value.size() || limit_ == 0 ||
            limit_ > kMaxLimit) {
            error = "limit: \"" + value + "\" is not a whole number from 1 to " +
                    std::to_string(kMaxLimit);
            return false;
        }
    } else if (!parseAccessClass(value, access_)) {
        error = "access: \"" + value +
                "\" is not an access class (Server, Privileged, Trusted, Standard, Restricted, "
                "Minimal)";
        return false;
    }
    return true;
}

ConsoleReply HistoryView::list(JournalStore& store) {
    // A save whose writer was killed between its write and its record is
    // still pending; settled now, it shows. A failure here only leaves it
    // for the next save of the set to settle.
    set_.target().settleJournal();
    // The store counts changes, the class may see fewer of them: ask for
    // more until the page is full or the set's history is read to its end.
    for (std::size_t fetch = limit_;; fetch *= 4) {
        journal_.limit = fetch;
        std::vector<JournalEntry> entries;
        std::string error;
        if (store.query(journal_, entries, error) != 0)
            return ConsoleReply::error(500, "can't read the change journal: " + error);
        nlohmann::json rows = HistoryRows::rows(entries, access_, limit_);
        std::size_t fetched = 0;
        for (const JournalEntry& entry : entries) fetched += entry.changes.size();
        if (rows.size() >= limit_ || fetched < fetch || fetch >= kMaxScan) return {200, rows};
    }
}

#include "host/platform/EtcdJournal.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <random>
#include <thread>

#include "host/platform/Base64Text.h"
#include "host/platform/EtcdIndexUrl.h"
#include "host/platform/EtcdJournalCodec.h"
#include "host/platform/EtcdTxn.h"
#include "host/platform/HostTrace.h"
#include "host/platform/ProcessId.h"

using Clock = std::chrono::steady_clock;
using nlohmann::json;
using Outcome = EtcdGateway::Outcome;
using Range = EtcdJournalScan::Range;
using Page = EtcdJournalScan::Page;

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(100);
// Markers read with a begin() serve the settles of the second after it.
constexpr auto kMarkersFresh = std::chrono::seconds(1);
constexpr long kMarkersKept = 256;

bool decimal(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoull(text);
    return true;
}

// Tells two writers' records apart, also in processes forked from one.
std::string makeNonce() {
    static std::random_device random;
    return std::to_string(random()) + "." + std::to_string(random()) + "." +
           std::to_string(::getpid());
}

}  // namespace

std::unique_ptr<JournalStore> EtcdJournal::open(const EtcdIndexUrl& url, std::string& error) {
    EtcdGateway::Options options = url.gatewayOptions();
    std::unique_ptr<EtcdGateway> gateway = EtcdGateway::open(options, error);
    if (!gateway) {
        error = "the journal on etcd: " + error;
        return nullptr;
    }
    return std::unique_ptr<JournalStore>(
        new EtcdJournal(std::move(options), url.prefix(), std::move(gateway)));
}

EtcdJournal::EtcdJournal(EtcdGateway::Options options, const std::string& prefix,
                         std::unique_ptr<EtcdGateway> gateway)
    : link_(std::move(options), prefix + "/journal", std::move(gateway)), scan_(link_) {}

EtcdJournal::~EtcdJournal() = default;

// The counter still at the revision last seen and no record under the
// number: the number is ours, with the record and its marker. Otherwise the
// same round trip reads the counter and the record that holds the number.
int EtcdJournal::claim(std::uint64_t next, Counter& seen, const Documents& documents,
                       Claim& claim) {
    const EtcdJournalCodec& codec = link_.codec();
    EtcdTxn txn;
    txn.ifModRevision(codec.counterKey(), seen.revision)
        .ifCreateRevision(codec.recordKey(next), 0)
        .put(codec.counterKey(), std::to_string(next))
        .put(codec.recordKey(next), documents.record)
        .put(codec.pendingKey(next), documents.marker)
        .readRange(codec.pendingKey(0), codec.pendingEnd(), kMarkersKept)
        .orRead(codec.counterKey())
        .orRead(codec.recordKey(next));
    std::string response;
    int rc = link_.post("/v3/kv/txn", txn.body(), "can't begin a record", response, nullptr);
    if (rc != 0) return rc;
    json answer = json::parse(response);
    if (EtcdTxn::succeeded(answer)) {
        seen = {next, EtcdTxn::number(answer.value("header", json::object()), "revision")};
        keepMarkers(answer, 3);
        claim = Claim::Won;
        return 0;
    }
    json counter = EtcdTxn::found(answer, 0), holder = EtcdTxn::found(answer, 1);
    std::string text, document, theirs;
    seen = {0, 0};
    if (!counter.empty()) {
        if (!bytesOfBase64(EtcdTxn::text(counter[0], "value"), text) || !decimal(text, seen.last))
            return link_.failure({Outcome::Failed, "the record counter holds \"" + text + "\""},
                                 "can't begin a record", nullptr);
        seen.revision = EtcdTxn::number(counter[0], "mod_revision");
    }
    JournalEntry entry;
    // An earlier send of this same transaction may have got through.
    bool mine = !holder.empty() && bytesOfBase64(EtcdTxn::text(holder[0], "value"), document) &&
                EtcdJournalCodec::decode(document, entry, &theirs) && theirs == documents.nonce;
    claim = mine ? Claim::Won : !holder.empty() && seen.last < next ? Claim::Behind : Claim::Lost;
    return 0;
}

void EtcdJournal::keepMarkers(const json& answer, std::size_t at) {
    Markers read;
    const EtcdJournalCodec& codec = link_.codec();
    read.readAt = Clock::now();
    json found = EtcdTxn::found(answer, at);
    // Cut by the limit: the list is not whole, and is not kept.
    read.complete = static_cast<long>(found.size()) < kMarkersKept;
    for (const json& kv : found) {
        Item item;
        if (!bytesOfBase64(EtcdTxn::text(kv, "key"), item.key) ||
            !bytesOfBase64(EtcdTxn::text(kv, "value"), item.value))
            read.complete = false;
        item.seq = codec.seqOf(item.key);
        read.items.push_back(std::move(item));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    markers_ = std::move(read);
}

int EtcdJournal::newestSeq(std::uint64_t& newest) {
    Page last;
    const EtcdJournalCodec& codec = link_.codec();
    Range range{codec.recordKey(0), codec.recordsEnd(), true, true, 1, 0};
    int rc = scan_.read(range, last, nullptr);
    if (rc == 0 && !last.items.empty()) newest = std::max(newest, last.items.front().seq);
    return rc;
}

// The oldest records go a page at a time, once per process, so that a
// journal nobody prunes still keeps to its retention and no save waits for
// a long delete. A failure only costs this round.
bool EtcdJournal::retentionDue() {
    std::lock_guard<std::mutex> lock(mutex_);
    bool due = retentionPid_ != ProcessId::current();
    retentionPid_ = ProcessId::current();
    return due;
}

void EtcdJournal::applyRetention() {
    using namespace std::chrono;
    const std::int64_t nowUs =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const std::int64_t cutoff = nowUs - std::int64_t(JournalStore::keepDays()) * 86400 * 1000000;
    std::vector<std::uint64_t> old;
    long seen = 0, removed = 0;
    std::string error;
    int rc = scan_.scan(
        1, false, false, EtcdJournalScan::kFirstPage,
        [&](std::uint64_t seq, const std::string& document) {
            JournalEntry entry;
            if (EtcdJournalCodec::decode(document, entry) && entry.timeUs < cutoff)
                old.push_back(seq);
            return ++seen < EtcdJournalScan::kFirstPage ? 0 : EtcdJournalScan::kStop;
        },
        &error);
    if (rc == 0 && !old.empty()) rc = scan_.removeRecords(old, removed, error);
    if (rc != 0) HostTrace::record(1, error);
}

int EtcdJournal::begin(const JournalEntry& entry, std::uint64_t& seq) {
    Documents documents;
    documents.nonce = makeNonce();
    documents.record = EtcdJournalCodec::encode(entry, true, documents.nonce);
    documents.marker = EtcdJournalCodec::encode(entry, false, documents.nonce);
    Counter seen;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen = counter_;
    }
    // Other writers may keep taking the number first; each round is one
    // round trip, so this only ends a pathological race.
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(2 * link_.timeoutMs());
    std::uint64_t newest = 0;
    for (int round = 1;; ++round) {
        std::uint64_t next = std::max(seen.last, newest) + 1;
        Claim outcome = Claim::Lost;
        int rc = claim(next, seen, documents, outcome);
        // A counter behind the records (deleted, restored from a backup)
        // must not make writers overwrite them.
        if (rc == 0 && outcome == Claim::Behind) rc = newestSeq(newest);
        if (rc != 0) return rc;
        if (outcome == Claim::Won) {
            seq = next;
            std::lock_guard<std::mutex> lock(mutex_);
            if (seen.revision > counter_.revision) counter_ = seen;
            return 0;
        }
        if (Clock::now() >= deadline)
            return link_.failure(
                {Outcome::Unavailable, "other writers took the next number " +
                                           std::to_string(round) + " times within " +
                                           std::to_string(2 * link_.timeoutMs()) + " ms"},
                "can't begin a record", nullptr);
    }
}

int EtcdJournal::end(std::uint64_t seq, bool keep) {
    {
        // Ended here: no settle may see it pending in the kept list.
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase_if(markers_.items, [&](const Item& item) { return item.seq == seq; });
    }
    const EtcdJournalCodec& codec = link_.codec();
    std::string response;
    if (keep) {
        json request = {{"key", base64Of(codec.pendingKey(seq))}};
        int rc = link_.post("/v3/kv/deleterange", request.dump(),
                            "can't commit record " + std::to_string(seq), response, nullptr);
        // After the save's write, never between its read and its write.
        if (rc == 0 && retentionDue()) applyRetention();
        return rc;
    }
    // Only while still pending: a committed record is never dropped.
    EtcdTxn txn;
    txn.ifExists(codec.pendingKey(seq)).remove(codec.recordKey(seq)).remove(codec.pendingKey(seq));
    return link_.post("/v3/kv/txn", txn.body(), "can't drop record " + std::to_string(seq),
                      response, nullptr);
}

int EtcdJournal::markers(std::vector<Item>& items) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (markers_.complete && Clock::now() - markers_.readAt < kMarkersFresh) {
            items = markers_.items;
            return 0;
        }
    }
    const EtcdJournalCodec& codec = link_.codec();
    Range all{codec.pendingKey(0), codec.pendingEnd(), false, false, kMarkersKept, 0};
    for (;;) {
        Page page;
        int rc = scan_.read(all, page, nullptr);
        if (rc != 0) return rc;
        std::move(page.items.begin(), page.items.end(), std::back_inserter(items));
        if (!page.more || page.items.empty()) return 0;
        all.from = items.back().key + '\0';
    }
}

int EtcdJournal::pending(const std::string& kind, const std::string& target,
                         std::vector<JournalEntry>& out) {
    std::vector<Item> items;
    int rc = markers(items);
    for (const Item& item : items) {
        JournalEntry entry;
        if (item.seq == 0 || !EtcdJournalCodec::decode(item.value, entry)) continue;
        if (entry.kind != kind || entry.target != target) continue;
        entry.seq = item.seq;
        out.push_back(std::move(entry));
    }
    return rc;
}

int EtcdJournal::query(const JournalQuery& query, std::vector<JournalEntry>& out,
                       std::string& error) {
    return scan_.query(query, out, error);
}

int EtcdJournal::entry(std::uint64_t seq, JournalEntry& out, std::string& error) {
    return scan_.entry(seq, out, error);
}

int EtcdJournal::prune(std::int64_t beforeUs, long& removed, std::string& error) {
    return scan_.prune(beforeUs, removed, error);
}

int EtcdJournal::lastSeq(std::uint64_t& seq, std::string& error) {
    return scan_.lastSeq(seq, error);
}

// etcd's watch needs a streaming client; a newest-number check every 100 ms
// costs two small reads.
void EtcdJournal::waitForChange(std::uint64_t seq, int timeoutMs) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::uint64_t last = 0;
        std::string error;
        bool answered = lastSeq(last, error) == 0;
        if (answered && last > seq) return;
        Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return;
        // A cluster that does not answer is not asked again at once.
        std::this_thread::sleep_for(answered ? std::min<Clock::duration>(left, kPollStep) : left);
        if (!answered) return;
    }
}

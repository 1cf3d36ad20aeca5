#include "host/platform/EtcdJournal.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>

#include "host/platform/Base64Text.h"
#include "host/platform/EtcdIndexUrl.h"
#include "host/platform/HostTrace.h"

using Clock = std::chrono::steady_clock;
using nlohmann::json;
using Outcome = EtcdGateway::Outcome;

namespace {

// Pages are sized for about this many bytes of records, so that a journal
// of large records does not pull hundreds of megabytes in one answer.
constexpr std::size_t kPageBytes = 4 << 20;
// etcd refuses a transaction of more than 128 operations by default.
constexpr std::size_t kDeleteBatch = 64;
// Before any record was seen: at most this many, whatever their size.
constexpr long kFirstPage = 64;
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
    EtcdGateway::Options options;
    for (const EtcdIndexUrl::Endpoint& endpoint : url.endpoints())
        options.endpoints.push_back(EtcdIndexUrl::authority(endpoint));
    options.timeoutMs = url.timeoutMs();
    if (!url.tlsDir().empty()) {
        options.caFile = url.tlsDir() + "/ca.pem";
        options.certFile = url.tlsDir() + "/client.pem";
        options.keyFile = url.tlsDir() + "/client.key";
    }
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
    : options_(std::move(options)),
      codec_(prefix + "/journal"),
      pid_(::getpid()),
      gateway_(std::move(gateway)) {}

// Closing a parent's connections from a child would end its TLS sessions.
EtcdJournal::~EtcdJournal() {
    for (std::unique_ptr<EtcdGateway>& inherited : inherited_) inherited.release();
    if (pid_ != ::getpid()) gateway_.release();
}

EtcdGateway& EtcdJournal::gateway() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pid_ != ::getpid()) {
        std::string error;
        // The options were accepted once; only the TLS files can have gone.
        std::unique_ptr<EtcdGateway> fresh = EtcdGateway::open(options_, error);
        if (fresh) {
            inherited_.push_back(std::move(gateway_));
            gateway_ = std::move(fresh);
            pid_ = ::getpid();
        } else {
            HostTrace::record(1, "the journal on etcd: " + error);
        }
    }
    return *gateway_;
}

int EtcdJournal::failure(const EtcdGateway::Result& result, const std::string& what,
                         std::string* error) {
    int code = EIO;
    // Whether the members were unreachable or without a quorum, the cluster
    // did not answer in time.
    if (result.outcome == Outcome::Unavailable) code = ETIMEDOUT;
    if (result.outcome == Outcome::TooLarge ||
        result.message.find("space exceeded") != std::string::npos)
        code = ENOSPC;
    std::string words = "the journal on etcd (" + codec_.prefix() + "): " + what + ": " +
                        (result.message.empty() ? "failed" : result.message);
    if (error != nullptr) {
        *error = words;
    } else {
        HostTrace::record(1, words);
    }
    return code;
}

int EtcdJournal::post(const std::string& path, const std::string& body, const std::string& what,
                      std::string& response, std::string* error) {
    EtcdGateway::Result result = gateway().post(path, body, response);
    if (!result.ok()) return failure(result, what, error);
    if (!json::accept(response))
        return failure({Outcome::Failed, "the answer is not JSON"}, what, error);
    return 0;
}

int EtcdJournal::read(const Range& range, Page& page, std::string* error) {
    json request = {{"key", base64Of(range.from)},
                    {"range_end", base64Of(range.to)},
                    {"sort_order", range.descending ? "DESCEND" : "ASCEND"},
                    {"sort_target", "KEY"},
                    {"keys_only", range.keysOnly}};
    if (range.limit > 0) request["limit"] = range.limit;
    if (range.revision > 0) request["revision"] = std::to_string(range.revision);
    std::string response;
    int rc = post("/v3/kv/range", request.dump(), "can't read the records", response, error);
    if (rc != 0) return rc;
    json reply = json::parse(response);
    page.revision = EtcdTxn::number(reply.value("header", json::object()), "revision");
    auto more = reply.find("more");
    page.more = more != reply.end() && more->is_boolean() && more->get<bool>();
    page.items.clear();
    json kvs = reply.value("kvs", json::array());
    for (const json& kv : kvs.is_array() ? kvs : json::array()) {
        Item item;
        if (!bytesOfBase64(EtcdTxn::text(kv, "key"), item.key) ||
            !bytesOfBase64(EtcdTxn::text(kv, "value"), item.value))
            return failure({Outcome::Failed, "a key or value is not base64"}, "read", error);
        item.seq = codec_.seqOf(item.key);
        page.items.push_back(std::move(item));
    }
    return 0;
}

// The markers as they were when the page was read: a record dropped since
// must not show as committed.
int EtcdJournal::pendingIn(const Page& page, std::set<std::uint64_t>& seqs, std::string* error) {
    std::uint64_t low = UINT64_MAX, high = 0;
    for (const Item& item : page.items) {
        if (item.seq == 0) continue;
        low = std::min(low, item.seq);
        high = std::max(high, item.seq);
    }
    if (high == 0) return 0;
    Page markers;
    Range span{codec_.pendingKey(low), codec_.pendingKey(high + 1), false, true, 0, page.revision};
    int rc = read(span, markers, error);
    for (const Item& marker : markers.items) seqs.insert(marker.seq);
    return rc;
}

int EtcdJournal::scan(std::uint64_t fromSeq, bool descending, bool keysOnly, long firstPage,
                      const Visit& visit, std::string* error) {
    Range records{
        codec_.recordKey(fromSeq), codec_.recordsEnd(), descending, keysOnly, firstPage, 0};
    for (;;) {
        Page page;
        int rc = read(records, page, error);
        if (rc != 0 || page.items.empty()) return rc;
        std::set<std::uint64_t> pendingSeqs;
        if ((rc = pendingIn(page, pendingSeqs, error)) != 0) return rc;
        std::size_t bytes = 0;
        for (const Item& item : page.items) {
            bytes += item.key.size() + item.value.size();
            if (item.seq == 0 || pendingSeqs.count(item.seq) != 0) continue;
            rc = visit(item.seq, item.value);
            if (rc != 0) return rc == kStop ? 0 : rc;
        }
        if (!page.more) return 0;
        if (descending) {
            records.to = page.items.back().key;
        } else {
            records.from = page.items.back().key + '\0';
        }
        std::size_t perRecord = bytes / page.items.size() + 1;
        records.limit = static_cast<long>(std::clamp<std::size_t>(kPageBytes / perRecord, 8, 256));
    }
}

// The counter still at the revision last seen and no record under the
// number: the number is ours, with the record and its marker. Otherwise the
// same round trip reads the counter and the record that holds the number.
int EtcdJournal::claim(std::uint64_t next, Counter& seen, const Documents& documents,
                       Claim& claim) {
    EtcdTxn txn;
    txn.ifModRevision(codec_.counterKey(), seen.revision)
        .ifCreateRevision(codec_.recordKey(next), 0)
        .put(codec_.counterKey(), std::to_string(next))
        .put(codec_.recordKey(next), documents.record)
        .put(codec_.pendingKey(next), documents.marker)
        .readRange(codec_.pendingKey(0), codec_.pendingEnd(), kMarkersKept)
        .orRead(codec_.counterKey())
        .orRead(codec_.recordKey(next));
    std::string response;
    int rc = post("/v3/kv/txn", txn.body(), "can't begin a record", response, nullptr);
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
            return failure({Outcome::Failed, "the record counter holds \"" + text + "\""},
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
    read.readAt = Clock::now();
    json found = EtcdTxn::found(answer, at);
    // Cut by the limit: the list is not whole, and is not kept.
    read.complete = static_cast<long>(found.size()) < kMarkersKept;
    for (const json& kv : found) {
        Item item;
        if (!bytesOfBase64(EtcdTxn::text(kv, "key"), item.key) ||
            !bytesOfBase64(EtcdTxn::text(kv, "value"), item.value))
            read.complete = false;
        item.seq = codec_.seqOf(item.key);
        read.items.push_back(std::move(item));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    markers_ = std::move(read);
}

int EtcdJournal::newestSeq(std::uint64_t& newest) {
    Page last;
    Range range{codec_.recordKey(0), codec_.recordsEnd(), true, true, 1, 0};
    int rc = read(range, last, nullptr);
    if (rc == 0 && !last.items.empty()) newest = std::max(newest, last.items.front().seq);
    return rc;
}

// The oldest records go a page at a time, once per process, so that a
// journal nobody prunes still keeps to its retention and no save waits for
// a long delete. A failure only costs this round.
bool EtcdJournal::retentionDue() {
    std::lock_guard<std::mutex> lock(mutex_);
    bool due = retentionPid_ != ::getpid();
    retentionPid_ = ::getpid();
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
    int rc = scan(
        1, false, false, kFirstPage,
        [&](std::uint64_t seq, const std::string& document) {
            JournalEntry entry;
            if (EtcdJournalCodec::decode(document, entry) && entry.timeUs < cutoff)
                old.push_back(seq);
            return ++seen < kFirstPage ? 0 : kStop;
        },
        &error);
    if (rc == 0 && !old.empty()) rc = removeRecords(old, removed, error);
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
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(2 * options_.timeoutMs);
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
            return failure({Outcome::Unavailable,
                            "other writers took the next number " + std::to_string(round) +
                                " times within " + std::to_string(2 * options_.timeoutMs) + " ms"},
                           "can't begin a record", nullptr);
    }
}

int EtcdJournal::end(std::uint64_t seq, bool keep) {
    {
        // Ended here: no settle may see it pending in the kept list.
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase_if(markers_.items, [&](const Item& item) { return item.seq == seq; });
    }
    std::string response;
    if (keep) {
        json request = {{"key", base64Of(codec_.pendingKey(seq))}};
        int rc = post("/v3/kv/deleterange", request.dump(),
                      "can't commit record " + std::to_string(seq), response, nullptr);
        // After the save's write, never between its read and its write.
        if (rc == 0 && retentionDue()) applyRetention();
        return rc;
    }
    // Only while still pending: a committed record is never dropped.
    EtcdTxn txn;
    txn.ifExists(codec_.pendingKey(seq))
        .remove(codec_.recordKey(seq))
        .remove(codec_.pendingKey(seq));
    return post("/v3/kv/txn", txn.body(), "can't drop record " + std::to_string(seq), response,
                nullptr);
}

int EtcdJournal::markers(std::vector<Item>& items) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (markers_.complete && Clock::now() - markers_.readAt < kMarkersFresh) {
            items = markers_.items;
            return 0;
        }
    }
    Range all{codec_.pendingKey(0), codec_.pendingEnd(), false, false, kMarkersKept, 0};
    for (;;) {
        Page page;
        int rc = read(all, page, nullptr);
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
    if (query.afterSeq == UINT64_MAX) return 0;
    std::size_t left = query.limit;
    Visit visit = [&](std::uint64_t seq, const std::string& document) {
        JournalEntry entry;
        if (!EtcdJournalCodec::decode(document, entry)) {
            HostTrace::record(1, "the journal on etcd (" + codec_.prefix() + "): record " +
                                     std::to_string(seq) + " is damaged; left out");
            return 0;
        }
        if ((!query.kind.empty() && entry.kind != query.kind) ||
            (!query.target.empty() && entry.target != query.target) ||
            (!query.actor.empty() && entry.actor != query.actor) ||
            (query.sinceUs && entry.timeUs < *query.sinceUs) ||
            (query.untilUs && entry.timeUs >= *query.untilUs))
            return 0;
        if (!query.name.empty())
            std::erase_if(entry.changes,
                          [&](const JournalChange& c) { return c.name != query.name; });
        // Like the other store: a record is seen through its changes.
        if (entry.changes.empty()) return 0;
        if (query.limit != 0) {
            entry.changes.resize(std::min(entry.changes.size(), left));
            left -= entry.changes.size();
        }
        entry.seq = seq;
        out.push_back(std::move(entry));
        return query.limit != 0 && left == 0 ? kStop : 0;
    };
    // Each record holds a change at least: a limit of n needs n records
    // when nothing is filtered out.
    long firstPage = query.limit == 0 ? kFirstPage : std::clamp<long>(query.limit, 8, kFirstPage);
    return scan(query.afterSeq + 1, !query.oldestFirst, false, firstPage, visit, &error);
}

int EtcdJournal::entry(std::uint64_t seq, JournalEntry& out, std::string& error) {
    // Both keys at one revision: a record dropped between two reads must
    // not show.
    EtcdTxn reads;
    reads.read(codec_.recordKey(seq), false).read(codec_.pendingKey(seq), true);
    std::string response;
    std::string what = "can't read record " + std::to_string(seq);
    int rc = post("/v3/kv/txn", reads.body(), what, response, &error);
    if (rc != 0) return rc;
    json reply = json::parse(response);
    json record = EtcdTxn::found(reply, 0);
    if (record.empty() || !EtcdTxn::found(reply, 1).empty()) {
        error = "no journal record " + std::to_string(seq);
        return ENOENT;
    }
    std::string document;
    JournalEntry found;
    if (!bytesOfBase64(EtcdTxn::text(record[0], "value"), document) ||
        !EtcdJournalCodec::decode(document, found))
        return failure({Outcome::Failed, "the record is damaged"}, what, &error);
    // Like the other store: a record is seen through its changes.
    if (found.changes.empty()) {
        error = "no journal record " + std::to_string(seq);
        return ENOENT;
    }
    found.seq = seq;
    out = std::move(found);
    return 0;
}

int EtcdJournal::removeRecords(const std::vector<std::uint64_t>& seqs, long& removed,
                               std::string& error) {
    EtcdTxn removals;
    for (std::uint64_t seq : seqs) removals.remove(codec_.recordKey(seq));
    std::string response;
    int rc = post("/v3/kv/txn", removals.body(), "can't remove old records", response, &error);
    if (rc != 0) return rc;
    removed += EtcdTxn::deleted(json::parse(response));
    return 0;
}

int EtcdJournal::prune(std::int64_t beforeUs, long& removed, std::string& error) {
    removed = 0;
    std::vector<std::uint64_t> batch;
    // Times follow the writers' clocks, not the numbers: every record is read.
    Visit visit = [&](std::uint64_t seq, const std::string& document) {
        JournalEntry entry;
        if (!EtcdJournalCodec::decode(document, entry) || entry.timeUs >= beforeUs) return 0;
        batch.push_back(seq);
        if (batch.size() < kDeleteBatch) return 0;
        int rc = removeRecords(batch, removed, error);
        batch.clear();
        return rc;
    };
    int rc = scan(1, false, false, kFirstPage, visit, &error);
    if (rc == 0 && !batch.empty()) rc = removeRecords(batch, removed, error);
    return rc;
}

int EtcdJournal::lastSeq(std::uint64_t& seq, std::string& error) {
    seq = 0;
    return scan(
        1, true, true, 8,
        [&](std::uint64_t newest, const std::string&) {
            seq = newest;
            return kStop;
        },
        &error);
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

#include "host/platform/EtcdJournalScan.h"

#include <algorithm>
#include <cerrno>
#include <nlohmann/json.hpp>

#include "host/platform/Base64Text.h"
#include "host/platform/EtcdJournalCodec.h"
#include "host/platform/EtcdJournalLink.h"
#include "host/platform/EtcdTxn.h"
#include "host/platform/HostTrace.h"

using nlohmann::json;
using Outcome = EtcdGateway::Outcome;

namespace {

// Pages are sized for about this many bytes of records, so that a journal
// of large records does not pull hundreds of megabytes in one answer.
constexpr std::size_t kPageBytes = 4 << 20;
// etcd refuses a transaction of more than 128 operations by default.
constexpr std::size_t kDeleteBatch = 64;

}  // namespace

EtcdJournalScan::EtcdJournalScan(EtcdJournalLink& link) : link_(link) {}

int EtcdJournalScan::read(const Range& range, Page& page, std::string* error) {
    json request = {{"key", base64Of(range.from)},
                    {"range_end", base64Of(range.to)},
                    {"sort_order", range.descending ? "DESCEND" : "ASCEND"},
                    {"sort_target", "KEY"},
                    {"keys_only", range.keysOnly}};
    if (range.limit > 0) request["limit"] = range.limit;
    if (range.revision > 0) request["revision"] = std::to_string(range.revision);
    std::string response;
    int rc = link_.post("/v3/kv/range", request.dump(), "can't read the records", response, error);
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
            return link_.failure({Outcome::Failed, "a key or value is not base64"}, "read", error);
        item.seq = link_.codec().seqOf(item.key);
        page.items.push_back(std::move(item));
    }
    return 0;
}

// The markers as they were when the page was read: a record dropped since
// must not show as committed.
int EtcdJournalScan::pendingIn(const Page& page, std::set<std::uint64_t>& seqs,
                               std::string* error) {
    std::uint64_t low = UINT64_MAX, high = 0;
    for (const Item& item : page.items) {
        if (item.seq == 0) continue;
        low = std::min(low, item.seq);
        high = std::max(high, item.seq);
    }
    if (high == 0) return 0;
    Page markers;
    const EtcdJournalCodec& codec = link_.codec();
    Range span{codec.pendingKey(low), codec.pendingKey(high + 1), false, true, 0, page.revision};
    int rc = read(span, markers, error);
    for (const Item& marker : markers.items) seqs.insert(marker.seq);
    return rc;
}

int EtcdJournalScan::scan(std::uint64_t fromSeq, bool descending, bool keysOnly, long firstPage,
                          const Visit& visit, std::string* error) {
    const EtcdJournalCodec& codec = link_.codec();
    Range records{codec.recordKey(fromSeq), codec.recordsEnd(), descending, keysOnly, firstPage, 0};
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

int EtcdJournalScan::query(const JournalQuery& query, std::vector<JournalEntry>& out,
                           std::string& error) {
    if (query.afterSeq == UINT64_MAX) return 0;
    std::size_t left = query.limit;
    Visit visit = [&](std::uint64_t seq, const std::string& document) {
        JournalEntry entry;
        if (!EtcdJournalCodec::decode(document, entry)) {
            HostTrace::record(1, "the journal on etcd (" + link_.codec().prefix() + "): record " +
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

int EtcdJournalScan::entry(std::uint64_t seq, JournalEntry& out, std::string& error) {
    // Both keys at one revision: a record dropped between two reads must
    // not show.
    EtcdTxn reads;
    const EtcdJournalCodec& codec = link_.codec();
    reads.read(codec.recordKey(seq), false).read(codec.pendingKey(seq), true);
    std::string response;
    std::string what = "can't read record " + std::to_string(seq);
    int rc = link_.post("/v3/kv/txn", reads.body(), what, response, &error);
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
        return link_.failure({Outcome::Failed, "the record is damaged"}, what, &error);
    // Like the other store: a record is seen through its changes.
    if (found.changes.empty()) {
        error = "no journal record " + std::to_string(seq);
        return ENOENT;
    }
    found.seq = seq;
    out = std::move(found);
    return 0;
}

int EtcdJournalScan::removeRecords(const std::vector<std::uint64_t>& seqs, long& removed,
                                   std::string& error) {
    EtcdTxn removals;
    for (std::uint64_t seq : seqs) removals.remove(link_.codec().recordKey(seq));
    std::string response;
    int rc =
        link_.post("/v3/kv/txn", removals.body(), "can't remove old records", response, &error);
    if (rc != 0) return rc;
    removed += EtcdTxn::deleted(json::parse(response));
    return 0;
}

int EtcdJournalScan::prune(std::int64_t beforeUs, long& removed, std::string& error) {
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

int EtcdJournalScan::lastSeq(std::uint64_t& seq, std::string& error) {
    seq = 0;
    return scan(
        1, true, true, 8,
        [&](std::uint64_t newest, const std::string&) {
            seq = newest;
            return kStop;
        },
        &error);
}

#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/platform/EtcdGateway.h"
#include "host/platform/EtcdJournalLink.h"
#include "host/platform/EtcdJournalScan.h"
#include "host/platform/JournalStore.h"

class EtcdIndexUrl;

// The journal in the etcd cluster that keeps the index, so that every host
// sees one history: keys under "<URL prefix>/journal" (EtcdJournalCodec holds
// the layout), on the URL's endpoints, TLS folder and deadline, through a
// gateway of its own (never the index's connections, whose fenced writes
// depend on each thread's last read).
//
// begin() takes the next number from the counter key and stores the record
// and its pending marker in one transaction guarded on the counter as last
// seen (one round trip when no other writer came between), retried while
// other writers overtake it; numbers are never given twice. end() drops the marker
// (commit) or the record with it (abandon) in one transaction. Readers page
// through the records in number order, leaving out those whose marker is
// there at the page's revision, and filter in the client: time, kind,
// target, actor and name filters read every record after afterSeq.
//
// pending() answers from the markers that this process's last begin() read
// in its own transaction when they are under a second old, else from the
// cluster: a save's settle then adds no round trip between its read of the
// set and its write. A stale list is safe: ending a record that is no
// longer pending changes nothing, and one begun since is settled later.
//
// The first commit of each process removes the records older than
// $VM_JOURNAL_KEEP_DAYS among the oldest page (64 records), so that a
// journal nobody prunes still keeps to its retention.
//
// This class is the writing side (begin, end, pending markers, retention,
// waits); EtcdJournalScan reads and filters the records and EtcdJournalLink
// carries the requests of both.
//
// Errno codes: ETIMEDOUT when the cluster does not answer within the
// deadline (no quorum, no member reachable), ENOSPC for a record over the cluster's request limit
// or a cluster out of space, ENOENT for no such record, EIO for anything else. Calls that take no
// error text trace the reason at level 1. Each call is bounded by the URL's timeout_ms (begin: by
// twice that, for its retries).
class EtcdJournal : public JournalStore {
  public:
    // The store, or null with the reason in error when the gateway cannot
    // be set up (unreadable TLS files); the cluster is reached at first use.
    static std::unique_ptr<JournalStore> open(const EtcdIndexUrl& url, std::string& error);
    ~EtcdJournal() override;

    int begin(const JournalEntry& entry, std::uint64_t& seq) override;
    int end(std::uint64_t seq, bool keep) override;
    int pending(const std::string& kind, const std::string& target,
                std::vector<JournalEntry>& out) override;
    int query(const JournalQuery& query, std::vector<JournalEntry>& out,
              std::string& error) override;
    int entry(std::uint64_t seq, JournalEntry& out, std::string& error) override;
    int prune(std::int64_t beforeUs, long& removed, std::string& error) override;
    int lastSeq(std::uint64_t& seq, std::string& error) override;
    void waitForChange(std::uint64_t seq, int timeoutMs) override;

  private:
    using Item = EtcdJournalScan::Item;
    // The number counter as this process last saw it.
    struct Counter {
        std::uint64_t last = 0;
        std::int64_t revision = 0;  // 0: no counter yet
    };
    struct Documents {
        std::string nonce, record, marker;
    };
    // Won: the number is ours; Lost: another writer's; Behind: a record
    // holds it while the counter is lower.
    enum class Claim { Won, Lost, Behind };

    EtcdJournal(EtcdGateway::Options options, const std::string& prefix,
                std::unique_ptr<EtcdGateway> gateway);
    int claim(std::uint64_t next, Counter& seen, const Documents& documents, Claim& claim);
    int newestSeq(std::uint64_t& newest);
    void keepMarkers(const nlohmann::json& answer, std::size_t at);
    // The pending markers: those last read when fresh, else the cluster's.
    int markers(std::vector<Item>& items);
    // True once per process.
    bool retentionDue();
    void applyRetention();

    EtcdJournalLink link_;
    EtcdJournalScan scan_;  // uses link_
    std::mutex mutex_;
    Counter counter_;
    // The pending markers as the last begin() read them, in the same
    // transaction: the settle of the next save need not ask again at once.
    struct Markers {
        std::vector<Item> items;
        std::chrono::steady_clock::time_point readAt;
        bool complete = false;
    } markers_;
    pid_t retentionPid_ = 0;  // the process that applied the retention
};

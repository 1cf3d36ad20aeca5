#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/platform/JournalStore.h"

class EtcdJournalLink;

// The reading side of the journal on etcd: pages through key ranges, leaves
// out the records whose pending marker was there at the page's revision, and
// filters in the client (query, entry, prune, lastSeq of JournalStore, with
// the same meaning and errno codes). Records are read in pages sized by the
// records seen, about 4 MiB each.
//
// Talks to the cluster only through the link it is given, which must outlive
// it; holds no state of its own between calls, so it is as thread-safe as the
// link.
class EtcdJournalScan {
  public:
    struct Item {
        std::string key;
        std::uint64_t seq = 0;  // 0: not a record or marker key
        std::string value;
    };
    struct Page {
        std::vector<Item> items;
        std::int64_t revision = 0;
        bool more = false;
    };
    struct Range {
        std::string from, to;
        bool descending = false;
        bool keysOnly = false;
        long limit = 0;
        std::int64_t revision = 0;  // 0: the newest
    };
    // Returns 0 to go on, kStop to end the scan, or an errno value.
    using Visit = std::function<int(std::uint64_t seq, const std::string& document)>;
    static constexpr int kStop = -1;
    // Before any record was seen: at most this many, whatever their size.
    static constexpr long kFirstPage = 64;

    explicit EtcdJournalScan(EtcdJournalLink& link);

    // One page of the range; failures as EtcdJournalLink::failure().
    int read(const Range& range, Page& page, std::string* error);
    // The committed records from fromSeq on, in number order, read in pages
    // of firstPage records at first and then sized by the records seen.
    int scan(std::uint64_t fromSeq, bool descending, bool keysOnly, long firstPage,
             const Visit& visit, std::string* error);
    // Removes the given records in one transaction; adds the count to removed.
    int removeRecords(const std::vector<std::uint64_t>& seqs, long& removed, std::string& error);

    int query(const JournalQuery& query, std::vector<JournalEntry>& out, std::string& error);
    int entry(std::uint64_t seq, JournalEntry& out, std::string& error);
    int prune(std::int64_t beforeUs, long& removed, std::string& error);
    int lastSeq(std::uint64_t& seq, std::string& error);

  private:
    // The numbers of the page's records that were pending at its revision.
    int pendingIn(const Page& page, std::set<std::uint64_t>& seqs, std::string* error);

    EtcdJournalLink& link_;
};

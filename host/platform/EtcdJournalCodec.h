#pragma once

#include <cstdint>
#include <string>

#include "host/platform/JournalStore.h"

// How the journal on etcd spells its keys and values. Under a journal prefix
// J ("<index prefix>/journal"):
//
//   J/seq              the last number given, in decimal
//   J/rec/<seq>        a record: one JSON document, changes included
//   J/pending/<seq>    present while the record is pending: the same
//                      document without its changes
//
// <seq> is 20 decimal digits, so that key order is number order. A document
// is {"t": time in µs, "a": actor, "b": box, "p": program, "i": pid,
// "h": host, "s": sending box, "k": kind, "g": target, "f": digest after,
// "n": the writer's nonce, "c": [[op, name, index, old value, new value, old
// attributes, new attributes], ...]}; every text that may hold any byte is
// base64, and the absent side of an addition or removal is null. Pure
// functions: nothing here talks to the cluster.
class EtcdJournalCodec {
  public:
    explicit EtcdJournalCodec(std::string journalPrefix);

    const std::string& prefix() const { return prefix_; }
    std::string counterKey() const;
    std::string recordKey(std::uint64_t seq) const;
    std::string pendingKey(std::uint64_t seq) const;
    // The first key after every record key (and after every pending key).
    std::string recordsEnd() const;
    std::string pendingEnd() const;
    // The number a record or pending key ends in; 0 for any other key.
    std::uint64_t seqOf(const std::string& key) const;

    // The document for entry; changes left out unless withChanges.
    static std::string encode(const JournalEntry& entry, bool withChanges,
                              const std::string& nonce);
    // Fills entry (its seq left alone) from a document; false when it is not
    // one. The nonce, when asked for, is the writer's.
    static bool decode(const std::string& document, JournalEntry& entry,
                       std::string* nonce = nullptr);

  private:
    std::string prefix_;
};

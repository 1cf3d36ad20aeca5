#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/platform/EtcdGateway.h"
#include "host/platform/EtcdJournalCodec.h"

// The journal's way to its etcd cluster: the key layout under the journal
// prefix, this process's gateway, and the errno code and words for a request
// that failed. Shared by the journal's writing and reading sides.
//
// Owns the gateway it is given; a forked child opens one of its own at its
// first request and never touches (nor closes) the parent's connections.
// Errno codes: ETIMEDOUT when the cluster did not answer within the deadline,
// ENOSPC for a request over the cluster's limit or a cluster out of space,
// EIO for anything else. Safe to call from several threads.
class EtcdJournalLink {
  public:
    EtcdJournalLink(EtcdGateway::Options options, const std::string& journalPrefix,
                    std::unique_ptr<EtcdGateway> gateway);
    ~EtcdJournalLink();
    EtcdJournalLink(const EtcdJournalLink&) = delete;
    EtcdJournalLink& operator=(const EtcdJournalLink&) = delete;

    const EtcdJournalCodec& codec() const { return codec_; }
    int timeoutMs() const { return options_.timeoutMs; }
    // The errno code for a failed request; the words go to error, or to the
    // trace at level 1 when error is null.
    int failure(const EtcdGateway::Result& result, const std::string& what,
                std::string* error) const;
    // Posts body to the gateway path; 0 with a JSON answer in response, else
    // as failure().
    int post(const std::string& path, const std::string& body, const std::string& what,
             std::string& response, std::string* error);

  private:
    EtcdGateway& gateway();

    EtcdGateway::Options options_;
    EtcdJournalCodec codec_;
    std::mutex mutex_;
    pid_t pid_;
    std::unique_ptr<EtcdGateway> gateway_;
    std::vector<std::unique_ptr<EtcdGateway>> inherited_;  // a parent's, never used
};

#include "host/platform/EtcdJournalLink.h"

#include <unistd.h>

#include <cerrno>
#include <nlohmann/json.hpp>

#include "host/platform/HostTrace.h"
#include "host/platform/ProcessId.h"

using Outcome = EtcdGateway::Outcome;

EtcdJournalLink::EtcdJournalLink(EtcdGateway::Options options, const std::string& journalPrefix,
                                 std::unique_ptr<EtcdGateway> gateway)
    : options_(std::move(options)),
      codec_(journalPrefix),
      pid_(ProcessId::current()),
      gateway_(std::move(gateway)) {}

// Closing a parent's connections from a child would end its TLS sessions.
EtcdJournalLink::~EtcdJournalLink() {
    for (std::unique_ptr<EtcdGateway>& inherited : inherited_) inherited.release();
    if (pid_ != ProcessId::current()) gateway_.release();
}

EtcdGateway& EtcdJournalLink::gateway() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pid_ != ProcessId::current()) {
        std::string error;
        // The options were accepted once; only the TLS files can have gone.
        std::unique_ptr<EtcdGateway> fresh = EtcdGateway::open(options_, error);
        if (fresh) {
            inherited_.push_back(std::move(gateway_));
            gateway_ = std::move(fresh);
            pid_ = ProcessId::current();
        } else {
            HostTrace::record(1, "the journal on etcd: " + error);
        }
    }
    return *gateway_;
}

int EtcdJournalLink::failure(const EtcdGateway::Result& result, const std::string& what,
                             std::string* error) const {
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

int EtcdJournalLink::post(const std::string& path, const std::string& body, const std::string& what,
                          std::string& response, std::string* error) {
    EtcdGateway::Result result = gateway().post(path, body, response);
    if (!result.ok()) return failure(result, what, error);
    if (!nlohmann::json::accept(response))
        return failure({Outcome::Failed, "the answer is not JSON"}, what, error);
    return 0;
}

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A client of an etcd cluster's v3 JSON gateway (etcd 3.4: /v3/kv/...,
// /v3/maintenance/status, /v3/cluster/member/list), for the index service and
// its tools. Keys and values are any bytes.
//
// Connections are kept alive and sent without delay (Nagle's algorithm would
// hold every small request about 40 ms). Each call tries the members in turn,
// starting with the one that answered last, and never takes longer than the
// deadline: no answer within timeoutMs (no leader, no quorum, members down or
// unreachable) is an Unavailable result shortly after the deadline, not a wait
// for etcd's own timeouts. Reads are linearizable. A write is sent to another
// member only when the first could not have received it (no connection);
// after a lost answer its outcome is unknown and the call says so.
//
// Nothing throws: every call returns a Result whose message says what went
// wrong in words. The calls of one gateway are serialized by a mutex; a
// process that wants parallel calls opens several gateways.
class EtcdGateway {
  public:
    struct Options {
        std::vector<std::string> endpoints;  // "HOST:PORT"
        int timeoutMs = 2000;
        // All three for TLS with a client certificate, none without TLS.
        std::string caFile;
        std::string certFile;
        std::string keyFile;
    };

    enum class Outcome {
        Ok,
        NotFound,     // no such key (get, remove)
        Stale,        // a guarded change found another revision than expected
        TooLarge,     // over the cluster's request limit (--max-request-bytes)
        Unavailable,  // no answer within the deadline, or no member reachable
        Failed,       // any other refusal by the cluster
    };

    struct Result {
        Outcome outcome = Outcome::Ok;
        std::string message;  // empty when Ok
        bool ok() const { return outcome == Outcome::Ok; }
    };

    struct Record {
        std::string value;
        std::int64_t modRevision = 0;  // the cluster revision of the last change
        std::int64_t version = 0;      // changes since the key was created, from 1
    };

    struct Member {
        std::string id;  // decimal, as etcd prints it
        std::string name;
        std::vector<std::string> clientUrls;
    };

    struct Status {
        std::vector<Member> members;
        std::string leaderId;  // empty while there is no leader
        std::string memberId;  // the member that answered
        std::int64_t revision = 0;
        std::int64_t dbSize = 0;  // bytes of the answering member's database file
        std::string version;
    };

    // A gateway on the members, or null with the reason in error (no
    // endpoint, a bad endpoint, unreadable TLS files). Connects lazily.
    static std::unique_ptr<EtcdGateway> open(const Options& options, std::string& error);
    ~EtcdGateway();
    EtcdGateway(const EtcdGateway&) = delete;
    EtcdGateway& operator=(const EtcdGateway&) = delete;

    Result get(const std::string& key, Record& record);
    Result put(const std::string& key, const std::string& value);
    // NotFound when there was no such key.
    Result remove(const std::string& key);
    // Puts only while the key's mod revision is still modRevision (0: only
    // when the key does not exist); Stale otherwise, the key untouched.
    Result putIfRevision(const std::string& key, const std::string& value,
                         std::int64_t modRevision);
    // Removes only while the key's mod revision is still modRevision.
    Result removeIfRevision(const std::string& key, std::int64_t modRevision);
    Result status(Status& status);

    // One request to a gateway path with a JSON body, through the same
    // connections, deadline and failover as the calls above (idempotent
    // paths only: it may be sent twice). The answer's body in response.
    Result post(const std::string& path, const std::string& body, std::string& response);

    const Options& options() const;

  private:
    struct Impl;
    explicit EtcdGateway(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

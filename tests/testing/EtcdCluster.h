#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "host/platform/EtcdGateway.h"

// Milliseconds since start: how long a call against a failing cluster took.
inline long msSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

// A throwaway etcd cluster for tests: Debian's /usr/bin/etcd members on free
// loopback ports, their data in a fresh folder under /dev/shm, with short
// election timings so that losing a leader costs well under a second.
//
// The members are this process's children and die with it: the destructor
// kills them by PID and removes the folder, and each member asks the kernel
// to kill it when the test process dies (PR_SET_PDEATHSIG), so a crashed or
// aborted test leaves no etcd behind.
class EtcdCluster {
  public:
    static constexpr const char* kEtcd = "/usr/bin/etcd";

    struct Options {
        int members = 3;
        long maxRequestBytes = 0;  // etcd's default (1.5 MiB) when 0
        // When set, a folder made by makeCertificates: clients then speak
        // TLS and must show a certificate of the folder's CA.
        std::string tlsDir;
        // Per member, when set: the address it serves on (127.0.0.1
        // otherwise) and the network namespace it runs in (a name under
        // /run/netns; "" for this process's).
        std::vector<std::string> hosts;
        std::vector<std::string> namespaces;
    };

    // Whether etcd is installed; tests skip themselves when it is not.
    static bool available();
    // Writes into dir a private CA (ca.pem, ca.key), a certificate for the
    // members on 127.0.0.1 (server.pem, server.key) and one for clients
    // (client.pem, client.key), with the openssl command. False with the
    // command's output in error.
    static bool makeCertificates(const std::string& dir, std::string& error);
    // One 3-member cluster with a 256 KiB request limit, started on first
    // use and shared by the process's tests (that leave every member
    // running); nullptr with the reason in error when it cannot start.
    static EtcdCluster* shared(std::string& error);
    static constexpr long kSharedRequestLimit = 256 * 1024;

    explicit EtcdCluster(Options options);
    EtcdCluster() : EtcdCluster(Options{}) {}
    ~EtcdCluster();
    EtcdCluster(const EtcdCluster&) = delete;
    EtcdCluster& operator=(const EtcdCluster&) = delete;

    // Starts every member and waits until all agree on a leader. False with
    // the reason (and the end of the members' logs) in error.
    bool start(std::string& error);
    // Waits until every running member knows the same leader.
    bool waitHealthy(int timeoutMs, std::string& error);
    // Kills the member at once (SIGKILL) and reaps it.
    void kill(int member);
    // Starts a killed member again on its ports and data.
    bool restart(int member, std::string& error);
    // The index of the member that leads now, -1 when none does.
    int leader();
    void stop();

    int size() const { return static_cast<int>(members_.size()); }
    bool running(int member) const { return members_[member].pid > 0; }
    std::string endpoint(int member) const;  // "HOST:PORT" of its clients
    std::vector<std::string> endpoints() const;
    // What a gateway needs to reach these members (with the client
    // certificate when the cluster speaks TLS).
    EtcdGateway::Options gatewayOptions(std::vector<std::string> endpoints, int timeoutMs) const;

  private:
    struct Member {
        int clientPort = 0;
        int peerPort = 0;
        pid_t pid = -1;
    };

    bool spawn(int member, std::string& error);
    std::string host(int member) const;
    std::string url(int member, int port, bool tls = false) const;
    std::vector<std::string> arguments(int member) const;
    std::string logTails() const;

    Options options_;
    std::string dir_;
    std::vector<Member> members_;
};

#include "tests/testing/EtcdCluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/platform/EtcdGateway.h"

namespace {

// Free loopback ports, all distinct: each socket stays bound until every
// port is chosen.
std::vector<int> freePorts(int count) {
    std::vector<int> sockets, ports;
    for (int i = 0; i < count; ++i) {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            break;
        sockets.push_back(s);
        ports.push_back(ntohs(address.sin_port));
    }
    for (int s : sockets) ::close(s);
    return ports;
}

constexpr char kFolderStart[] = "/dev/shm/etcd-test-";

// A test process killed outright leaves its folder behind; the next one
// removes the folders of processes that are gone.
void removeLeftoverFolders() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        std::string path = entry.path().string();
        if (path.rfind(kFolderStart, 0) != 0) continue;
        pid_t owner = static_cast<pid_t>(std::atol(path.c_str() + sizeof kFolderStart - 1));
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
            std::filesystem::remove_all(entry.path(), error);
    }
}

// Runs an openssl command line in dir; its output goes to error on failure.
bool openssl(const std::string& dir, const std::string& arguments, std::string& error) {
    std::string command = "cd '" + dir + "' && openssl " + arguments + " >openssl.log 2>&1";
    if (std::system(command.c_str()) == 0) return true;
    std::ifstream log(dir + "/openssl.log");
    error = "openssl " + arguments + ": " + std::string(std::istreambuf_iterator<char>(log), {});
    return false;
}

}  // namespace

bool EtcdCluster::available() {
    return ::access(kEtcd, X_OK) == 0;
}

bool EtcdCluster::makeCertificates(const std::string& dir, std::string& error) {
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::ofstream(dir + "/server.ext") << "subjectAltName=IP:127.0.0.1\n"
                                       << "extendedKeyUsage=serverAuth,clientAuth\n";
    std::ofstream(dir + "/client.ext") << "extendedKeyUsage=clientAuth\n";
    auto sign = [&](const std::string& name) {
        return openssl(dir,
                       "req" + key + " -keyout " + name + ".key -out " + name +
                           ".csr -subj /CN=" + name,
                       error) &&
               openssl(dir,
                       "x509 -req -in " + name + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial" +
                           " -days 2 -out " + name + ".pem -extfile " + name + ".ext",
                       error);
    };
    return openssl(dir, "req -x509" + key + " -keyout ca.key -out ca.pem -days 2 -subj /CN=test-ca",
                   error) &&
           sign("server") && sign("client");
}

EtcdCluster* EtcdCluster::shared(std::string& error) {
    // Stopped by its destructor at exit; the members' death signal covers a crash.
    static EtcdCluster cluster({3, kSharedRequestLimit, "", {}, {}});
    static std::string startError;
    static bool started = cluster.start(startError);
    error = startError;
    return started ? &cluster : nullptr;
}

EtcdCluster::EtcdCluster(Options options) : options_(options), members_(options.members) {}

EtcdCluster::~EtcdCluster() {
    stop();
}

std::string EtcdCluster::host(int member) const {
    const auto& hosts = options_.hosts;
    return static_cast<std::size_t>(member) < hosts.size() ? hosts[member] : "127.0.0.1";
}

std::string EtcdCluster::url(int member, int port, bool tls) const {
    return (tls ? "https://" : "http://") + host(member) + ":" + std::to_string(port);
}

std::string EtcdCluster::endpoint(int member) const {
    return host(member) + ":" + std::to_string(members_[member].clientPort);
}

std::vector<std::string> EtcdCluster::endpoints() const {
    std::vector<std::string> all;
    for (int i = 0; i < size(); ++i) all.push_back(endpoint(i));
    return all;
}

EtcdGateway::Options EtcdCluster::gatewayOptions(std::vector<std::string> endpoints,
                                                 int timeoutMs) const {
    EtcdGateway::Options options{std::move(endpoints), timeoutMs, "", "", ""};
    if (!options_.tlsDir.empty()) {
        options.caFile = options_.tlsDir + "/ca.pem";
        options.certFile = options_.tlsDir + "/client.pem";
        options.keyFile = options_.tlsDir + "/client.key";
    }
    return options;
}

std::vector<std::string> EtcdCluster::arguments(int member) const {
    std::string cluster;
    for (int i = 0; i < size(); ++i)
        cluster += (i ? ",m" : "m") + std::to_string(i) + "=" + url(i, members_[i].peerPort);
    const Member& m = members_[member];
    bool tls = !options_.tlsDir.empty();
    std::vector<std::string> args = {
        kEtcd, "--name", "m" + std::to_string(member), "--data-dir",
        dir_ + "/m" + std::to_string(member), "--listen-client-urls",
        url(member, m.clientPort, tls), "--advertise-client-urls", url(member, m.clientPort, tls),
        "--listen-peer-urls", url(member, m.peerPort), "--initial-advertise-peer-urls",
        url(member, m.peerPort), "--initial-cluster", cluster, "--initial-cluster-state", "new",
        "--initial-cluster-token", "test-" + dir_,
        // Heartbeats every 50 ms, a new election after 500 ms without one.
        "--heartbeat-interval", "50", "--election-timeout", "500", "--logger", "zap",
        "--log-outputs", "stderr", "--log-level", "warn"};
    if (tls) {
        const std::string& d = options_.tlsDir;
        for (const std::string& a :
             {"--cert-file=" + d + "/server.pem", "--key-file=" + d + "/server.key",
              "--trusted-ca-file=" + d + "/ca.pem", std::string("--client-cert-auth")})
            args.push_back(a);
    }
    if (options_.maxRequestBytes > 0) {
        args.push_back("--max-request-bytes");
        args.push_back(std::to_string(options_.maxRequestBytes));
    }
    return args;
}

bool EtcdCluster::spawn(int member, std::string& error) {
    std::vector<std::string> args = arguments(member);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string log = dir_ + "/m" + std::to_string(member) + ".log";
    std::string netns;
    if (static_cast<std::size_t>(member) < options_.namespaces.size() &&
        !options_.namespaces[member].empty())
        netns = "/run/netns/" + options_.namespaces[member];
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        error = "cannot fork for etcd";
        return false;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);  // the test died before prctl
        if (!netns.empty()) {
            int ns = ::open(netns.c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) ::_exit(126);
        }
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execv(kEtcd, argv.data());
        ::_exit(127);
    }
    members_[member].pid = pid;
    return true;
}

bool EtcdCluster::start(std::string& error) {
    removeLeftoverFolders();
    std::string pattern = std::string(kFolderStart) + std::to_string(::getpid()) + "-XXXXXX";
    std::vector<char> dir(pattern.begin(), pattern.end());
    dir.push_back('\0');
    if (::mkdtemp(dir.data()) == nullptr) {
        error = "cannot make a folder under /dev/shm";
        return false;
    }
    dir_ = dir.data();
    std::vector<int> ports = freePorts(2 * size());
    if (static_cast<int>(ports.size()) != 2 * size()) {
        error = "no free loopback ports";
        return false;
    }
    for (int i = 0; i < size(); ++i) {
        members_[i].clientPort = ports[2 * i];
        members_[i].peerPort = ports[2 * i + 1];
    }
    for (int i = 0; i < size(); ++i)
        if (!spawn(i, error)) return false;
    return waitHealthy(15000, error);
}

bool EtcdCluster::restart(int member, std::string& error) {
    if (running(member)) return true;
    return spawn(member, error);
}

void EtcdCluster::kill(int member) {
    pid_t pid = members_[member].pid;
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    members_[member].pid = -1;
}

void EtcdCluster::stop() {
    for (int i = 0; i < size(); ++i) kill(i);
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        dir_.clear();
    }
}

// The leader as the running members see it: -1 unless all of them name the
// same running member.
int EtcdCluster::leader() {
    std::string leaderId;
    std::vector<std::string> ids(size());
    for (int i = 0; i < size(); ++i) {
        if (!running(i)) continue;
        std::string ignored;
        auto gateway = EtcdGateway::open(gatewayOptions({endpoint(i)}, 300), ignored);
        EtcdGateway::Status status;
        if (!gateway || !gateway->status(status).ok() || status.leaderId.empty()) return -1;
        if (!leaderId.empty() && leaderId != status.leaderId) return -1;
        leaderId = status.leaderId;
        ids[i] = status.memberId;
    }
    for (int i = 0; i < size(); ++i)
        if (running(i) && ids[i] == leaderId) return i;
    return -1;
}

bool EtcdCluster::waitHealthy(int timeoutMs, std::string& error) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        for (int i = 0; i < size(); ++i) {
            if (running(i) && ::waitpid(members_[i].pid, nullptr, WNOHANG) == members_[i].pid) {
                members_[i].pid = -1;
                error = "etcd member m" + std::to_string(i) + " exited:\n" + logTails();
                return false;
            }
        }
        if (leader() >= 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error = "etcd cluster not healthy within " + std::to_string(timeoutMs) + " ms:\n" + logTails();
    return false;
}

std::string EtcdCluster::logTails() const {
    std::ostringstream out;
    for (int i = 0; i < size(); ++i) {
        std::ifstream log(dir_ + "/m" + std::to_string(i) + ".log");
        std::string text((std::istreambuf_iterator<char>(log)), {});
        out << "--- m" << i << ": " << text.substr(text.size() > 2000 ? text.size() - 2000 : 0);
    }
    return out.str();
}

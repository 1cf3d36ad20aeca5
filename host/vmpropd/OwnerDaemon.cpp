#include "host/vmpropd/OwnerDaemon.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <ostream>

#include "host/common/HandoffSweep.h"
#include "host/common/OwnedKinds.h"
#include "host/common/StopSignals.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/MsgRoutes.h"
#include "host/platform/MsgServer.h"
#include "host/platform/RunTokenHolder.h"
#include "host/platform/TlsContext.h"
#include "host/platform/TlsMsgServer.h"
#include "host/vmpropd/InstanceLock.h"
#include "host/vmpropd/PropertyOwner.h"
#include "platform/Path.h"
#include "platform/Trace.h"

namespace {

enum class Wait { signal, timeout, failed };

// Waits for a stop signal at most `timeout`; `signal` receives its number.
Wait awaitSignal(int signalFd, std::chrono::milliseconds timeout, int& signal) {
    pollfd fd{signalFd, POLLIN, 0};
    int ready = ::poll(&fd, 1, static_cast<int>(timeout.count()));
    if (ready == 0 || (ready < 0 && errno == EINTR)) return Wait::timeout;
    signalfd_siginfo info;
    if (ready < 0 || ::read(signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
        return Wait::failed;
    signal = static_cast<int>(info.ssi_signo);
    return Wait::signal;
}

}  // namespace

OwnerDaemon::OwnerDaemon(std::uint16_t box, std::ostream& out, std::ostream& err,
                         std::optional<Tcp> tcp)
    : box_(box), out_(out), err_(err), tcp_(std::move(tcp)) {}

OwnerDaemon::~OwnerDaemon() = default;

int OwnerDaemon::prepareTcp(PropertyOwner& owner) {
    if (!tcp_) return 0;
    MsgRoutes::Route address;
    String problem;
    if (!MsgRoutes::parseAddress(tcp_->address, address, problem, true)) {
        err_ << "vmpropd: --listen " << problem << '\n';
        return 2;
    }
    std::unique_ptr<TlsContext> context =
        TlsContext::load(tcp_->directory, box_, TlsContext::Side::server, problem);
    if (!context) {
        err_ << "vmpropd: will not listen on " << address.text() << " without TLS: " << problem
             << '\n';
        return 2;
    }
    tcpServer_ = std::make_unique<TlsMsgServer>(
        box_, address, std::move(context),
        [&owner](int opcode, const String& body) { return owner.handleCarried(opcode, body); });
    return 0;
}

void OwnerDaemon::reloadTls() {
    if (!tcpServer_) {
        MC_std_trace() << "vmpropd: box " << box_ << " got SIGHUP; it serves no TCP" << oops;
        return;
    }
    String problem;
    std::unique_ptr<TlsContext> context =
        TlsContext::load(tcp_->directory, box_, TlsContext::Side::server, problem);
    if (!context) {
        MC_std_trace() << "vmpropd: box " << box_ << " keeps the certificates in use: " << problem
                       << oops;
        err_ << "vmpropd: SIGHUP: kept the certificates in use: " << problem << std::endl;
        return;
    }
    tcpServer_->replaceContext(std::move(context));
    MC_std_trace() << "vmpropd: box " << box_ << " read its certificates again from "
                   << tcp_->directory << oops;
}

int OwnerDaemon::refusal(const String& ownedKinds) {
    const String& root = HostPlatform::root();
    struct stat info;
    // Checked before anything is written: a mistyped root must not become a
    // new, empty platform tree.
    int error = ::stat(root.c_str(), &info) != 0 ? errno : S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    if (error != 0) {
        err_ << "vmpropd: the platform root '" << root
             << "' cannot be used: " << std::strerror(error) << '\n';
        return 2;
    }
    if (ownedKinds.empty()) {
        err_ << "vmpropd: box " << box_
             << " owns no kind of property set: there is nothing for it to store\n";
        return 2;
    }
    return 0;
}

int OwnerDaemon::run() {
    std::unique_ptr<OwnedKinds> kinds;
    {
        RunTokenHolder token;  // the kinds come from the module's registry
        kinds = std::make_unique<OwnedKinds>(box_);
    }
    if (int status = refusal(kinds->names()); status != 0) return status;
    PropertyOwner owner(*kinds);
    if (int status = prepareTcp(owner); status != 0) return status;
    String lockPath =
        HostPlatform::hostPath(Path("/vm/run/vmpropd-box" + std::to_string(box_) + ".lock"));
    InstanceLock lock;
    InstanceLock::Result locked = lock.acquire(lockPath);
    if (locked == InstanceLock::Result::held) {
        err_ << "vmpropd: box " << box_ << " is already served on this root by "
             << (lock.holder() > 0 ? "pid " + std::to_string(lock.holder()) : "another process")
             << " (lock " << lockPath << "); not starting a second instance\n";
        return 1;
    }
    if (locked == InstanceLock::Result::failed) {
        err_ << "vmpropd: cannot take the lock " << lockPath << ": " << std::strerror(errno)
             << '\n';
        return 1;
    }
    int signalFd = stopSignals(true);
    if (signalFd < 0) {
        err_ << "vmpropd: cannot take the stop signals: " << std::strerror(errno) << '\n';
        return 1;
    }
    HandoffSweep sweep(kinds->handedOff());
    int status = serve(signalFd, owner, sweep);
    ::close(signalFd);
    return status;
}

int OwnerDaemon::serve(int signalFd, PropertyOwner& owner, HandoffSweep& sweep) {
    sweep.run();
    MsgServer server(box_, resource, [&owner](int opcode, const String& body) {
        return owner.handle(opcode, body);
    });
    if (!server.start()) {
        int error = errno;
        MC_std_trace() << "vmpropd: box " << box_ << " cannot listen at " << server.socketPath()
                       << ": " << std::strerror(error) << oops;
        err_ << "vmpropd: cannot listen at " << server.socketPath() << ": " << std::strerror(error)
             << '\n';
        return 1;
    }
    String tcpText;
    if (tcpServer_) {
        String problem;
        if (!tcpServer_->start(problem)) {
            MC_std_trace() << "vmpropd: box " << box_ << " " << problem << oops;
            err_ << "vmpropd: " << problem << '\n';
            return 1;
        }
        MsgRoutes::Route bound;
        MsgRoutes::parseAddress(tcp_->address, bound, problem, true);
        bound.port = tcpServer_->port();
        tcpText = " and tls://" + bound.text();
    }
    MC_std_trace() << "vmpropd: box " << box_ << " serves property updates at "
                   << server.socketPath() << tcpText << oops;
    out_ << "vmpropd: box " << box_ << " listening on /vm/run/box" << box_ << "." << resource
         << tcpText << std::endl;
    int received = -1;
    Wait wait;
    while ((wait = awaitSignal(signalFd, HandoffSweep::interval, received)) != Wait::failed) {
        if (wait == Wait::timeout)
            sweep.run();
        else if (received == SIGHUP)
            reloadTls();
        else
            break;
    }
    MC_std_trace() << "vmpropd: box " << box_ << " stops (signal " << received << ")" << oops;
    if (tcpServer_) tcpServer_->stop();
    server.stop();
    return wait == Wait::signal ? 0 : 1;
}

// vmpropd: the daemon of a property owner box. It serves remote property
// updates (opcode 39169) on resource 1 of its box until SIGTERM or SIGINT.

#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>

#include "config_adm_version.h"
#include "host/common/PlatformRoot.h"
#include "host/common/StopSignals.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/MsgServer.h"
#include "host/vmpropd/PropertyOwner.h"
#include "platform/Trace.h"

namespace {

struct Options {
    std::optional<String> root;
    int box = 333;
    std::optional<int> traceLevel;
    bool foreground = true;
};

// The signal that arrived, or -1 when the descriptor failed.
int awaitSignal(int signalFd) {
    signalfd_siginfo info;
    for (;;) {
        ssize_t n = ::read(signalFd, &info, sizeof info);
        if (n == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
        if (n < 0 && errno == EINTR) continue;
        return -1;
    }
}

int serve(std::uint16_t box) {
    int signalFd = stopSignals();
    if (signalFd < 0) {
        std::cerr << "vmpropd: cannot take the stop signals: " << std::strerror(errno) << '\n';
        return 1;
    }
    PropertyOwner owner;
    MsgServer server(
        box, 1, [&owner](int opcode, const String& body) { return owner.handle(opcode, body); });
    if (!server.start()) {
        int error = errno;
        MC_std_trace() << "vmpropd: box " << box << " cannot listen at " << server.socketPath()
                       << ": " << std::strerror(error) << oops;
        std::cerr << "vmpropd: cannot listen at " << server.socketPath() << ": "
                  << std::strerror(error) << '\n';
        return 1;
    }
    MC_std_trace() << "vmpropd: box " << box << " serves property updates at "
                   << server.socketPath() << oops;
    int received = awaitSignal(signalFd);
    MC_std_trace() << "vmpropd: box " << box << " stops (signal " << received << ")" << oops;
    server.stop();
    ::close(signalFd);
    return received < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vmpropd: applies remote property updates on the box that owns the kinds"};
    Options options;
    app.set_version_flag("--version", [] {
        return std::string("vmpropd (config_adm) ") + CFGADM_VERSION + "\nmodule libconfig_adm " +
               config_adm_version();
    });
    app.add_option("--root", options.root, "Platform root directory (default: / or $VM_ROOT)");
    app.add_option("--box", options.box, "Processor box number served (default 333)")
        ->check(CLI::Range(1, 65535));
    app.add_option("--trace-level", options.traceLevel, "Platform trace level")
        ->check(CLI::Range(0, 9));
    app.add_flag("--foreground", options.foreground, "Stay in the foreground (the only mode)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    PlatformRoot::settle(options.root);
    HostPlatform::setBox(static_cast<std::uint16_t>(options.box));
    if (options.traceLevel) HostTrace::setLevel(*options.traceLevel);
    return serve(static_cast<std::uint16_t>(options.box));
}

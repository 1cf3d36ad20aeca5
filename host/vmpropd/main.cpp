// vmpropd: the daemon of a property owner box. It serves remote property
// updates (opcode 39169) on resource 1 of its box until SIGTERM or SIGINT.

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>

#include "config_adm_version.h"
#include "host/common/PlatformRoot.h"
#include "host/common/UsageError.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/TlsContext.h"
#include "host/vmpropd/OwnerDaemon.h"

namespace {

struct Options {
    std::optional<String> root;
    int box = 333;
    std::optional<int> traceLevel;
    bool foreground = true;
    std::optional<String> listen;
    std::optional<String> tlsDirectory;
};

int serve(std::uint16_t box, const Options& options) {
    std::optional<OwnerDaemon::Tcp> tcp;
    if (options.listen)
        tcp = OwnerDaemon::Tcp{*options.listen,
                               options.tlsDirectory.value_or(TlsContext::defaultDirectory())};
    return OwnerDaemon(box, std::cout, std::cerr, tcp).run();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vmpropd: applies remote property updates on the box that owns the kinds"};
    Options options;
    app.set_version_flag("--version", [] {
        return std::string("vmpropd (config_adm) ") + CFGADM_VERSION + "\nmodule libconfig_adm " +
               config_adm_version();
    });
    app.add_option("--root", options.root,
                   "Platform root directory (default: $VM_ROOT, else VM_ROOT of the platform "
                   "defaults file, else /)");
    app.add_option("--box", options.box, "Processor box number served (default 333)")
        ->check(CLI::Range(1, 65535));
    app.add_option("--trace-level", options.traceLevel, "Platform trace level")
        ->check(CLI::Range(0, 9));
    app.add_option("--listen", options.listen,
                   "Also serve other hosts on TCP at HOST:PORT, with mutual TLS 1.3 (port 0: "
                   "one the system picks, shown in the listening line)");
    app.add_option("--tls-dir", options.tlsDirectory,
                   "Certificate folder for --listen: ca.pem, box<N>.pem, box<N>.key, and crl.pem "
                   "when certificates were revoked (default: "
                   "$VM_MSG_TLS, else /VM/config/tls under the root); read again on SIGHUP, "
                   "which also closes the open connections");
    app.add_flag("--foreground", options.foreground, "Stay in the foreground (the only mode)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return UsageError::report(app, e, "vmpropd", std::cerr);
    }
    PlatformRoot::settle(options.root);
    HostPlatform::setBox(static_cast<std::uint16_t>(options.box));
    if (options.traceLevel) HostTrace::setLevel(*options.traceLevel);
    return serve(static_cast<std::uint16_t>(options.box), options);
}

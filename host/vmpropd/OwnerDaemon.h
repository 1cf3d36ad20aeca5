#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>

#include "platform/String.h"

class HandoffSweep;
class PropertyOwner;
class TlsMsgServer;

// One run of vmpropd for a box, on the current platform root:
// 1. refuses a root that is not an existing directory, and a box that owns
//    no registered kind (exit status 2, a line on `err`), creating nothing;
// 2. takes the box's instance lock "/vm/run/vmpropd-box<BOX>.lock"; when
//    another instance holds it, says which pid on `err` and exits 1 without
//    touching anything of that instance (its socket above all);
//    With a TCP address (listen), also refuses (exit status 2, in words) an
//    address that does not parse and a certificate folder that does not
//    give this box a usable TLS identity (TlsContext): no TLS, no TCP;
// 3. sweeps left-over hand-off files (HandoffSweep), listens at
//    "/vm/run/box<BOX>.1" (and on the TCP address, TlsMsgServer) and prints
//    one line on `out` once clients can connect:
//    "vmpropd: box <BOX> listening on /vm/run/box<BOX>.1", followed by
//    " and tls://HOST:PORT" (the port chosen, for port 0) with TCP;
// 4. answers update requests (PropertyOwner) until SIGTERM or SIGINT,
//    sweeping again every HandoffSweep::interval; then stops the server and
//    exits 0 (1 when it could not listen or lost its signal descriptor).
//    SIGHUP reads the certificate folder again and serves TCP with it
//    (TlsMsgServer::replaceContext: open connections are closed, so that a
//    revocation applies at once); a folder that gives no usable identity
//    any more is refused in words on `err` and the certificates in use are
//    kept. Without TCP, SIGHUP changes nothing.
// Blocks SIGTERM, SIGINT and SIGHUP for the process (stopSignals):
// construct and run it before any other thread starts.
class OwnerDaemon {
  public:
    static constexpr std::uint32_t resource = 1;

    struct Tcp {
        String address;    // HOST:PORT as given to --listen
        String directory;  // the certificate folder
    };

    OwnerDaemon(std::uint16_t box, std::ostream& out, std::ostream& err,
                std::optional<Tcp> tcp = std::nullopt);
    ~OwnerDaemon();

    // The process's exit status.
    int run();

  private:
    // 0, or 2 after saying why the daemon cannot serve this root and box.
    int refusal(const String& ownedKinds);
    // 0, or 2 after saying why TCP cannot be served; makes tcpServer_.
    int prepareTcp(PropertyOwner& owner);
    int serve(int signalFd, PropertyOwner& owner, HandoffSweep& sweep);
    // On SIGHUP: the certificate folder read again, or kept as it was.
    void reloadTls();

    std::uint16_t box_;
    std::ostream& out_;
    std::ostream& err_;
    std::optional<Tcp> tcp_;
    std::unique_ptr<TlsMsgServer> tcpServer_;
};

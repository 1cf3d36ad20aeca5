// A frame round trip to a box on another host (TCP on loopback, mutual TLS
// 1.3, the connection kept from one exchange to the next) against the same
// exchange with a box on this machine (its Unix socket, a connection per
// exchange): the module's 3080-byte update body out, a 16-byte reply back,
// through the same client call. Both wait for a server thread, so the ratio
// compares wall time.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "bench/RatioReporter.h"
#include "bench/ScratchRoot.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/MsgServer.h"
#include "host/platform/TlsMsgServer.h"
#include "platform/OrvexMsgClient.h"

namespace {

constexpr std::uint16_t kRemoteBox = 7;
constexpr std::uint16_t kLocalBox = 8;
constexpr int kBodyLength = 3080;

std::optional<String> answer(int, const String&) {
    return String(16, '\0');
}

void roundTrip(benchmark::State& state, std::uint16_t box) {
    OrvexMsgClient client(nullptr, 1114);
    client.allocate();
    for (auto _ : state) {
        client.opcode(1);
        client.to()[1] = box;
        client.to()[2] = 1;
        std::fill(client.body(), client.body() + kBodyLength, 'x');
        client.length(kBodyLength);
        if (client.access_with_reply(-1, 3).status != 0 || client.length() != 16)
            state.SkipWithError("the exchange failed");
    }
    state.SetBytesProcessed(state.iterations() * (kBodyLength + 16));
}

void BM_UnixRoundTrip(benchmark::State& state) {
    roundTrip(state, kLocalBox);
}

void BM_TlsRoundTrip(benchmark::State& state) {
    roundTrip(state, kRemoteBox);
}

BENCHMARK(BM_UnixRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_TlsRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    RatioReporter::initialize(argc, argv);
    ScratchRoot root;
    if (!root.ok()) return 1;
    HostPlatform::setBox(1);
    String tls = HostPlatform::hostPath(Path("/VM/config/tls"));
    String script = String(CFGADM_SOURCE_DIR) + "/scripts/vm-certs.sh '" + tls + "' 1 " +
                    std::to_string(kRemoteBox) + " >/dev/null";
    if (std::system(script.c_str()) != 0) return 1;
    String error;
    auto context = TlsContext::load(tls, kRemoteBox, TlsContext::Side::server, error);
    if (!context) {
        std::fprintf(stderr, "bench_msg_tls: %s\n", error.c_str());
        return 1;
    }
    TlsMsgServer remote(kRemoteBox, {"127.0.0.1", 0}, std::move(context), answer);
    MsgServer local(kLocalBox, 1, answer);
    if (!remote.start(error) || !local.start()) {
        std::fprintf(stderr, "bench_msg_tls: cannot start the servers %s\n", error.c_str());
        return 1;
    }
    std::ofstream(HostPlatform::hostPath(Path("/VM/config/msg_routes")))
        << kRemoteBox << " 127.0.0.1:" << remote.port() << "\n";

    RatioReporter reporter("bench_msg_tls");
    reporter.compare("BM_TlsRoundTrip/real_time", "BM_UnixRoundTrip/real_time", 1.5,
                     RatioReporter::Clock::Wall);
    reporter.run();
    reporter.printRatios();
    return 0;
}

// The etcd index store against raw gateway requests that move the same bytes
// over the same connection: a record read (a linearizable range), and an
// owner's save (the read, then a put guarded on the revision read) of a 5 KB
// record. Both sides wait for a 3-member cluster on loopback that the
// benchmark starts itself, so the ratios compare wall time.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <memory>

#include "bench/RatioReporter.h"
#include "host/platform/EtcdGateway.h"
#include "host/platform/EtcdIndexStore.h"
#include "tests/testing/EtcdCluster.h"

namespace {

const std::string kIndex = "/VM/cos/index";
const std::string kKey("\x2a\x00\x00\x00", 4);
const std::string kRecord = "17" + std::string(5000, 's');

EtcdGateway* gateway = nullptr;
EtcdIndexStore* store = nullptr;

std::string base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

void BM_StoreRead(benchmark::State& state) {
    EtcdIndexStore::Record record;
    for (auto _ : state)
        if (store->read(kIndex, kKey, record) != BTREE_OK)
            state.SkipWithError(EtcdIndexStore::lastError().c_str());
}

void BM_RawRange(benchmark::State& state) {
    const std::string body = "{\"key\":\"" + base64(store->recordKey(kIndex, kKey)) + "\"}";
    std::string response;
    for (auto _ : state)
        if (!gateway->post("/v3/kv/range", body, response).ok()) state.SkipWithError("range");
}

void BM_StoreSave(benchmark::State& state) {
    EtcdIndexStore::Record record;
    for (auto _ : state) {
        if (store->read(kIndex, kKey, record) != BTREE_OK ||
            store->write(kIndex, kKey, kRecord, record.revision) != BTREE_OK)
            state.SkipWithError(EtcdIndexStore::lastError().c_str());
    }
}

// The least a client must do for the same save: post the range, pick the
// revision out of the answer, post the prepared transaction around it.
void BM_RawRangeTxn(benchmark::State& state) {
    const std::string key = base64(store->recordKey(kIndex, kKey));
    const std::string range = "{\"key\":\"" + key + "\"}";
    const std::string head = "{\"compare\":[{\"key\":\"" + key +
                             "\",\"target\":\"MOD\",\"result\":\"EQUAL\",\"mod_revision\":\"";
    const std::string tail = "\"}],\"success\":[{\"request_put\":{\"key\":\"" + key +
                             "\",\"value\":\"" + base64(kRecord) + "\"}}]}";
    const std::string field = "\"mod_revision\":\"";
    std::string response;
    for (auto _ : state) {
        if (!gateway->post("/v3/kv/range", range, response).ok()) state.SkipWithError("range");
        std::size_t at = response.find(field) + field.size();
        std::string revision = response.substr(at, response.find('"', at) - at);
        if (!gateway->post("/v3/kv/txn", head + revision + tail, response).ok() ||
            response.find("\"succeeded\":true") == std::string::npos)
            state.SkipWithError("txn");
    }
}

BENCHMARK(BM_StoreRead)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RawRange)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_StoreSave)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RawRangeTxn)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    RatioReporter::initialize(argc, argv);
    if (!EtcdCluster::available()) {
        std::printf("bench_etcd: %s is missing (apt-get install etcd-server); skipped\n",
                    EtcdCluster::kEtcd);
        return 0;
    }
    EtcdCluster cluster;
    std::string error;
    if (!cluster.start(error)) {
        std::fprintf(stderr, "bench_etcd: %s\n", error.c_str());
        return 1;
    }
    auto gatewayOwner = EtcdGateway::open(cluster.gatewayOptions(cluster.endpoints(), 2000), error);
    if (!gatewayOwner) return 1;
    EtcdIndexStore storeOwner(*gatewayOwner, "/vm/idx");
    gateway = gatewayOwner.get();
    store = &storeOwner;
    if (store->write(kIndex, kKey, kRecord, EtcdIndexStore::kUnfenced) != BTREE_OK) return 1;

    RatioReporter reporter("bench_etcd");
    using Clock = RatioReporter::Clock;
    reporter.compare("BM_StoreRead/real_time", "BM_RawRange/real_time", 1.3, Clock::Wall);
    reporter.compare("BM_StoreSave/real_time", "BM_RawRangeTxn/real_time", 1.3, Clock::Wall);
    reporter.run();
    reporter.printRatios();
    return 0;
}

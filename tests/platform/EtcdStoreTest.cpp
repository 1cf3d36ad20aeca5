#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "host/platform/EtcdGateway.h"
#include "host/platform/EtcdIndexStore.h"
#include "host/platform/EtcdIndexUrl.h"
#include "tests/testing/EtcdCluster.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kCosIndex = "/vm/cos/index";

std::unique_ptr<EtcdGateway> gatewayOn(std::vector<std::string> endpoints, int timeoutMs = 2000) {
    std::string error;
    auto gateway = EtcdGateway::open({std::move(endpoints), timeoutMs, "", "", ""}, error);
    EXPECT_TRUE(gateway) << error;
    return gateway;
}

class EtcdStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!EtcdCluster::available())
            GTEST_SKIP() << EtcdCluster::kEtcd << " is missing: apt-get install etcd-server";
        std::string error;
        EtcdCluster* cluster = EtcdCluster::shared(error);
        ASSERT_NE(cluster, nullptr) << error;
        gateway_ = gatewayOn(cluster->endpoints());
        ASSERT_TRUE(gateway_);
        // Each case gets its own prefix: nothing carries over between cases.
        prefix_ =
            std::string("/t/") + testing::UnitTest::GetInstance()->current_test_info()->name();
        store_ = std::make_unique<EtcdIndexStore>(*gateway_, prefix_);
    }

    std::string prefix_;
    std::unique_ptr<EtcdGateway> gateway_;
    std::unique_ptr<EtcdIndexStore> store_;
};

// What the module sees of records on etcd is in IndexContractTest; here, how
// they lie in the cluster, for tools that read it directly.
TEST_F(EtcdStoreTest, RecordsKeepTheirBytesUnderTheirHexKeyAndAnswerTheIndexResultCodes) {
    const std::string record("17\x01V1\n\0tail", 11);
    struct Case {
        std::string key, bytes, etcdKey;
    } cases[] = {{std::string("\x00\xff\x10\x20\x00\x00\x00\x01", 8), record,
                  "/vm/cos/index/00ff102000000001"},
                 {"k", "", "/vm/cos/index/6b"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.etcdKey);
        EtcdIndexStore::Record read;
        ASSERT_EQ(store_->write(kCosIndex, c.key, c.bytes, 0), BTREE_OK)
            << EtcdIndexStore::lastError();
        ASSERT_EQ(store_->read(kCosIndex, c.key, read), BTREE_OK) << EtcdIndexStore::lastError();
        EXPECT_EQ(read.version, 1);
        EtcdGateway::Record raw;
        EXPECT_EQ(store_->recordKey(kCosIndex, c.key), prefix_ + c.etcdKey);
        ASSERT_TRUE(gateway_->get(prefix_ + c.etcdKey, raw).ok());
        EXPECT_EQ(raw.value, c.bytes);
    }
    EtcdIndexStore::Record read;
    EXPECT_EQ(store_->read(kCosIndex, "", read), BTREE_BAD_ARGUMENT);
    EXPECT_EQ(store_->write(kCosIndex, "", "x", EtcdIndexStore::kUnfenced), BTREE_BAD_ARGUMENT);
}

TEST_F(EtcdStoreTest, AnIndexKeepsTheKeyTypeItWasCreatedWith) {
    indx_key_t type = -1;
    EXPECT_EQ(store_->indexKeyType(kCosIndex, type), BTREE_NO_RECORD);
    EXPECT_EQ(store_->createIndex(kCosIndex, 4), BTREE_OK) << EtcdIndexStore::lastError();
    EXPECT_EQ(store_->createIndex(kCosIndex, 5), BTREE_OK) << EtcdIndexStore::lastError();
    ASSERT_EQ(store_->indexKeyType(kCosIndex, type), BTREE_OK);
    EXPECT_EQ(type, 4);
}

// Cases that kill members get a cluster of their own.
class EtcdFailureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!EtcdCluster::available())
            GTEST_SKIP() << EtcdCluster::kEtcd << " is missing: apt-get install etcd-server";
        std::string error;
        ASSERT_TRUE(cluster_.start(error)) << error;
    }
    EtcdCluster cluster_;
};

TEST_F(EtcdFailureTest, WithoutAQuorumOrAnyMemberEveryCallFailsWithinTheDeadline) {
    constexpr int kTimeoutMs = 1000;
    // A follower first: the gateway keeps a connection to it.
    int leader = cluster_.leader();
    ASSERT_GE(leader, 0);
    int follower = (leader + 1) % 3, other = (leader + 2) % 3;
    auto gateway = gatewayOn(
        {cluster_.endpoint(follower), cluster_.endpoint(leader), cluster_.endpoint(other)},
        kTimeoutMs);
    EtcdIndexStore store(*gateway, "/vm/idx");
    ASSERT_EQ(store.write(kCosIndex, "k", "1a", 0), BTREE_OK) << EtcdIndexStore::lastError();
    // Its member gone, a write moves on to the others at once.
    cluster_.kill(follower);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(store.write(kCosIndex, "k", "2a", EtcdIndexStore::kUnfenced), BTREE_OK)
        << EtcdIndexStore::lastError();
    EXPECT_LT(msSince(start), 300);
    cluster_.kill(other);
    auto nobody = gatewayOn({"127.0.0.1:1"}, kTimeoutMs);
    EtcdIndexStore unreachable(*nobody, "/vm/idx");
    EtcdIndexStore::Record r;
    struct Call {
        const char* what;
        std::function<int()> run;
    } calls[] = {{"read", [&] { return store.read(kCosIndex, "k", r); }},
                 {"fenced write", [&] { return store.write(kCosIndex, "k", "2b", 1); }},
                 {"delete", [&] { return store.remove(kCosIndex, "k"); }},
                 {"no member listening", [&] { return unreachable.read(kCosIndex, "k", r); }}};
    for (const Call& call : calls) {
        SCOPED_TRACE(call.what);
        Clock::time_point start = Clock::now();
        EXPECT_EQ(call.run(), BTREE_IO_ERROR);
        long took = msSince(start);
        EXPECT_LT(took, kTimeoutMs + 500);
        std::cout << "[          ] " << call.what << " failed after " << took << " ms\n";
        EXPECT_FALSE(EtcdIndexStore::lastError().empty());
    }
    std::string error;
    ASSERT_TRUE(cluster_.restart(follower, error)) << error;
    ASSERT_TRUE(cluster_.waitHealthy(10000, error)) << error;
    ASSERT_EQ(store.read(kCosIndex, "k", r), BTREE_OK) << EtcdIndexStore::lastError();
    EXPECT_EQ(r.bytes, "2a");
}

TEST_F(EtcdFailureTest, WritesResumeSoonAfterTheLeaderIsKilled) {
    int leader = cluster_.leader();
    ASSERT_GE(leader, 0);
    // The dead leader first: the client must move on to the others.
    std::vector<std::string> endpoints = {cluster_.endpoint(leader)};
    for (int i = 0; i < cluster_.size(); ++i)
        if (i != leader) endpoints.push_back(cluster_.endpoint(i));
    auto gateway = gatewayOn(endpoints, 1000);
    EtcdIndexStore store(*gateway, "/vm/idx");
    ASSERT_EQ(store.write(kCosIndex, "k", "1a", EtcdIndexStore::kUnfenced), BTREE_OK);
    cluster_.kill(leader);

    Clock::time_point start = Clock::now();
    int rc = BTREE_IO_ERROR;
    while (rc != BTREE_OK && msSince(start) < 10000)
        rc = store.write(kCosIndex, "k", "2b", EtcdIndexStore::kUnfenced);
    ASSERT_EQ(rc, BTREE_OK) << EtcdIndexStore::lastError();
    std::cout << "[          ] writes resumed after " << msSince(start) << " ms\n";
    EXPECT_LT(msSince(start), 5000);
    EtcdIndexStore::Record r;
    ASSERT_EQ(store.read(kCosIndex, "k", r), BTREE_OK);
    EXPECT_EQ(r.bytes, "2b");
}

class EtcdTlsTest : public PlatformFixture {};

TEST_F(EtcdTlsTest, OnlyAClientWithACertificateOfTheClustersCaIsServed) {
    if (!EtcdCluster::available())
        GTEST_SKIP() << EtcdCluster::kEtcd << " is missing: apt-get install etcd-server";
    const std::string ours = hostPath("/ours"), theirs = hostPath("/theirs");
    std::filesystem::create_directories(ours);
    std::filesystem::create_directories(theirs);
    std::string error;
    ASSERT_TRUE(EtcdCluster::makeCertificates(ours, error)) << error;
    ASSERT_TRUE(EtcdCluster::makeCertificates(theirs, error)) << error;
    EtcdCluster cluster({3, 0, ours, {}, {}});
    ASSERT_TRUE(cluster.start(error)) << error;

    // Through the URL, as an operator configures it.
    EtcdIndexUrl url;
    ASSERT_TRUE(EtcdIndexUrl::parse("etcd://" + cluster.endpoint(0) + "?tls=" + ours, url, error))
        << error;
    auto store = EtcdIndexStore::open(url, error);
    ASSERT_TRUE(store) << error;
    EtcdIndexStore::Record r;
    ASSERT_EQ(store->write(kCosIndex, "k", "1a", 0), BTREE_OK) << EtcdIndexStore::lastError();
    ASSERT_EQ(store->read(kCosIndex, "k", r), BTREE_OK) << EtcdIndexStore::lastError();
    EXPECT_EQ(r.bytes, "1a");

    EtcdGateway::Options good = cluster.gatewayOptions({cluster.endpoint(0)}, 1000);
    EtcdGateway::Options plain = good, foreignClient = good, foreignCa = good;
    plain.caFile = plain.certFile = plain.keyFile = "";
    foreignClient.certFile = theirs + "/client.pem";
    foreignClient.keyFile = theirs + "/client.key";
    foreignCa.caFile = theirs + "/ca.pem";
    for (const EtcdGateway::Options& options : {plain, foreignClient, foreignCa}) {
        SCOPED_TRACE(options.certFile + " " + options.caFile);
        auto gateway = EtcdGateway::open(options, error);
        ASSERT_TRUE(gateway) << error;
        EtcdGateway::Record record;
        EtcdGateway::Result result = gateway->get(store->recordKey(kCosIndex, "k"), record);
        EXPECT_FALSE(result.ok());
        EXPECT_NE(result.outcome, EtcdGateway::Outcome::NotFound) << result.message;
    }
}

}  // namespace

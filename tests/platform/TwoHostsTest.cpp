// Two hosts for real: box 1 and box 333 in network namespaces of their own,
// joined by veth links to a bridge, an etcd member on each and one beside.
// Runs as root only (skipped with the reason otherwise).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/testing/EtcdCluster.h"
#include "tests/testing/NamespacePair.h"
#include "tests/testing/VmcfgRunner.h"
#include "tests/testing/VmpropdProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReplyMs = 3000;
constexpr int kPort = 7333;
const String kName = "COS Greeting Length";

class TwoHostsTest : public VmcfgFixture {
  protected:
    void SetUp() override {
        VmcfgFixture::SetUp();
        if (!EtcdCluster::available())
            GTEST_SKIP() << EtcdCluster::kEtcd << " is missing: apt-get install etcd-server";
        std::string error;
        if (!net_.create(error)) GTEST_SKIP() << "two hosts need network namespaces: " << error;
        cluster_ = std::make_unique<EtcdCluster>(
            EtcdCluster::Options{3,
                                 0,
                                 "",
                                 {net_.address(0), net_.address(1), net_.address(2)},
                                 {net_.name(0), net_.name(1), ""}});
        ASSERT_TRUE(cluster_->start(error)) << error;
        String endpoints;
        for (const std::string& e : cluster_->endpoints())
            endpoints += (endpoints.empty() ? "" : ",") + e;
        env_ = "VM_INDEX=etcd://" + endpoints +
               "?timeout_ms=1000 VM_MSG_REPLY_MS=" + std::to_string(kReplyMs) +
               " VM_MSG_CONNECT_MS=1000"
               // The index and messaging are under test, not the change
               // journal, which has a suite of its own.
               " VM_JOURNAL=off";
        hostA_ = hostPath("/host-a");
        hostB_ = hostPath("/host-b");
        ASSERT_EQ(vmcfg(hostB_, 333, "init --demo").status, 0);
        ASSERT_EQ(vmcfg(hostA_, 1, "init --demo").status, 0);
        ASSERT_TRUE(makeCertificates(error)) << error;
        std::ofstream(hostA_ + "/VM/config/msg_routes")
            << "333 " << net_.address(1) << ":" << kPort << "\n";
        NamespacePair::Inside inB(net_, 1);
        ASSERT_TRUE(inB.entered());
        setenv("VM_INDEX", ("etcd://" + endpoints + "?timeout_ms=1000").c_str(), 1);
        bool started = owner_.start(hostB_, 333, 2,
                                    {"--listen", net_.address(1) + ":" + std::to_string(kPort)});
        unsetenv("VM_INDEX");
        ASSERT_TRUE(started) << readFile(Path("/host-b/vmpropd.out"));
    }

    bool makeCertificates(std::string& error) {
        String dir = hostPath("/ca");
        String script = String(CFGADM_SOURCE_DIR) + "/scripts/vm-certs.sh";
        String command = script + " " + dir + " 1 333 >" + dir + ".log 2>&1";
        if (std::system(command.c_str()) != 0) return error = "vm-certs.sh failed", false;
        for (auto [root, box] : {std::pair{hostA_, 1}, std::pair{hostB_, 333}}) {
            String tls = root + "/VM/config/tls";
            std::filesystem::create_directories(tls);
            String own = "box" + std::to_string(box);
            for (const String& file : {String("ca.pem"), own + ".pem", own + ".key"})
                std::filesystem::copy_file(dir + "/" + file, tls + "/" + file);
        }
        return true;
    }

    // vmcfg as box `box` on `root`, from the side's namespace (-1: this one).
    VmcfgRunner::Outcome vmcfg(const String& root, int box, const String& arguments,
                               int side = -1) const {
        auto run = [&] {
            return runWith(env_,
                           "--root " + root + " --box " + std::to_string(box) + " " + arguments);
        };
        if (side < 0) return run();
        // A thread of its own: the namespace is a property of the thread.
        return std::async(std::launch::async,
                          [&] {
                              NamespacePair::Inside inside(net_, side);
                              EXPECT_TRUE(inside.entered());
                              return run();
                          })
            .get();
    }

    // The value as box 333 reads it from its own host.
    String valueOnB() const {
        VmcfgRunner::Outcome shown = vmcfg(hostB_, 333, "--json props show --cos 1", 1);
        if (shown.status != 0) return "(exit " + std::to_string(shown.status) + ")";
        for (const auto& property : nlohmann::json::parse(shown.out))
            if (property["name"] == kName) return property["value"].get<String>();
        return "(none)";
    }

    NamespacePair net_;
    std::unique_ptr<EtcdCluster> cluster_;
    VmpropdProcess owner_;
    String env_, hostA_, hostB_;
};

TEST_F(TwoHostsTest, ALostLinkOrQuorumFailsASaveInTimeAndTheNextSaveGoesThrough) {
    String put = "props put --cos 1 '" + kName + "' ";
    VmcfgRunner::Outcome saved = vmcfg(hostA_, 1, put + "45 --index 1", 0);
    ASSERT_EQ(saved.status, 0) << saved.err;

    // 100 KB through a link of 256 kbit/s takes about 3 s: the link goes
    // down half a second in.
    ASSERT_TRUE(net_.limitRate(0, 256));
    String big(100 * 1024, '7');
    Clock::time_point start = Clock::now();
    auto pending = std::async(std::launch::async,
                              [&] { return vmcfg(hostA_, 1, put + big + " --index 1", 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(net_.setLink(0, false));
    VmcfgRunner::Outcome lost = pending.get();
    long took = msSince(start);
    EXPECT_NE(lost.status, 0);
    EXPECT_LT(took, kReplyMs + 1500) << lost.err;
    EXPECT_NE(lost.err.find("box 333"), String::npos) << lost.err;
    std::cout << "[          ] link down: the save failed after " << took << " ms: " << lost.err;
    String after = valueOnB();
    EXPECT_TRUE(after == "45" || after == big) << after.substr(0, 80);

    ASSERT_TRUE(net_.setLink(0, true));
    ASSERT_TRUE(net_.limitRate(0, 0));
    std::string error;
    ASSERT_TRUE(cluster_->waitHealthy(10000, error)) << error;
    saved = vmcfg(hostA_, 1, put + "50 --index 1", 0);
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(valueOnB(), "50");

    // Two members gone: no quorum, the save fails within the index deadline
    // and the owner goes on serving once they are back.
    cluster_->kill(0);
    cluster_->kill(2);
    start = Clock::now();
    lost = vmcfg(hostA_, 1, put + "55 --index 1", 0);
    took = msSince(start);
    EXPECT_NE(lost.status, 0);
    EXPECT_LT(took, kReplyMs) << lost.err;
    std::cout << "[          ] no quorum: the save failed after " << took << " ms: " << lost.err;
    ASSERT_TRUE(cluster_->restart(0, error) && cluster_->restart(2, error)) << error;
    ASSERT_TRUE(cluster_->waitHealthy(10000, error)) << error;
    saved = vmcfg(hostA_, 1, put + "60 --index 1", 0);
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(valueOnB(), "60");
    EXPECT_TRUE(owner_.running());
}

}  // namespace

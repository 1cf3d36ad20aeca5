#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include "host/platform/EtcdIndexUrl.h"
#include "host/platform/EtcdJournal.h"
#include "host/platform/IndexBackend.h"
#include "host/platform/JournalContext.h"
#include "host/platform/SqliteJournal.h"
#include "platform/FileSystem.h"
#include "properties/COSProperties.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/EtcdCluster.h"
#include "tests/testing/PlatformFixture.h"

// The journal store's contract, run on the SQLite file and on an etcd
// cluster: what the tools read must not depend on the store.

namespace {

using Clock = std::chrono::steady_clock;

// One change per letter of names: added, changed, removed in turn, values
// holding any byte.
JournalEntry entryOf(const std::string& kind, const std::string& target, const std::string& actor,
                     std::int64_t timeUs, const std::string& names) {
    JournalEntry e{0, timeUs, actor, 0, "vmcfg", 4242, "hostA", 0, kind, target, 0, {}};
    for (char name : names) {
        JournalChange c;
        c.op = static_cast<JournalChange::Op>("acr"[e.changes.size() % 3]);
        c.name = String(1, name);
        c.index = static_cast<std::uint32_t>(e.changes.size());
        if (c.op != JournalChange::ADDED) c.oldValue = "old", c.oldAttributes = "R0W0";
        if (c.op != JournalChange::REMOVED)
            c.newValue = String("n\0\xfe", 3), c.newAttributes = "R1";
        e.changes.push_back(c);
    }
    return e;
}

// Every field of a record, changes included.
std::string describe(const JournalEntry& e) {
    std::ostringstream out;
    out << e.seq << '|' << e.timeUs << '|' << e.actor << '|' << e.box << '|' << e.program << '|'
        << e.pid << '|' << e.host << '|' << e.senderBox << '|' << e.kind << '|' << e.target << '|'
        << e.after;
    for (const JournalChange& c : e.changes)
        out << '|' << char(c.op) << c.name << '#' << c.index << '=' << c.oldValue << '/'
            << c.newValue << '/' << c.oldAttributes << '/' << c.newAttributes;
    return out.str();
}

std::string etcdUrl(const EtcdCluster& cluster, const std::string& prefix, int timeoutMs) {
    std::string url = "etcd://";
    for (const std::string& endpoint : cluster.endpoints())
        url += (url.size() > 7 ? "," : "") + endpoint;
    return url + "?prefix=" + prefix + "&timeout_ms=" + std::to_string(timeoutMs);
}

std::unique_ptr<JournalStore> etcdJournal(const std::string& text) {
    EtcdIndexUrl url;
    std::string error;
    EXPECT_TRUE(EtcdIndexUrl::parse(text, url, error)) << error;
    auto store = EtcdJournal::open(url, error);
    EXPECT_TRUE(store) << error;
    return store;
}

// A journal URL of this process's own on the shared cluster, "" when
// there is none.
std::string sharedUrl(const std::string& prefix) {
    std::string error;
    EtcdCluster* cluster = EtcdCluster::shared(error);
    EXPECT_NE(cluster, nullptr) << error;
    return cluster ? etcdUrl(*cluster, prefix + std::to_string(::getpid()), 2000) : "";
}

// "seq:names seq:names ..." of what a query of store answers.
std::string answer(JournalStore& store, const JournalQuery& query) {
    std::vector<JournalEntry> found;
    std::string error, text;
    EXPECT_EQ(store.query(query, found, error), 0) << error;
    for (const JournalEntry& e : found) {
        text += (text.empty() ? "" : " ") + std::to_string(e.seq) + ":";
        for (const JournalChange& c : e.changes) text += c.name;
    }
    return text;
}

class JournalContractTest : public PlatformFixture,
                            public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        // The records' times are small numbers: nothing is past a retention.
        setenv("VM_JOURNAL_KEEP_DAYS", "100000", 1);
        if (etcd()) {
            if (!EtcdCluster::available())
                GTEST_SKIP() << EtcdCluster::kEtcd << " is missing: apt-get install etcd-server";
            static int run = 0;
            url_ = sharedUrl("/j/" + std::to_string(++run) + "/");
            ASSERT_FALSE(url_.empty());
        }
        ASSERT_TRUE(store_ = open());
    }
    void TearDown() override {
        unsetenv("VM_JOURNAL_KEEP_DAYS");
        PlatformFixture::TearDown();
    }
    bool etcd() const { return std::string(GetParam()) == "etcd"; }
    // Another store on the same journal, as a process on another host has.
    std::unique_ptr<JournalStore> open() const {
        std::string error;
        auto store = etcd() ? etcdJournal(url_) : SqliteJournal::open(error);
        EXPECT_TRUE(store) << error;
        return store;
    }
    std::uint64_t commit(const JournalEntry& entry, bool keep = true) {
        std::uint64_t seq = 0;
        EXPECT_EQ(store_->begin(entry, seq), 0);
        EXPECT_EQ(store_->end(seq, keep), 0);
        return seq;
    }
    std::string answer(const JournalQuery& query) { return ::answer(*store_, query); }
    std::uint64_t last() {
        std::uint64_t seq = 0;
        std::string error;
        EXPECT_EQ(store_->lastSeq(seq, error), 0) << error;
        return seq;
    }

    std::string url_;
    std::unique_ptr<JournalStore> store_;
};

TEST_P(JournalContractTest, ARecordIsReadOnlyOnceCommittedAndNoNumberIsGivenTwice) {
    JournalEntry a = entryOf("COSProperties", std::string("7\0\xff", 3), "alice", 1000, "NBG");
    a.box = 333;
    a.senderBox = 12;
    a.after = 0xfedcba9876543210ULL;
    JournalEntry other = entryOf("COSProperties", "8", "bob", 2000, "X");
    std::uint64_t s[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(store_->begin(i < 2 ? a : other, s[i]), 0);
    EXPECT_LT(s[0], s[1]);
    EXPECT_LT(s[1], s[2]);
    std::vector<JournalEntry> pending;
    ASSERT_EQ(store_->pending(a.kind, a.target, pending), 0);
    ASSERT_EQ(pending.size(), 2u);
    JournalEntry header = a;
    header.changes.clear();
    for (int i = 0; i < 2; ++i) {
        header.seq = s[i];
        EXPECT_EQ(describe(pending[i]), describe(header));
    }
    // Pending records are nobody's history yet.
    JournalEntry read;
    std::string error;
    EXPECT_EQ(answer({}), "");
    EXPECT_EQ(store_->entry(s[0], read, error), ENOENT);
    EXPECT_EQ(last(), 0u);

    EXPECT_EQ(store_->end(s[0], true), 0);
    EXPECT_EQ(store_->end(s[1], false), 0);
    EXPECT_EQ(store_->end(s[2], true), 0);
    pending.clear();
    ASSERT_EQ(store_->pending(a.kind, a.target, pending), 0);
    EXPECT_TRUE(pending.empty());
    EXPECT_EQ(answer({}), std::to_string(s[2]) + ":X " + std::to_string(s[0]) + ":NBG");
    EXPECT_EQ(store_->entry(s[1], read, error), ENOENT);
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(store_->entry(s[0], read, error), 0) << error;
    a.seq = s[0];
    EXPECT_EQ(describe(read), describe(a));
    EXPECT_EQ(last(), s[2]);
    // Dropping the newest does not give its number out again.
    std::uint64_t dropped = commit(other, false);
    EXPECT_GT(dropped, s[2]);
    EXPECT_GT(commit(other), dropped);
    EXPECT_EQ(store_->end(dropped + 1000, true), 0);
    EXPECT_EQ(store_->end(dropped + 1000, false), 0);
}

TEST_P(JournalContractTest, EveryQueryFilterAndTheLimitOnChanges) {
    std::uint64_t r[5] = {0};
    r[1] = commit(entryOf("K1", "1", "alice", 100, "AB"));
    r[2] = commit(entryOf("K1", "2", "bob", 200, "B"));
    commit(entryOf("K1", "1", "alice", 250, "Z"), false);
    r[3] = commit(entryOf("K2", "1", "alice", 300, "ACD"));
    r[4] = commit(entryOf("K1", "1", "bob", 400, "C"));
    std::uint64_t open = 0;
    ASSERT_EQ(store_->begin(entryOf("K1", "1", "alice", 500, "P"), open), 0);
    auto q = [](auto&& fill) {
        JournalQuery query;
        fill(query);
        return query;
    };
    struct Case {
        const char* what;
        JournalQuery query;
        std::string want;  // "r<i>:names ..."
    } cases[] = {
        {"all", {}, "r4:C r3:ACD r2:B r1:AB"},
        {"oldest first", q([](auto& x) { x.oldestFirst = true; }), "r1:AB r2:B r3:ACD r4:C"},
        {"kind", q([](auto& x) { x.kind = "K1"; }), "r4:C r2:B r1:AB"},
        {"target", q([](auto& x) { x.target = "1"; }), "r4:C r3:ACD r1:AB"},
        {"name", q([](auto& x) { x.name = "B"; }), "r2:B r1:B"},
        {"actor", q([](auto& x) { x.actor = "alice"; }), "r3:ACD r1:AB"},
        {"since", q([](auto& x) { x.sinceUs = 200; }), "r4:C r3:ACD r2:B"},
        {"until", q([](auto& x) { x.untilUs = 300; }), "r2:B r1:AB"},
        {"after seq", q([&](auto& x) { x.afterSeq = r[2]; }), "r4:C r3:ACD"},
        {"limit cuts a record", q([](auto& x) { x.limit = 2; }), "r4:C r3:A"},
        {"limit, oldest first", q([](auto& x) { x.limit = 3, x.oldestFirst = true; }),
         "r1:AB r2:B"},
        {"limit on the named changes", q([](auto& x) { x.limit = 1, x.name = "A"; }), "r3:A"},
        {"all filters", q([](auto& x) { x.kind = "K1", x.target = "1", x.actor = "bob"; }), "r4:C"},
        {"nothing matches", q([](auto& x) { x.kind = "K3"; }), ""},
    };
    for (const Case& c : cases) {
        std::string want = c.want;
        for (int i = 1; i <= 4; ++i)
            for (std::size_t at; (at = want.find("r" + std::to_string(i))) != std::string::npos;)
                want.replace(at, 2, std::to_string(r[i]));
        EXPECT_EQ(answer(c.query), want) << c.what;
    }
}

TEST_P(JournalContractTest, PruneRemovesOnlyCommittedRecordsOlderThanTheTime) {
    constexpr int kRecords = 100;  // more than a page
    std::vector<std::string> rows;
    for (int i = 0; i < kRecords; ++i)
        rows.push_back(std::to_string(commit(entryOf("K", "1", "a", i, "X"))) + ":X");
    auto from = [&](std::size_t first) {
        std::string text;
        for (std::size_t i = first; i < rows.size(); ++i)
            text += (text.empty() ? "" : " ") + rows[i];
        return text;
    };
    std::uint64_t old = 0;
    ASSERT_EQ(store_->begin(entryOf("K", "1", "a", 0, "Y"), old), 0);
    JournalQuery oldest;
    oldest.limit = 0;
    oldest.oldestFirst = true;
    EXPECT_EQ(answer(oldest), from(0));
    long removed = -1;
    std::string error;
    ASSERT_EQ(store_->prune(25, removed, error), 0) << error;
    EXPECT_EQ(removed, 25);
    ASSERT_EQ(store_->prune(25, removed, error), 0) << error;
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(answer(oldest), from(25));
    // The pending record outlived the prune and still joins the history.
    ASSERT_EQ(store_->end(old, true), 0);
    EXPECT_EQ(last(), old);
}

TEST_P(JournalContractTest, WritersInSeveralProcessesNeverShareANumber) {
    constexpr int kEach = 30;
    // The store exists before the writers start: its making is not what
    // this case is about.
    EXPECT_EQ(last(), 0u);
    std::vector<pid_t> children;
    for (int child = 0; child < 2; ++child) {
        if ((children.emplace_back(fork())) != 0) continue;
        auto store = open();
        std::uint64_t seq = 0;
        for (int i = 0; i < kEach; ++i)
            if (store->begin(entryOf("K", "1", "a", i, "X"), seq) != 0 ||
                store->end(seq, true) != 0)
                _exit(1);
        _exit(0);
    }
    for (pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    JournalQuery all;
    all.limit = 0;
    std::vector<JournalEntry> found;
    std::string error;
    ASSERT_EQ(store_->query(all, found, error), 0) << error;
    std::set<std::uint64_t> seqs;
    for (const JournalEntry& e : found) seqs.insert(e.seq);
    EXPECT_EQ(found.size(), 2u * kEach);
    EXPECT_EQ(seqs.size(), 2u * kEach);
}

TEST_P(JournalContractTest, AWaitEndsSoonAfterACommitElsewhereAndOtherwiseSleepsItsTime) {
    std::uint64_t before = commit(entryOf("K", "1", "a", 1, "X"));
    std::thread elsewhere([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto other = open();
        std::uint64_t seq = 0;
        if (other && other->begin(entryOf("K", "1", "b", 2, "Y"), seq) == 0) other->end(seq, true);
    });
    Clock::time_point start = Clock::now();
    store_->waitForChange(before, 5000);
    long woke = msSince(start);
    elsewhere.join();
    EXPECT_LT(woke, 2000);
    EXPECT_GT(last(), before);
    std::clock_t cpu = std::clock();
    start = Clock::now();
    store_->waitForChange(last(), 600);
    long slept = msSince(start);
    double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    std::cout << "[          ] woke after " << woke << " ms; idle wait " << slept << " ms, "
              << cpuMs << " ms CPU\n";
    EXPECT_LT(slept, 1500);
    EXPECT_LT(cpuMs, 200);  // no spinning
}

INSTANTIATE_TEST_SUITE_P(Stores, JournalContractTest, ::testing::Values("sqlite", "etcd"),
                         [](const auto& info) { return std::string(info.param); });

// The module's saves on an etcd index, journaled in the same cluster.
class EtcdJournalTest : public PlatformFixture {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        if (!EtcdCluster::available())
            GTEST_SKIP() << EtcdCluster::kEtcd << " is missing: apt-get install etcd-server";
        FileSystem::makeDirectories("/VM/config");
        Properties::myPBox = 333;
        setenv("VM_JOURNAL_KEEP_DAYS", "100000", 1);
    }
    void TearDown() override {
        unsetenv("VM_JOURNAL_KEEP_DAYS");
        Properties::myPBox = 0;
        unsetenv("VM_INDEX");
        IndexBackend::chooseAgain();
        JournalStore::chooseAgain();
        COSProperties::btreeFD = -1;
        PlatformFixture::TearDown();
    }
    static void useIndex(const std::string& url) {
        setenv("VM_INDEX", url.c_str(), 1);
        IndexBackend::chooseAgain();
        JournalStore::chooseAgain();
        COSProperties::btreeFD = -1;
    }
};

// An owner's save is read on another host; without a quorum the journal
// fails within the deadline and the save follows the index.
TEST_F(EtcdJournalTest, ASaveIsReadElsewhereAndWithoutAQuorumEveryCallFailsInTime) {
    constexpr int kTimeoutMs = 1000;
    EtcdCluster cluster;
    std::string error;
    ASSERT_TRUE(cluster.start(error)) << error;
    std::string url = etcdUrl(cluster, "/q", kTimeoutMs);
    useIndex(url);
    COSProperties set(7UL);
    putValue(set, "Before", "1");
    ASSERT_TRUE(set.saveThem());
    auto elsewhere = etcdJournal(url);
    ASSERT_TRUE(elsewhere);
    JournalQuery query;
    query.kind = COSProperties::factoryName.text();
    query.target = "7";
    std::vector<JournalEntry> found;
    ASSERT_EQ(elsewhere->query(query, found, error), 0) << error;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, ::getpid());
    EXPECT_EQ(found[0].host, JournalContext::host());
    ASSERT_EQ(found[0].changes.size(), 1u);
    EXPECT_EQ(found[0].changes[0].op, JournalChange::ADDED);
    EXPECT_EQ(found[0].changes[0].name + "=" + found[0].changes[0].newValue, "Before=1");

    int leader = cluster.leader();
    cluster.kill((leader + 1) % 3);
    cluster.kill((leader + 2) % 3);
    putValue(set, "During", "2");
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(set.saveThem());
    EXPECT_LT(msSince(start), kTimeoutMs + 1500);
    std::uint64_t seq = 0;
    const std::function<int()> calls[] = {
        [&] { return elsewhere->begin(entryOf("K", "1", "a", 1, "X"), seq); },
        [&] { return elsewhere->end(1, true); },
        [&] { return elsewhere->query({}, found, error); },
        [&] { return elsewhere->lastSeq(seq, error); },
    };
    for (const auto& call : calls) {
        start = Clock::now();
        EXPECT_EQ(call(), ETIMEDOUT) << error;
        long took = msSince(start);
        std::cout << "[          ] failed after " << took << " ms\n";
        EXPECT_LT(took, kTimeoutMs + 700);
    }
    EXPECT_NE(error.find("the journal on etcd (/q/journal)"), std::string::npos) << error;
    EXPECT_NE(error.find("no answer from"), std::string::npos) << error;
    EXPECT_TRUE(traces->contains(1, "the journal on etcd (/q/journal): can't begin a record"));

    ASSERT_TRUE(cluster.restart((leader + 1) % 3, error)) << error;
    ASSERT_TRUE(cluster.waitHealthy(10000, error)) << error;
    EXPECT_TRUE(set.saveThem());
    query.oldestFirst = true;
    EXPECT_EQ(answer(*elsewhere, query), "1:Before 2:During");
}

// The counter is only a hint: a deleted or rolled-back one must not make a
// writer overwrite the records that hold its numbers. A record over the
// cluster's request limit is refused as too large.
TEST_F(EtcdJournalTest, ACounterBehindTheRecordsOverwritesNoneAndLargeRecordsAreRefused) {
    const std::string prefix = "/c/" + std::to_string(::getpid()), url = sharedUrl("/c/");
    ASSERT_FALSE(url.empty());
    std::string error;
    EtcdCluster* cluster = EtcdCluster::shared(error);
    auto gateway = EtcdGateway::open(cluster->gatewayOptions(cluster->endpoints(), 2000), error);
    ASSERT_TRUE(gateway) << error;
    std::uint64_t seq = 0;
    for (const char* names : {"A", "B", "X", "Y"}) {
        if (*names == 'X') {
            ASSERT_TRUE(gateway->remove(prefix + "/journal/seq").ok());
        } else if (*names == 'Y') {
            ASSERT_TRUE(gateway->put(prefix + "/journal/seq", "1").ok());
        }
        // A store of its own each time, as on another host.
        auto journal = etcdJournal(url);
        ASSERT_EQ(journal->begin(entryOf("K", "1", "a", 1, names), seq), 0);
        ASSERT_EQ(journal->end(seq, true), 0);
    }
    auto journal = etcdJournal(url);
    JournalQuery all;
    all.oldestFirst = true;
    EXPECT_EQ(answer(*journal, all), "1:A 2:B 3:X 4:Y");
    JournalEntry big = entryOf("K", "1", "a", 1, "B");
    big.changes[0].newValue = String(EtcdCluster::kSharedRequestLimit, 'b');
    EXPECT_EQ(journal->begin(big, seq), ENOSPC);
    EXPECT_TRUE(traces->contains(1, "request too large"));
}

// Each process's first commit removes what is past the retention among the
// oldest records, even when nobody prunes.
TEST_F(EtcdJournalTest, TheFirstCommitOfAProcessRemovesTheOldestPastTheRetention) {
    const std::string url = sharedUrl("/r/");
    ASSERT_FALSE(url.empty());
    const std::int64_t day = 86400LL * 1000000,
                       now = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    setenv("VM_JOURNAL_KEEP_DAYS", "30", 1);
    std::uint64_t seq = 0;
    for (std::int64_t time : {now, now - 31 * day, now - 29 * day, now, now}) {
        // A store of its own each time, as a new process has.
        auto journal = etcdJournal(url);
        ASSERT_EQ(journal->begin(entryOf("K", "1", "a", time, time < now ? "O" : "N"), seq), 0);
        ASSERT_EQ(journal->end(seq, true), 0);
    }
    unsetenv("VM_JOURNAL_KEEP_DAYS");
    JournalQuery all;
    all.oldestFirst = true;
    EXPECT_EQ(answer(*etcdJournal(url), all), "1:N 3:O 4:N 5:N");
}

}  // namespace

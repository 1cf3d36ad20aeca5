#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <functional>
#include <iostream>
#include <set>
#include <thread>
#include <tuple>

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

long msSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

JournalChange change(JournalChange::Op op, const String& name, const String& before,
                     const String& after) {
    JournalChange c;
    c.op = op;
    c.name = name;
    c.oldValue = before;
    c.newValue = after;
    if (op != JournalChange::ADDED) c.oldAttributes = "R0W0";
    if (op != JournalChange::REMOVED) c.newAttributes = "R0W1";
    return c;
}

// One change per letter of names, each added.
JournalEntry entryOf(const std::string& kind, const std::string& target, const std::string& actor,
                     std::int64_t timeUs, const std::string& names) {
    JournalEntry e;
    e.kind = kind;
    e.target = target;
    e.actor = actor;
    e.timeUs = timeUs;
    e.program = "vmcfg";
    e.host = "hostA";
    e.pid = 4242;
    for (char name : names) e.changes.push_back(change(JournalChange::ADDED, {name}, "", "v"));
    return e;
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

class JournalContractTest : public PlatformFixture,
                            public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        if (etcd()) {
            if (!EtcdCluster::available())
                GTEST_SKIP() << EtcdCluster::kEtcd << " is missing: apt-get install etcd-server";
            std::string error;
            EtcdCluster* cluster = EtcdCluster::shared(error);
            ASSERT_NE(cluster, nullptr) << error;
            static int run = 0;
            url_ = etcdUrl(*cluster,
                           "/j/" + std::to_string(::getpid()) + "/" + std::to_string(++run), 2000);
        }
        store_ = open();
        ASSERT_TRUE(store_);
    }
    bool etcd() const { return std::string(GetParam()) == "etcd"; }
    // Another store on the same journal, as a process on another host has.
    std::unique_ptr<JournalStore> open() const {
        std::string error;
        if (etcd()) return etcdJournal(url_);
        auto store = SqliteJournal::open(error);
        EXPECT_TRUE(store) << error;
        return store;
    }
    std::uint64_t commit(const JournalEntry& entry, bool keep = true) {
        std::uint64_t seq = 0;
        EXPECT_EQ(store_->begin(entry, seq), 0);
        EXPECT_EQ(store_->end(seq, keep), 0);
        return seq;
    }
    std::vector<JournalEntry> found(const JournalQuery& query) {
        std::vector<JournalEntry> out;
        std::string error;
        EXPECT_EQ(store_->query(query, out, error), 0) << error;
        return out;
    }
    // "seq:names seq:names ..." of what the query answers.
    std::string answer(const JournalQuery& query) {
        std::string text;
        for (const JournalEntry& e : found(query)) {
            text += (text.empty() ? "" : " ") + std::to_string(e.seq) + ":";
            for (const JournalChange& c : e.changes) text += c.name;
        }
        return text;
    }
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
    JournalEntry a = entryOf("COSProperties", std::string("7\0\xff", 3), "alice", 1000, "");
    a.box = 333;
    a.senderBox = 12;
    a.after = 0xfedcba9876543210ULL;
    a.changes = {change(JournalChange::ADDED, "New", "", std::string("v\0\xfe", 3)),
                 change(JournalChange::CHANGED, "Both", "old", "new"),
                 change(JournalChange::REMOVED, "Gone", "was", "")};
    JournalEntry other = entryOf("COSProperties", "8", "bob", 2000, "X");
    std::uint64_t sa = 0, sb = 0, sc = 0;
    ASSERT_EQ(store_->begin(a, sa), 0);
    ASSERT_EQ(store_->begin(a, sb), 0);
    ASSERT_EQ(store_->begin(other, sc), 0);
    EXPECT_LT(sa, sb);
    EXPECT_LT(sb, sc);
    std::vector<JournalEntry> pending;
    ASSERT_EQ(store_->pending(a.kind, a.target, pending), 0);
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].seq, sa);
    EXPECT_EQ(pending[1].seq, sb);
    EXPECT_EQ(pending[0].after, a.after);
    EXPECT_EQ(pending[0].pid, 4242);
    EXPECT_EQ(pending[0].host, "hostA");
    // Pending records are nobody's history yet.
    JournalEntry read;
    std::string error;
    EXPECT_EQ(answer({}), "");
    EXPECT_EQ(store_->entry(sa, read, error), ENOENT);
    EXPECT_EQ(last(), 0u);

    EXPECT_EQ(store_->end(sa, true), 0);
    EXPECT_EQ(store_->end(sb, false), 0);
    EXPECT_EQ(store_->end(sc, true), 0);
    pending.clear();
    ASSERT_EQ(store_->pending(a.kind, a.target, pending), 0);
    EXPECT_TRUE(pending.empty());
    EXPECT_EQ(answer({}), std::to_string(sc) + ":X " + std::to_string(sa) + ":NewBothGone");
    EXPECT_EQ(store_->entry(sb, read, error), ENOENT);
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(store_->entry(sa, read, error), 0) << error;
    EXPECT_EQ(read.seq, sa);
    EXPECT_EQ(std::tie(read.kind, read.target, read.actor, read.program, read.host),
              std::tie(a.kind, a.target, a.actor, a.program, a.host));
    EXPECT_EQ(std::tie(read.timeUs, read.box, read.pid, read.senderBox, read.after),
              std::tie(a.timeUs, a.box, a.pid, a.senderBox, a.after));
    ASSERT_EQ(read.changes.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const JournalChange &got = read.changes[i], &want = a.changes[i];
        EXPECT_EQ(std::tie(got.op, got.name, got.index, got.oldValue, got.newValue),
                  std::tie(want.op, want.name, want.index, want.oldValue, want.newValue));
        EXPECT_EQ(std::tie(got.oldAttributes, got.newAttributes),
                  std::tie(want.oldAttributes, want.newAttributes));
    }
    EXPECT_EQ(last(), sc);
    // Dropping the newest does not give its number out again.
    std::uint64_t sd = commit(other, false), se = commit(other);
    EXPECT_GT(sd, sc);
    EXPECT_GT(se, sd);
    EXPECT_EQ(store_->end(se + 1000, true), 0);
    EXPECT_EQ(store_->end(se + 1000, false), 0);
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
    std::vector<std::uint64_t> seqs;
    for (int i = 0; i < kRecords; ++i) seqs.push_back(commit(entryOf("K", "1", "a", i, "X")));
    std::uint64_t old = 0;
    ASSERT_EQ(store_->begin(entryOf("K", "1", "a", 0, "Y"), old), 0);
    JournalQuery all;
    all.limit = 0;
    all.oldestFirst = true;
    std::vector<JournalEntry> before = found(all);
    ASSERT_EQ(before.size(), std::size_t(kRecords));
    for (int i = 0; i < kRecords; ++i) EXPECT_EQ(before[i].seq, seqs[i]);
    long removed = -1;
    std::string error;
    ASSERT_EQ(store_->prune(25, removed, error), 0) << error;
    EXPECT_EQ(removed, 25);
    ASSERT_EQ(store_->prune(25, removed, error), 0) << error;
    EXPECT_EQ(removed, 0);
    all.limit = 1;
    EXPECT_EQ(answer(all), std::to_string(seqs[25]) + ":X");
    EXPECT_EQ(last(), seqs.back());
    // The pending record outlived the prune and still joins the history.
    ASSERT_EQ(store_->end(old, true), 0);
    EXPECT_EQ(last(), old);
    all.limit = 0;
    all.name = "Y";
    EXPECT_EQ(answer(all), std::to_string(old) + ":Y");
}

TEST_P(JournalContractTest, WritersInSeveralProcessesNeverShareANumber) {
    constexpr int kEach = 30;
    // The store exists before the writers start: its making is not what
    // this case is about.
    EXPECT_EQ(last(), 0u);
    std::vector<pid_t> children;
    for (int child = 0; child < 2; ++child) {
        pid_t pid = fork();
        if (pid == 0) {
            auto store = open();
            for (int i = 0; i < kEach; ++i) {
                std::uint64_t seq = 0;
                if (!store || store->begin(entryOf("K", "1", "a", i, "X"), seq) != 0 ||
                    store->end(seq, true) != 0)
                    _exit(1);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    JournalQuery all;
    all.limit = 0;
    std::vector<JournalEntry> records = found(all);
    std::set<std::uint64_t> seqs;
    for (const JournalEntry& e : records) seqs.insert(e.seq);
    EXPECT_EQ(records.size(), 2u * kEach);
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
    }
    void TearDown() override {
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

TEST_F(EtcdJournalTest, AnOwnersSaveIsReadFromAnotherHostAndATooLargeRecordOnlyCostsTheJournal) {
    std::string error;
    EtcdCluster* cluster = EtcdCluster::shared(error);
    ASSERT_NE(cluster, nullptr) << error;
    std::string url = etcdUrl(*cluster, "/s/" + std::to_string(::getpid()), 2000);
    useIndex(url);
    pid_t saver = fork();
    if (saver == 0) {
        COSProperties set(7UL);
        Property p = named("Greeting", "hello");
        _exit(set.put(p, PropertyAttributes::Server) == Properties::PUT_OK && set.saveThem() ? 0
                                                                                             : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(saver, &status, 0), saver);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    auto elsewhere = etcdJournal(url);
    ASSERT_TRUE(elsewhere);
    JournalQuery query;
    query.kind = COSProperties::factoryName.text();
    query.target = "7";
    std::vector<JournalEntry> found;
    ASSERT_EQ(elsewhere->query(query, found, error), 0) << error;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, saver);
    EXPECT_EQ(found[0].host, JournalContext::host());
    ASSERT_EQ(found[0].changes.size(), 1u);
    EXPECT_EQ(found[0].changes[0].op, JournalChange::ADDED);
    EXPECT_EQ(found[0].changes[0].name, "Greeting");
    EXPECT_EQ(found[0].changes[0].newValue, "hello");

    // Fits the index's request limit once, not the journal's (old and new
    // value, encoded twice): the save is made, the journal failure counted.
    unsigned failures = JournalContext::failures();
    COSProperties set(7UL);
    putValue(set, "Big", String(200 * 1024, 'b'));
    EXPECT_TRUE(set.saveThem());
    EXPECT_EQ(JournalContext::failures(), failures + 1);
    EXPECT_TRUE(traces->contains(1, "request too large")) << JournalContext::lastFailure();
    COSProperties reread(7UL);
    EXPECT_EQ(valueAt(reread, "Big").size(), 200u * 1024);
    std::uint64_t newest = 0;
    ASSERT_EQ(elsewhere->lastSeq(newest, error), 0) << error;
    EXPECT_EQ(newest, found[0].seq);
}

TEST_F(EtcdJournalTest, WithoutAQuorumTheJournalFailsWithinTheDeadlineAndTheSaveFollowsTheIndex) {
    constexpr int kTimeoutMs = 1000;
    EtcdCluster cluster;
    std::string error;
    ASSERT_TRUE(cluster.start(error)) << error;
    std::string url = etcdUrl(cluster, "/q", kTimeoutMs);
    useIndex(url);
    COSProperties set(7UL);
    putValue(set, "Before", "1");
    ASSERT_TRUE(set.saveThem());
    int leader = cluster.leader();
    cluster.kill((leader + 1) % 3);
    cluster.kill((leader + 2) % 3);

    putValue(set, "During", "2");
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(set.saveThem());
    EXPECT_LT(msSince(start), kTimeoutMs + 1500);
    auto journal = etcdJournal(url);
    ASSERT_TRUE(journal);
    std::uint64_t seq = 0;
    std::vector<JournalEntry> found;
    struct Call {
        const char* what;
        std::function<int()> run;
    } calls[] = {
        {"begin", [&] { return journal->begin(entryOf("K", "1", "a", 1, "X"), seq); }},
        {"commit", [&] { return journal->end(1, true); }},
        {"query", [&] { return journal->query({}, found, error); }},
        {"last", [&] { return journal->lastSeq(seq, error); }},
    };
    for (const Call& call : calls) {
        error.clear();
        start = Clock::now();
        EXPECT_EQ(call.run(), ETIMEDOUT) << call.what << ": " << error;
        long took = msSince(start);
        std::cout << "[          ] " << call.what << " failed after " << took << " ms\n";
        EXPECT_LT(took, kTimeoutMs + 700) << call.what;
    }
    EXPECT_NE(error.find("the journal on etcd (/q/journal)"), std::string::npos) << error;
    EXPECT_NE(error.find("no answer from"), std::string::npos) << error;
    EXPECT_TRUE(traces->contains(1, "the journal on etcd (/q/journal): can't begin a record"));

    ASSERT_TRUE(cluster.restart((leader + 1) % 3, error)) << error;
    ASSERT_TRUE(cluster.waitHealthy(10000, error)) << error;
    JournalQuery before;
    before.name = "Before";
    found.clear();
    ASSERT_EQ(journal->query(before, found, error), 0) << error;
    EXPECT_EQ(found.size(), 1u);
    EXPECT_TRUE(set.saveThem());
}

// The counter is only a hint: a deleted or rolled-back one must not make a
// writer overwrite the records that hold its numbers.
TEST_F(EtcdJournalTest, ACounterBehindTheRecordsOverwritesNone) {
    std::string error;
    EtcdCluster* cluster = EtcdCluster::shared(error);
    ASSERT_NE(cluster, nullptr) << error;
    const std::string prefix = "/c/" + std::to_string(::getpid());
    auto journal = etcdJournal(etcdUrl(*cluster, prefix, 2000));
    ASSERT_TRUE(journal);
    std::uint64_t seq = 0;
    for (const char* names : {"A", "B", "C"}) {
        ASSERT_EQ(journal->begin(entryOf("K", "1", "a", 1, names), seq), 0);
        ASSERT_EQ(journal->end(seq, true), 0);
    }
    auto gateway = EtcdGateway::open(cluster->gatewayOptions(cluster->endpoints(), 2000), error);
    ASSERT_TRUE(gateway) << error;
    for (const char* counter : {"", "1"}) {
        SCOPED_TRACE(counter);
        std::string key = prefix + "/journal/seq";
        ASSERT_TRUE(*counter ? gateway->put(key, counter).ok() : gateway->remove(key).ok());
        // A store that never saw the counter, as on another host.
        auto other = etcdJournal(etcdUrl(*cluster, prefix, 2000));
        std::uint64_t next = 0;
        ASSERT_EQ(other->begin(entryOf("K", "1", "b", 2, "D"), next), 0);
        EXPECT_GT(next, seq);
        ASSERT_EQ(other->end(next, true), 0);
        seq = next;
    }
    JournalQuery all;
    all.oldestFirst = true;
    std::vector<JournalEntry> found;
    ASSERT_EQ(journal->query(all, found, error), 0) << error;
    std::string names;
    for (const JournalEntry& e : found) names += e.changes.at(0).name;
    EXPECT_EQ(names, "ABCDD");
}

}  // namespace

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "host/platform/JournalContext.h"
#include "host/platform/JournalStore.h"
#include "host/platform/SqliteJournal.h"
#include "properties/FileProperties.h"
#include "properties/SaveJournal.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/FullDisk.h"
#include "tests/testing/PlatformFixture.h"

namespace {

const Path kSet("/VM/config/journaled");

using Copy = std::pair<String, std::uint32_t>;
using Contents = std::map<Copy, std::pair<String, String>>;  // value, attributes

std::vector<JournalEntry> allRecords() {
    std::string error;
    JournalStore* store = JournalStore::current(error);
    EXPECT_NE(store, nullptr) << error;
    std::vector<JournalEntry> out;
    JournalQuery everything;
    everything.limit = 0;
    everything.oldestFirst = true;
    if (store != nullptr) {
        EXPECT_EQ(store->query(everything, out, error), 0) << error;
    }
    return out;
}

// What the set holds, as the journal would record it from an empty set.
Contents contentsOf(const Properties& set) {
    FileProperties empty(Path("/VM/config/none"));
    Contents out;
    for (const JournalChange& c : SaveJournal::changes(empty, set))
        out[{c.name, c.index}] = {c.newValue, c.newAttributes};
    return out;
}

// Replays the records in order; every change must start from the state the
// records before it left, so an out-of-order or missing record fails here.
Contents replay(const std::vector<JournalEntry>& records) {
    Contents state;
    for (const JournalEntry& record : records)
        for (const JournalChange& c : record.changes) {
            Copy copy{c.name, c.index};
            auto held = state.find(copy);
            if (c.op == JournalChange::ADDED) {
                EXPECT_EQ(held, state.end())
                    << "record " << record.seq << " adds a held " << c.name;
            } else {
                EXPECT_NE(held, state.end()) << "record " << record.seq << " lost " << c.name;
                if (held != state.end()) {
                    EXPECT_EQ(held->second.first, c.oldValue) << "record " << record.seq;
                }
            }
            if (c.op == JournalChange::REMOVED) {
                state.erase(copy);
            } else {
                state[copy] = {c.newValue, c.newAttributes};
            }
        }
    return state;
}

String opsOf(const JournalEntry& record) {
    String ops;
    for (const JournalChange& c : record.changes)
        ops += String(1, static_cast<char>(c.op)) + " " + c.name + "#" + std::to_string(c.index) +
               " " + c.oldValue + ">" + c.newValue + ";";
    return ops;
}

void store(Properties& set, Property p) {
    ASSERT_EQ(set.put(p, PropertyAttributes::Server), Properties::PUT_OK);
}

// Reads the set, sets name to value, saves; retries when another process
// saved in between (the edit cycle of the tools).
void bump(const String& name, const String& value) {
    for (;;) {
        FileProperties set(kSet);
        store(set, make(name, 1, value));
        FileProperties::SaveOutcome outcome = set.saveIfUnchanged();
        if (outcome == FileProperties::FAILED) _exit(3);
        if (outcome == FileProperties::SAVED) return;
    }
}

class SaveJournalTest : public PlatformFixture {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        std::filesystem::create_directories(hostPath(Path("/VM/config")));
    }
};

TEST_F(SaveJournalTest, EachSaveRecordsExactlyWhatItChanged) {
    struct Step {
        const char* what;
        std::function<void(FileProperties&)> edit;
        const char* ops;  // "" when the save must record nothing
    };
    const Step steps[] = {
        {"two new copies",
         [](FileProperties& s) {
             store(s, make("A", 1, "one"));
             store(s, make("B", 1, "two"));
         },
         "a A#1 >one;a B#1 >two;"},
        {"a value changed", [](FileProperties& s) { store(s, make("A", 1, "uno")); },
         "c A#1 one>uno;"},
        {"nothing changed", [](FileProperties&) {}, ""},
        {"only the rights changed (a put keeps them: remove, then put)",
         [](FileProperties& s) {
             Property old = make("B", 1);
             s.remove(old, PropertyAttributes::Server);
             store(s,
                   make("B", 1, "two", {PropertyAttributes::Server, PropertyAttributes::Standard}));
         },
         "c B#1 two>two;"},
        {"a copy removed",
         [](FileProperties& s) {
             Property p = make("A", 1);
             s.remove(p, PropertyAttributes::Server);
         },
         "r A#1 uno>;"},
        {"the last copy removed: the file goes", [](FileProperties& s) { s.empty(); },
         "r B#1 two>;"},
    };
    std::size_t expected = 0;
    for (const Step& step : steps) {
        FileProperties set(kSet);
        step.edit(set);
        ASSERT_TRUE(set.save()) << step.what;
        std::vector<JournalEntry> records = allRecords();
        if (*step.ops != '\0') ++expected;
        ASSERT_EQ(records.size(), expected) << step.what;
        if (*step.ops == '\0') continue;
        const JournalEntry& last = records.back();
        EXPECT_EQ(opsOf(last), step.ops) << step.what;
        EXPECT_EQ(last.kind, "FileProperties");
        EXPECT_EQ(last.target, kSet.text());
        EXPECT_EQ(last.pid, getpid());
        EXPECT_EQ(last.box, 1);
        EXPECT_EQ(last.actor, JournalContext::actor());
    }
    EXPECT_FALSE(std::filesystem::exists(hostPath(kSet)));
    EXPECT_TRUE(replay(allRecords()).empty());
}

TEST_F(SaveJournalTest, ASaveOverAnotherWritersRecordsWhatItReallyReplaced) {
    FileProperties mine(kSet);
    store(mine, make("A", 1, "mine"));
    ASSERT_TRUE(mine.save());
    store(mine, make("A", 1, "mine again"));
    // Another writer saves between this set's save and its next one.
    FileProperties other(kSet);
    store(other, make("A", 1, "theirs"));
    store(other, make("B", 1, "theirs"));
    ASSERT_TRUE(other.save());
    ASSERT_TRUE(mine.save());
    std::vector<JournalEntry> records = allRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(opsOf(records[2]), "c A#1 theirs>mine again;r B#1 theirs>;");
    EXPECT_EQ(replay(records), contentsOf(mine));
}

TEST_F(SaveJournalTest, ConcurrentWritersAreRecordedInTheOrderTheySaved) {
    constexpr int kWriters = 8, kSaves = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Every writer changes a name of its own and one they all share.
            for (int i = 1; i <= kSaves; ++i)
                bump(i % 2 ? "Shared" : "W" + std::to_string(w), std::to_string(w * 100 + i));
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<JournalEntry> records = allRecords();
    EXPECT_EQ(records.size(), std::size_t(kWriters * kSaves));
    FileProperties stored(kSet);
    EXPECT_EQ(replay(records), contentsOf(stored));
}

TEST_F(SaveJournalTest, AKilledWriterLeavesTheJournalAgreeingWithTheStore) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 25; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) bump("Value", std::to_string(round) + "." + std::to_string(i));
        }
        usleep(std::uniform_int_distribution<useconds_t>(2000, 20000)(random));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        // The next save settles what the killed writer left pending: kept
        // when its file was written, dropped when not.
        bump("Value", "settled " + std::to_string(round));
        FileProperties stored(kSet);
        ASSERT_EQ(replay(allRecords()), contentsOf(stored)) << "round " << round;
    }
    std::string error;
    std::vector<JournalEntry> pending;
    EXPECT_EQ(JournalStore::current(error)->pending("FileProperties", kSet.text(), pending), 0);
    EXPECT_TRUE(pending.empty());
}

TEST_F(SaveJournalTest, RecordsOlderThanTheRetentionGoWithoutAPrune) {
    std::string error;
    JournalStore* store = JournalStore::current(error);
    ASSERT_NE(store, nullptr) << error;
    const std::int64_t day = 86400LL * 1000000;
    for (std::int64_t age : {40 * day, 20 * day}) {
        JournalEntry old;
        old.timeUs = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count() -
                     age;
        old.kind = "FileProperties";
        old.target = "/VM/config/old";
        old.changes.push_back({JournalChange::ADDED, "Old", 1, "", "x", "", ""});
        std::uint64_t seq = 0;
        ASSERT_EQ(store->begin(old, seq), 0);
        ASSERT_EQ(store->end(seq, true), 0);
    }
    // A new connection (a child process) applies the retention once.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("VM_JOURNAL_KEEP_DAYS", "30", 1);
        bump("New", "y");
        _exit(0);
    }
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    String targets;
    for (const JournalEntry& record : allRecords()) targets += record.target + ";";
    EXPECT_EQ(targets, "/VM/config/old;" + kSet.text() + ";");
}

TEST_F(SaveJournalTest, WithTheJournalOffNothingIsRecordedAndNothingFails) {
    ::setenv("VM_JOURNAL", "off", 1);
    unsigned failures = JournalContext::failures();
    FileProperties set(kSet);
    putValue(set, "A", "unrecorded");
    EXPECT_TRUE(set.save());
    JournalSave feature;
    feature.kind = "feature";
    feature.target = "CAD";
    feature.changes.push_back({JournalChange::CHANGED, "state", 0, "off", "on", "", ""});
    EXPECT_EQ(journal_record(feature), 0);
    ::unsetenv("VM_JOURNAL");
    EXPECT_EQ(JournalContext::failures(), failures) << JournalContext::lastFailure();
    EXPECT_TRUE(allRecords().empty());
}

TEST_F(SaveJournalTest, ASaveStandsWhenItsRecordCannotBeWritten) {
    // A directory where the journal's database should be.
    std::filesystem::create_directories(hostPath(SqliteJournal::path) + "/x");
    unsigned failures = JournalContext::failures();
    FileProperties set(kSet);
    putValue(set, "A", "kept");
    ASSERT_TRUE(set.save());
    EXPECT_EQ(valueAt(*std::make_unique<FileProperties>(kSet), "A"), "kept");
    EXPECT_GT(JournalContext::failures(), failures);
    EXPECT_NE(JournalContext::lastFailure().find("journal"), std::string::npos)
        << JournalContext::lastFailure();
    EXPECT_TRUE(traces->contains(1, "SaveJournal - can't begin"));
}

TEST_F(SaveJournalTest, AFullDiskUnderTheJournalLosesNoSave) {
    FileProperties first(kSet);
    putValue(first, "A", "before");
    ASSERT_TRUE(first.save());
    FullDisk::Outcome outcome = FullDisk::run(Path("/vm/db"), [] {
        unsigned failures = JournalContext::failures();
        FileProperties set(kSet);
        store(set, make("A", 1, String(100000, 'x')));
        bool saved = set.save();
        return std::to_string(saved) + " " + std::to_string(JournalContext::failures() > failures) +
               " " + valueAt(*std::make_unique<FileProperties>(kSet), "A").substr(0, 3);
    });
    if (!outcome.skipped.empty()) GTEST_SKIP() << outcome.skipped;
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_EQ(outcome.report, "1 1 xxx");
}

}  // namespace

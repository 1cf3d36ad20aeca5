#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "host/platform/JournalContext.h"
#include "host/platform/JournalStore.h"
#include "tests/testing/ChildProgram.h"
#include "tests/testing/VmcfgRunner.h"
#include "tests/testing/VmpropdProcess.h"

namespace {

using Json = nlohmann::json;
using Outcome = VmcfgRunner::Outcome;

// Who the journal names for a vmcfg run from this test.
std::string processUser() {
    if (const char* sudo = std::getenv("SUDO_USER"); sudo != nullptr && *sudo != '\0') return sudo;
    struct passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : "uid " + std::to_string(getuid());
}

std::string sideText(const Json& value) {
    return value.is_null() ? "none" : value.get<std::string>();
}

// "op name old -> new": a row as the tables below spell it.
std::string changeText(const Json& row) {
    return row["op"].get<std::string>() + " " + row["name"].get<std::string>() + " " +
           sideText(row["old_value"]) + " -> " + sideText(row["new_value"]);
}

class VmcfgHistory : public VmcfgFixture {
  protected:
    Json rows(const String& arguments) const {
        Outcome o = run("--json history " + arguments);
        EXPECT_EQ(o.status, 0) << arguments << "\n" << o.err;
        return o.status == 0 ? Json::parse(o.out) : Json::array();
    }
    // The rows of the newest record.
    Json newest() const {
        Json all = rows("--limit 1000"), out = Json::array();
        for (const Json& row : all)
            if (row["seq"] == all[0]["seq"]) out.push_back(row);
        return out;
    }
    std::vector<std::string> names(const String& arguments) const {
        std::vector<std::string> out;
        for (const Json& row : rows(arguments)) out.push_back(row["name"]);
        return out;
    }
    std::uint64_t seqOfNewest() const { return newest()[0]["seq"].get<std::uint64_t>(); }
    // Waits (at most 10 s) until a watch started with its errors in
    // "/watch.err" says that it watches: changes before would not be shown.
    void awaitWatching() const { awaitText("/watch.err", "vmcfg: watching "); }
    // A stream file on this machine holding NAME=VALUE copies at index 1.
    String streamFile(const std::vector<std::pair<String, String>>& copies) const {
        String text =
            "component-file-version=2\nnumber of properties=" + std::to_string(copies.size()) +
            "\n";
        for (const auto& [name, value] : copies)
            text += std::to_string(name.size()) + " " + name + " 1\n5 1 0 1 3 0 \n" +
                    std::to_string(value.size()) + " " + value + " \n\n";
        writeFile("/host-stream", text);
        return hostPath("/host-stream");
    }
};

// Each way a property changes writes one record of exactly these changes.
TEST_F(VmcfgHistory, EachPathOfChangeWritesTheRecordExpected) {
    ASSERT_EQ(run("init").status, 0);
    const String stream = streamFile({{"A", "x"}, {"B", "y"}});
    // Where a record lands: "kind target".
    const std::string system = "system /VM/config/sys_prop_db",
                      known = "file /VM/config/COSPropertyDefaults";
    const struct {
        String command;
        int status;
        std::string where;
        std::string changes;  // a record's rows, joined by "; "
    } steps[] = {
        {"props put --system Greeting hello", 0, system, "added Greeting none -> hello"},
        {"props put --system Greeting world --index 1", 0, system,
         "changed Greeting hello -> world"},
        {"props remove --system Greeting", 0, system, "removed Greeting world -> none"},
        // The known set's copies hold no value: only their attributes change.
        {"known add COS 'COS New'", 0, known, "added COS New none -> "},
        {"known change COS 'COS New' --version 3", 0, known, "changed COS New  -> "},
        {"known rm COS 'COS New'", 0, known, "removed COS New  -> none"},
        {"features set 2 on --yes", 0, "feature Tandem Mailbox",
         "changed state off -> on; added outcome none -> done"},
        {"features set cad on --yes", 1, "feature CAD",
         "changed state off -> off; added outcome none -> failed: result 1023, rval 3, ecode 8"},
        {"props import /VM/t/set " + stream + " --yes", 0, "file /VM/t/set",
         "added A none -> x; added B none -> y"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.command);
        Outcome o = run(step.command);
        ASSERT_EQ(o.status, step.status) << o.err;
        Json record = newest();
        std::string changes;
        for (const Json& row : record) changes += (changes.empty() ? "" : "; ") + changeText(row);
        EXPECT_EQ(changes, step.changes);
        EXPECT_EQ(
            record[0]["kind"].get<std::string>() + " " + record[0]["target"].get<std::string>(),
            step.where);
        EXPECT_EQ(record[0]["actor"], processUser());
        EXPECT_EQ(record[0]["program"], "vmcfg");
        EXPECT_TRUE(record[0]["sender_box"].is_null());
    }
}

// The owner journals the user the sender saved for, not its own.
TEST_F(VmcfgHistory, RemoteSaveIsRecordedByTheOwnerWithTheSendingBoxAndUser) {
    ASSERT_EQ(run("init").status, 0);
    VmpropdProcess daemon;
    ASSERT_TRUE(daemon.start(root_, 333)) << readFile("/vmpropd.out");
    Outcome o =
        runWith("SUDO_USER=alice", "--root " + root_ + " --box 1 props put --cos 7 Greeting hello");
    EXPECT_EQ(daemon.stop(), 0);
    ASSERT_EQ(o.status, 0) << o.err;
    Json record = rows("--cos 7");
    ASSERT_EQ(record.size(), 1u) << record.dump();
    EXPECT_EQ(changeText(record[0]), "added Greeting none -> hello");
    EXPECT_EQ(record[0]["program"], "vmpropd");
    EXPECT_EQ(record[0]["actor"], "alice");
    EXPECT_EQ(record[0]["box"], 333);
    EXPECT_EQ(record[0]["sender_box"], 1);
}

TEST_F(VmcfgHistory, FiltersPickTheChangesAsked) {
    ASSERT_EQ(run("init").status, 0);
    ASSERT_EQ(runWith("SUDO_USER=alice", "--root " + root_ + " props put --system A 1").status, 0);
    ASSERT_EQ(runWith("SUDO_USER=bob", "--root " + root_ + " props put --system B 2").status, 0);
    const String stream = streamFile({{"C", "3"}, {"D", "4"}, {"E", "5"}});
    ASSERT_EQ(
        runWith("SUDO_USER=carol", "--root " + root_ + " props import /VM/t/s " + stream + " --yes")
            .status,
        0);
    using Names = std::vector<std::string>;
    const struct {
        const char* arguments;
        Names names;
    } queries[] = {
        {"", {"C", "D", "E", "B", "A"}},
        {"--system", {"B", "A"}},
        {"/VM/t/s", {"C", "D", "E"}},
        {"--name A", {"A"}},
        {"--actor alice", {"A"}},
        {"--actor bob --system", {"B"}},
        {"--limit 2", {"C", "D"}},  // cut in the middle of the import's record
        {"--since 1h --name B", {"B"}},
        {"--since 2000-01-01 --until 2999-12-31T23:59 --name D", {"D"}},
        {"--since 2999-01-01", {}},
    };
    for (const auto& query : queries)
        EXPECT_EQ(names(query.arguments), query.names) << query.arguments;
    Outcome text = run("history --limit 1");
    EXPECT_NE(text.out.find("carol  vmcfg@1  /VM/t/s\n    + C#1 3\n"), String::npos) << text.out;
    // Finding nothing is said, so that a mistyped path or name shows.
    const std::pair<const char*, const char*> none[] = {
        {"history /VM/t/typo", "vmcfg: no change of this set is recorded\n"},
        {"history --actor carol --system",
         "vmcfg: no recorded change of this set matches the filters\n"},
        {"history --until 2000-01-01", "vmcfg: no recorded change matches the filters\n"},
    };
    for (const auto& [arguments, says] : none) {
        Outcome empty = run(arguments);
        EXPECT_EQ(empty.status, 0) << arguments;
        EXPECT_EQ(empty.out + empty.err, says) << arguments;
    }
}

TEST_F(VmcfgHistory, BadInputIsRefusedWithExitStatus2) {
    ASSERT_EQ(run("init").status, 0);
    const struct {
        const char* command;
        const char* says;
    } bad[] = {
        {"history --limit 0", "--limit"},
        {"history --limit -4", "--limit"},
        {"history --since yesterday", "--since: 'yesterday' is not a time"},
        {"history --until 2026-13-45", "--until"},
        {"history --cos many", "--cos"},
        {"history --system --cos 1", "name one set"},
        {"history --access nobody", "unknown access class"},
        {"history show 12x", "'12x' is not a record number"},
        {"history prune --days 0", "--days"},
        {"revert -3 --yes", "revert"},
        {"revert seven --yes", "'seven' is not a record number"},
        {"props watch", "name one set"},
    };
    for (const auto& b : bad) {
        Outcome o = run(b.command);
        EXPECT_EQ(o.status, 2) << b.command << "\n" << o.err;
        EXPECT_NE(o.err.find(b.says), String::npos) << b.command << "\n" << o.err;
    }
    Outcome missing = run("history show 99");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "vmcfg: no journal record 99\n");
}

// A value is shown to a class only when that side's attributes let it read.
TEST_F(VmcfgHistory, ValuesTheClassMayNotReadAreHiddenInBothOutputs) {
    ASSERT_EQ(run("init").status, 0);
    ASSERT_EQ(run("props put --system Greeting hello --read Minimal").status, 0);
    ASSERT_EQ(run("props put --system Greeting secret --index 1 --read Server").status, 0);
    ASSERT_EQ(run("props put --system Pin 1234 --read Server").status, 0);
    Json shown = rows("--system --access Standard");
    ASSERT_EQ(shown.size(), 2u) << "Pin is left out: " << shown.dump();
    EXPECT_EQ(shown[0]["old_value"], "hello");
    EXPECT_TRUE(shown[0]["new_value"].is_null());
    EXPECT_EQ(shown[0]["hidden"], true);
    EXPECT_EQ(changeText(shown[1]), "added Greeting none -> hello");
    for (const String& command :
         {String("history --system --access Standard"),
          "history show " + shown[0]["seq"].dump() + " --access standard"}) {
        Outcome text = run(command);
        EXPECT_NE(text.out.find("~ Greeting#1 hello -> (hidden)"), String::npos) << text.out;
        EXPECT_EQ(text.out.find("secret"), String::npos) << text.out;
        EXPECT_EQ(text.out.find("1234"), String::npos) << text.out;
    }
    EXPECT_EQ(rows("--system").size(), 3u) << "Server reads every side";
}

TEST_F(VmcfgHistory, RevertRefusesALaterChangeUnlessForcedAndRevertsItsOwnRevert) {
    ASSERT_EQ(run("init").status, 0);
    const String show = "props show --system --name Greeting -o value";
    ASSERT_EQ(run("props put --system Greeting hello").status, 0);
    ASSERT_EQ(run("props put --system Greeting world --index 1").status, 0);
    const String middle = std::to_string(seqOfNewest());
    ASSERT_EQ(run("props put --system Greeting later --index 1").status, 0);
    const String latest = std::to_string(seqOfNewest());
    const struct {
        String command;
        int status;
        String says;  // on standard output, or standard error on failure
        const char* value;
    } steps[] = {
        {"revert " + latest + " </dev/null", 2, "standard input is not a terminal", "later"},
        {"revert " + middle + " --yes", 1,
         "changed since by record " + latest + " (" + processUser() + ", ", "later"},
        {"revert " + middle + " --dry-run --force", 0, "would revert record", "later"},
        {"revert " + middle + " --yes --force", 0, "~ Greeting#1 later -> hello", "hello"},
        {"revert 999 --yes", 2, "no journal record 999", "hello"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.command);
        Outcome o = run(step.command);
        EXPECT_EQ(o.status, step.status) << o.out << o.err;
        EXPECT_NE((step.status == 0 ? o.out : o.err).find(step.says), String::npos)
            << o.out << o.err;
        EXPECT_EQ(run(show).out, String(step.value) + "\n");
    }
    Json revert = newest();
    EXPECT_EQ(changeText(revert[0]), "changed Greeting later -> hello");
    Outcome again = run("--json revert " + revert[0]["seq"].dump() + " --yes");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(Json::parse(again.out)["changes"][0]["new_value"], "later") << again.out;
    EXPECT_EQ(run(show).out, "later\n");
}

// Records are put in the store as the journal keeps them, one with an old
// time, one left pending by a writer that is gone.
class VmcfgJournalStore : public VmcfgHistory {
  protected:
    JournalStore* store() {
        JournalStore::chooseAgain();
        std::string error;
        JournalStore* s = JournalStore::current(error);
        EXPECT_NE(s, nullptr) << error;
        return s;
    }
    JournalEntry systemEntry(const char* name) {
        JournalChange change;
        change.op = JournalChange::ADDED;
        change.name = name;
        change.index = 1;
        change.newValue = "v";
        return {.actor = "tester",
                .program = "test",
                .host = JournalContext::host(),
                .kind = "SystemProperties",
                .target = "/VM/config/sys_prop_db",
                .changes = {change}};
    }
};

TEST_F(VmcfgJournalStore, PruneRemovesTheRecordsOlderThanTheKeptDays) {
    ASSERT_EQ(run("init").status, 0);
    ASSERT_EQ(run("props put --system Fresh 1").status, 0);
    JournalEntry old = systemEntry("Old");
    old.timeUs = (static_cast<std::int64_t>(std::time(nullptr)) - 400 * 86400LL) * 1000000;
    std::uint64_t seq = 0;
    ASSERT_EQ(store()->begin(old, seq), 0);
    ASSERT_EQ(store()->end(seq, true), 0);
    EXPECT_EQ(runWith("VM_JOURNAL_KEEP_DAYS=500", "--root " + root_ + " history prune").out,
              "removed 0 records older than 500 days\n");
    EXPECT_EQ(names("--system"), (std::vector<std::string>{"Old", "Fresh"})) << "by number";
    EXPECT_EQ(run("history prune").out, "removed 1 record older than 365 days\n");
    EXPECT_EQ(names("--system"), std::vector<std::string>{"Fresh"});
}

// A writer killed between its write and its record leaves the record
// pending; reading the set's history settles it.
TEST_F(VmcfgJournalStore, HistoryOfASetShowsTheSaveOfAKilledWriter) {
    ASSERT_EQ(run("init").status, 0);
    ASSERT_EQ(run("props put --system Before 1").status, 0);
    String stored = readFile("/VM/config/sys_prop_db");
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    JournalEntry pending = systemEntry("Killed");
    pending.pid = gone;
    pending.after = journal_digest(stored.data(), stored.size());
    std::uint64_t seq = 0;
    ASSERT_EQ(store()->begin(pending, seq), 0);
    EXPECT_EQ(names(""), std::vector<std::string>{"Before"}) << "pending: not shown yet";
    EXPECT_EQ(names("--system"), (std::vector<std::string>{"Killed", "Before"}));
}

// An owner's save whose record is still pending when a later save's record
// joins the history is printed once it joins, though its number is lower.
TEST_F(VmcfgJournalStore, WatchPrintsARecordThatJoinsAfterALaterOne) {
    ASSERT_EQ(run("init").status, 0);
    JournalEntry early = systemEntry("Early");
    early.kind = "COSProperties";
    early.target = "7";
    early.pid = getpid();  // alive: nobody settles it
    std::uint64_t seq = 0;
    ASSERT_EQ(store()->begin(early, seq), 0);
    ASSERT_EQ(run("--box 333 props put --cos 7 Later 1").status, 0);
    std::thread writer([&] {
        awaitWatching();
        EXPECT_EQ(store()->end(seq, true), 0);
    });
    ChildProgram watch;
    bool printed = watch.start(
        {VmcfgRunner::program("vmcfg"), "--root", root_, "--json", "props", "watch", "--cos", "7"},
        hostPath("/watch.err"));
    writer.join();
    ASSERT_TRUE(printed) << readFile("/watch.err");
    EXPECT_EQ(Json::parse(watch.output())["name"], "Early");
    EXPECT_EQ(watch.stop(), 0);
}

TEST_F(VmcfgHistory, WatchPrintsAChangeOfAnotherProcessAtOnceAndStopsOnSigterm) {
    ASSERT_EQ(run("init").status, 0);
    ChildProgram watch;
    std::chrono::steady_clock::time_point saved;
    std::thread writer([&] {
        awaitWatching();
        run("props put --system Greeting hello");
        saved = std::chrono::steady_clock::now();
    });
    bool printed = watch.start(
        {VmcfgRunner::program("vmcfg"), "--root", root_, "--json", "props", "watch", "--system"},
        hostPath("/watch.err"));
    auto seen = std::chrono::steady_clock::now();
    writer.join();
    ASSERT_TRUE(printed) << readFile("/watch.err");
    EXPECT_LT(seen - saved, std::chrono::seconds(1));
    Json row = Json::parse(watch.output());
    EXPECT_EQ(changeText(row), "added Greeting none -> hello");
    EXPECT_EQ(watch.stop(), 0) << "SIGTERM ends the watch as asked";
}

// Reading the journal of a root where nothing was ever recorded finds
// nothing and makes no journal; the first change does.
TEST_F(VmcfgHistory, AJournalNeverWrittenReadsEmptyAndIsNotMade) {
    ASSERT_EQ(run("init").status, 0);
    EXPECT_EQ(rows("").size(), 0u);
    EXPECT_EQ(run("history prune --days 3").status, 0);
    EXPECT_EQ(run("history show 3").err, "vmcfg: no journal record 3\n");
    EXPECT_FALSE(std::filesystem::exists(hostPath("/vm/db")));
    ASSERT_EQ(run("props put --system Greeting hello").status, 0);
    EXPECT_EQ(rows("").size(), 1u);
}

// The save stands; the missing record is said and the exit status shows it.
TEST_F(VmcfgHistory, AJournalThatCannotBeWrittenWarnsAndExits3) {
    ASSERT_EQ(run("init").status, 0);
    std::filesystem::create_directories(hostPath("/vm/db/journal.sqlite"));
    Outcome put = run("props put --system Greeting hello");
    EXPECT_EQ(put.status, 3);
    EXPECT_NE(
        put.err.find("vmcfg: warning: the change was saved but not recorded in the journal: "),
        String::npos)
        << put.err;
    EXPECT_EQ(run("props show --system --name Greeting -o value").out, "hello\n");
    EXPECT_EQ(run("features set 2 on --yes").status, 3);
    EXPECT_EQ(run("props put --system Greeting x --index 1 --access Minimal").status, 1)
        << "a failure keeps its own status";
}

}  // namespace

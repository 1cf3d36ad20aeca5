// The console's change history over HTTP, against changes made by vmcfg and
// by the console's own forms on the same root.

#include "tests/vmadmd/ConsoleFixture.h"

namespace {

using Json = nlohmann::json;

class ConsoleHistoryTest : public ConsoleFixture {
  protected:
    httplib::Result get(const String& path) {
        return httplib::Client("127.0.0.1", port_).Get(path.c_str(), headers(token_));
    }
    Json history(const String& query) {
        auto reply = get("/api/history?" + query);
        EXPECT_TRUE(reply && reply->status == 200) << query << ": " << (reply ? reply->body : "");
        return reply ? Json::parse(reply->body) : Json();
    }
    // The rows' names and ops, newest first: "Name#1 c".
    static std::vector<String> changes(const Json& rows) {
        std::vector<String> out;
        for (const Json& row : rows)
            out.push_back(row["name"].get<String>() + "#" +
                          std::to_string(row["index"].get<int>()) + " " + row["op"].get<String>());
        return out;
    }
};

TEST_F(ConsoleHistoryTest, FiltersNameTheSetTheChangesAndTheTime) {
    for (const char* put : {"--cos 1 Alpha one", "--cos 1 Beta two",
                            "--cos 1 Alpha three --index 1", "--cos 2 Alpha four"})
        ASSERT_EQ(run(String("--box 333 props put ") + put).status, 0) << put;
    const std::vector<String> alpha = {"Alpha#1 changed", "Alpha#1 added"};
    struct Case {
        String query;
        std::vector<String> rows;
    } cases[] = {
        {"cos=1&limit=3", {"Alpha#1 changed", "Beta#1 added", "Alpha#1 added"}},
        {"cos=1&name=Alpha", alpha},
        {"cos=001&name=Alpha", alpha},
        {"cos=2&name=Alpha", {"Alpha#1 added"}},
        {"subscriber=1&name=Alpha", {}},
        {"cos=1&name=Alpha&since=1h&until=2999-01-01", alpha},
        {"cos=1&name=Alpha&since=2999-01-01", {}},
        {"cos=1&name=Alpha&until=2000-01-01T00:00Z", {}},
        {"cos=1&actor=console", {}},  // vmcfg's changes are not the console's
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(changes(history(c.query)), c.rows);
    }
    Json newest = history("cos=1&limit=1")[0];
    EXPECT_EQ(newest["old_value"], "one");
    EXPECT_EQ(newest["new_value"], "three");
    EXPECT_EQ(newest["program"], "vmcfg");
}

// The newest change is one Standard may not see at all: the page of two is
// filled from further back.
TEST_F(ConsoleHistoryTest, AClassSeesOnlyTheSidesItMayRead) {
    for (const char* put :
         {"Pin 1234 --read Minimal", "Pin 9999 --index 1 --read Server", "Secret s3 --read Server"})
        ASSERT_EQ(run(String("--box 333 props put --cos 1 ") + put).status, 0) << put;
    Json standard = history("cos=1&access=standard&limit=2");
    ASSERT_EQ(changes(standard), (std::vector<String>{"Pin#1 changed", "Pin#1 added"}));
    EXPECT_EQ(standard[0]["old_value"], "1234");
    EXPECT_TRUE(standard[0]["new_value"].is_null());
    EXPECT_EQ(standard[0]["hidden"], true);
    Json server = history("cos=1&limit=3");
    ASSERT_EQ(changes(server),
              (std::vector<String>{"Secret#1 added", "Pin#1 changed", "Pin#1 added"}));
    EXPECT_EQ(server[1]["new_value"], "9999");
    EXPECT_FALSE(server[1].contains("hidden"));
}

TEST_F(ConsoleHistoryTest, RevertUndoesAChangeAndNamesALaterOneInTheWay) {
    // The console saves class-of-service records itself as their owner box.
    stop();
    start({"--box", "333"});
    for (const char* put : {"Colour red", "Colour blue --index 1"})
        ASSERT_EQ(run(String("--box 333 props put --cos 1 ") + put).status, 0) << put;
    auto colour = [&] { return history("cos=1&name=Colour&limit=1")[0]; };
    auto revert = [&](std::uint64_t seq, bool force, bool dryRun = false) {
        auto reply = post("/api/revert", {{"seq", seq}, {"force", force}, {"dry_run", dryRun}});
        return std::pair{reply ? reply->status : -1, reply ? Json::parse(reply->body) : Json()};
    };
    auto [tried, would] = revert(colour()["seq"], false, true);
    ASSERT_EQ(tried, 200) << would;
    EXPECT_EQ(would["rows"][0]["new_value"], "red");
    EXPECT_EQ(colour()["new_value"], "blue") << "a dry run saved nothing";
    auto [done, said] = revert(colour()["seq"], false);
    ASSERT_EQ(done, 200) << said;
    Json undo = colour();
    EXPECT_EQ(undo["actor"], "console");
    EXPECT_EQ(undo["old_value"], "blue");
    EXPECT_EQ(undo["new_value"], "red");

    ASSERT_EQ(run("--box 333 props put --cos 1 Colour green --index 1").status, 0);
    std::uint64_t green = colour()["seq"];
    ASSERT_EQ(run("--box 333 props put --cos 1 Colour yellow --index 1").status, 0);
    std::uint64_t yellow = colour()["seq"];
    auto [refused, conflict] = revert(green, false);
    EXPECT_EQ(refused, 409);
    EXPECT_EQ(conflict["conflict"], true);
    EXPECT_NE(conflict["error"].get<String>().find("record " + std::to_string(yellow)),
              String::npos)
        << conflict;
    EXPECT_EQ(colour()["seq"], yellow) << "a refused revert saved nothing";
    EXPECT_EQ(revert(green, true).first, 200);
    EXPECT_EQ(colour()["new_value"], "red");

    struct Case {
        String body;
        int status;
    } cases[] = {{"{}", 400},
                 {"[1]", 400},
                 {R"({"seq":0})", 400},
                 {R"({"seq":"5"})", 400},
                 {R"({"seq":5,"force":"yes"})", 400},
                 {R"({"seq":5,"dry_run":1})", 400},
                 {R"({"seq":99999})", 404}};
    for (const Case& c : cases) {
        auto reply = httplib::Client("127.0.0.1", port_)
                         .Post("/api/revert", headers(token_), c.body, "application/json");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, c.status) << c.body << ": " << reply->body;
    }
}

TEST_F(ConsoleHistoryTest, BadParametersAreRefusedInWords) {
    struct Case {
        const char* query;
        const char* says;
    } cases[] = {
        {"", "name one set"},
        {"system&cos=1", "name one set"},
        {"system&colour=red", "unknown parameter \"colour\""},
        {"system&limit=0", "limit: \"0\" is not a whole number from 1 to 1000"},
        {"system&limit=5x", "from 1 to 1000"},
        {"system&since=yesterday", "since: \"yesterday\" is not a time"},
        {"system&until=2026-13-45", "until: \"2026-13-45\" is not a time"},
        {"system&since=99999999999999999999d", "is not a time"},
        {"system&since=999999999d", "is not a time"},
        {"system&since=2026-12-06&until=2026-12-05", "since must come before until"},
        {"system&access=Root", "access: \"Root\" is not an access class"},
        {"system&name=A&name=B", "give name once"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        auto reply = get(String("/api/history?") + c.query);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 400);
        EXPECT_NE(Json::parse(reply->body)["error"].get<String>().find(c.says), String::npos)
            << reply->body;
    }
}

}  // namespace

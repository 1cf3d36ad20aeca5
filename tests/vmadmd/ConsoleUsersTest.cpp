// Named users end to end: `vmadmd user`, sign-in and sign-out over HTTP, a
// running console seeing the users file change, and the journal naming the
// user.

#include "tests/vmadmd/ConsoleFixture.h"

namespace {

using Json = nlohmann::json;

class ConsoleUsersTest : public ConsoleFixture {
  protected:
    httplib::Result signIn(const String& token) {
        return httplib::Client("127.0.0.1", port_)
            .Post("/api/session", Json{{"token", token}}.dump(), "application/json");
    }
    int status(const String& credential) {
        auto reply = httplib::Client("127.0.0.1", port_).Get("/api/session", headers(credential));
        return reply ? reply->status : -1;
    }
    String addUser(const String& name) {
        VmcfgRunner::Outcome added = run("user add " + name, "vmadmd");
        EXPECT_EQ(added.status, 0) << added.err;
        EXPECT_EQ(added.out.size(), 65u) << "one line: " << added.out;
        return added.out.substr(0, 64);
    }
};

TEST_F(ConsoleUsersTest, UserCommandsSayWhatTheyDid) {
    String alice = addUser("alice");
    struct Case {
        const char* arguments;
        int status;
        const char* out;
        const char* err;
    } cases[] = {
        {"user add alice", 1, "", "user alice already exists"},
        {"user add 'a b'", 1, "", "'a b' is no user name"},
        {"user rm carol", 1, "", "there is no user carol"},
        {"user add bob", 0, "", ""},
        {"user list", 0, "alice\nbob\n", ""},
        {"user rm bob", 0, "", ""},
        {"user list", 0, "alice\n", ""},
        {"user", 2, "", "vmadmd user: a command is needed: add, rm, list"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        VmcfgRunner::Outcome outcome = run(c.arguments, "vmadmd");
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        if (*c.out) {
            EXPECT_EQ(outcome.out, c.out);
        }
        EXPECT_NE(outcome.err.find(c.err), String::npos) << outcome.err;
    }
    VmcfgRunner::Outcome replaced = run("user add alice --replace", "vmadmd");
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_NE(replaced.out.substr(0, 64), alice);
    // With the last user gone nobody can sign in: every side says so.
    VmcfgRunner::Outcome last = run("user rm alice", "vmadmd");
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_NE(last.err.find("holds no users: nobody can sign in"), String::npos) << last.err;
    EXPECT_NE(run("user list", "vmadmd").err.find("holds no users"), String::npos);
    auto refused = signIn(token_);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    EXPECT_NE(refused->body.find("the console has no users"), String::npos) << refused->body;
}

TEST_F(ConsoleUsersTest, NamedUserSignsInChangesAsThemselvesAndSignsOut) {
    EXPECT_EQ(status(token_), 200) << "no users file: the shared token works";
    String alice = addUser("alice");
    EXPECT_EQ(status(token_), 401) << "a users file shuts the shared token out at once";
    EXPECT_EQ(signIn(token_)->status, 401);
    auto bad = httplib::Client("127.0.0.1", port_).Post("/api/session", "[]", "application/json");
    EXPECT_EQ(bad->status, 400);

    auto signed_ = signIn(alice);
    ASSERT_EQ(signed_->status, 200) << signed_->body;
    Json session = Json::parse(signed_->body);
    EXPECT_EQ(session["user"], "alice");
    token_ = session["session"].get<String>();
    EXPECT_EQ(token_.size(), 64u);
    auto again = httplib::Client("127.0.0.1", port_).Get("/api/session", headers(token_));
    EXPECT_EQ(Json::parse(again->body)["user"], "alice");

    Json fields = {{"0", "MESSAGE"}, {"1", "Alice Made"}, {"15", "n"}, {"16", "1"}, {"17", "0"}};
    for (int f = 3; f <= 14; ++f) fields[std::to_string(f)] = "R";
    ASSERT_EQ(form(2, "add", fields)["result"], 0);
    VmcfgRunner::Outcome history = run("--json history --name 'Alice Made'");
    ASSERT_EQ(history.status, 0) << history.err;
    Json rows = Json::parse(history.out);
    ASSERT_EQ(rows.size(), 1u) << history.out;
    EXPECT_EQ(rows[0]["actor"], "alice");

    auto out = httplib::Client("127.0.0.1", port_).Delete("/api/session", headers(token_));
    EXPECT_EQ(out->status, 200);
    auto ended = httplib::Client("127.0.0.1", port_).Get("/api/session", headers(token_));
    EXPECT_EQ(ended->status, 401);
    EXPECT_EQ(Json::parse(ended->body)["error"], "session expired, sign in again");

    token_ = Json::parse(signIn(alice)->body)["session"].get<String>();
    EXPECT_EQ(status(token_), 200);
    ASSERT_EQ(run("user rm alice", "vmadmd").status, 0);
    EXPECT_EQ(status(token_), 401) << "a removed user is signed out at the next request";
}

TEST_F(ConsoleUsersTest, AnUnsafeUsersFileStopsTheStart) {
    addUser("alice");
    ASSERT_EQ(stop(), 0);
    ::chmod((root_ + "/vm/run/vmadmd.users").c_str(), 0644);
    VmcfgRunner::Outcome refused = run("--listen 127.0.0.1:0", "vmadmd");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("users file " + root_ + "/vm/run/vmadmd.users must be"),
              String::npos)
        << refused.err;
}

}  // namespace

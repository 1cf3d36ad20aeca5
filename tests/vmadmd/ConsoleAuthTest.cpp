// Who may use the console: the users file, sessions and the shared token,
// with a clock the tests move.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "host/vmadmd/ConsoleAuth.h"
#include "host/vmadmd/TokenDigest.h"
#include "tests/testing/VmcfgRunner.h"

namespace {

using namespace std::chrono_literals;
using Time = std::chrono::steady_clock::time_point;

constexpr const char* kShared = "5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a";

class ConsoleAuthTest : public VmcfgFixture {
  protected:
    void SetUp() override {
        VmcfgFixture::SetUp();
        ::mkdir((root_ + "/run").c_str(), 0700);
    }
    String path() const { return root_ + "/run/vmadmd.users"; }
    UsersFile file() const { return UsersFile(path()); }
    String add(const String& name, bool replace = false) {
        String token, error;
        EXPECT_TRUE(file().add(name, replace, token, error)) << error;
        return token;
    }
    ConsoleAuth auth(std::size_t capacity = 1000) {
        return ConsoleAuth(kShared, file(), 30min, capacity, [this] { return now_; });
    }
    static String bearer(const String& credential) { return "Bearer " + credential; }

    Time now_{};
};

TEST_F(ConsoleAuthTest, NamesFollowTheRule) {
    for (const char* name : {"alice", "A.b_c-9", "..", "abcdefghijklmnopqrstuvwxyz012345"})
        EXPECT_TRUE(UsersFile::validName(name)) << name;
    for (const char* name :
         {"", "al ice", "al/ice", "élise", "x\n", "abcdefghijklmnopqrstuvwxyz0123456"})
        EXPECT_FALSE(UsersFile::validName(name)) << name;
}

TEST_F(ConsoleAuthTest, AddStoresOnlyASaltedDigestAndRefusesWhatItShould) {
    String alice = add("alice");
    String bob = add("bob");
    EXPECT_EQ(alice.size(), 64u);
    EXPECT_EQ(modeOf("/run/vmadmd.users"), 0600u);
    String text = readFile("/run/vmadmd.users");
    EXPECT_EQ(text.find(alice), String::npos) << "the token itself is never stored";
    std::vector<UsersFile::User> users;
    bool exists = false;
    String error;
    ASSERT_TRUE(file().load(users, exists, error)) << error;
    ASSERT_EQ(users.size(), 2u);
    EXPECT_TRUE(exists);
    EXPECT_EQ(users[0].digest, TokenDigest::of(users[0].salt, alice));
    EXPECT_NE(users[0].salt, users[1].salt);
    EXPECT_EQ(UsersFile::match(users, bob), &users[1]);
    EXPECT_EQ(UsersFile::match(users, alice + "0"), nullptr);

    String token;
    EXPECT_FALSE(file().add("alice", false, token, error));
    EXPECT_NE(error.find("user alice already exists"), String::npos) << error;
    EXPECT_FALSE(file().remove("carol", error));
    EXPECT_NE(error.find("there is no user carol"), String::npos) << error;
    String renewed = add("alice", true);
    ASSERT_TRUE(file().load(users, exists, error));
    EXPECT_EQ(UsersFile::match(users, alice), nullptr) << "a replaced token no longer signs in";
    EXPECT_EQ(UsersFile::match(users, renewed)->name, "alice");
    EXPECT_TRUE(file().remove("alice", error)) << error;
    ASSERT_TRUE(file().load(users, exists, error));
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].name, "bob");
}

TEST_F(ConsoleAuthTest, AnUnsafeOrGarbledFileIsRefused) {
    String salt(32, 'a'), digest(64, 'b');
    auto write = [&](const String& text) {
        writeFile("/run/vmadmd.users", text);
        ::chmod(path().c_str(), 0600);
    };
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* says;
    } cases[] = {
        {"open to others", [&] { add("alice"), ::chmod(path().c_str(), 0640); }, "with mode 0600"},
        {"a FIFO", [&] { ::mkfifo(path().c_str(), 0600); }, "must be a regular file"},
        {"a link", [&] { ::symlink("/etc/passwd", path().c_str()); }, "not a link"},
        {"a short line", [&] { write("bob " + salt + "\n"); }, "line 1 is not"},
        {"a bad name", [&] { write("# x\nb/b " + salt + " " + digest + "\n"); }, "line 2 is not"},
        {"a name twice",
         [&] { write("b " + salt + " " + digest + "\nb " + salt + " " + digest + "\n"); },
         "line 2 repeats user b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(path().c_str());
        c.make();
        std::vector<UsersFile::User> users;
        bool exists = false;
        String error, token;
        EXPECT_FALSE(file().load(users, exists, error));
        EXPECT_NE(error.find(c.says), String::npos) << error;
        EXPECT_FALSE(file().add("carol", false, token, error)) << "nothing is written over it";
        ConsoleAuth refusing = auth();
        EXPECT_EQ(refusing.admit(bearer(kShared)).status, 503) << "an unusable file lets no one in";
    }
}

TEST_F(ConsoleAuthTest, SessionsEndOnSignOutIdleTimeRemovalAndNewToken) {
    String alice = add("alice");
    String bob = add("bob");
    ConsoleAuth console = auth();
    String id, other, error;
    EXPECT_EQ(console.signIn(alice + "x", id).status, 401);
    EXPECT_EQ(console.signIn(kShared, id).status, 401) << "no shared token beside named users";
    EXPECT_EQ(console.admit(bearer(kShared)).status, 401);
    ASSERT_EQ(console.signIn(alice, id).user, "alice");
    EXPECT_EQ(id.size(), 64u);
    EXPECT_EQ(console.admit(bearer(id)).user, "alice");

    now_ += 29min;
    EXPECT_TRUE(console.admit(bearer(id)).ok()) << "each request starts the idle time again";
    now_ += 29min;
    EXPECT_TRUE(console.admit(bearer(id)).ok());
    now_ += 30min;
    ConsoleAuth::Verdict expired = console.admit(bearer(id));
    EXPECT_EQ(expired.status, 401);
    EXPECT_EQ(expired.error, "session expired, sign in again");

    ASSERT_TRUE(console.signIn(alice, id).ok());
    EXPECT_TRUE(console.signOut(bearer(id)));
    EXPECT_EQ(console.admit(bearer(id)).status, 401);

    ASSERT_TRUE(console.signIn(alice, id).ok());
    ASSERT_TRUE(console.signIn(bob, other).ok());
    ::chmod(path().c_str(), 0644);
    EXPECT_EQ(console.admit(bearer(id)).status, 503) << "no one is let in past an unsafe file";
    ::chmod(path().c_str(), 0600);
    EXPECT_TRUE(console.admit(bearer(id)).ok()) << "the file fixed, its users' sessions go on";
    String renewed = add("alice", true);
    EXPECT_EQ(console.admit(bearer(id)).status, 401) << "a new token ends the old sessions";
    ASSERT_TRUE(console.signIn(renewed, id).ok());
    ASSERT_TRUE(file().remove("alice", error)) << error;
    EXPECT_EQ(console.admit(bearer(id)).status, 401) << "a removed user is signed out";
    EXPECT_EQ(console.admit(bearer(other)).user, "bob");
}

TEST_F(ConsoleAuthTest, SharedTokenOnlyWithoutUsersFile) {
    ConsoleAuth console = auth();
    EXPECT_EQ(console.admit(bearer(kShared)).user, "console");
    EXPECT_EQ(console.admit(bearer(String(kShared).substr(1))).status, 401);
    String id;
    ASSERT_EQ(console.signIn(kShared, id).user, "console");
    EXPECT_EQ(console.admit(bearer(id)).user, "console");
    String alice = add("alice");
    EXPECT_EQ(console.admit(bearer(kShared)).status, 401);
    EXPECT_EQ(console.admit(bearer(id)).status, 401) << "a users file ends shared sessions";
    ASSERT_EQ(console.signIn(alice, id).user, "alice");
    ::unlink(path().c_str());
    EXPECT_EQ(console.admit(bearer(id)).status, 401);
    EXPECT_EQ(console.admit(bearer(kShared)).user, "console");
}

TEST_F(ConsoleAuthTest, AtCapacityTheLongestIdleSessionGoes) {
    String alice = add("alice");
    ConsoleAuth console = auth(3);
    String ids[4];
    for (String& id : ids) {
        ASSERT_TRUE(console.signIn(alice, id).ok());
        now_ += 1min;
    }
    // ids[0] went for ids[3]; using ids[1] now leaves ids[2] the longest idle.
    EXPECT_TRUE(console.admit(bearer(ids[1])).ok());
    String fifth;
    ASSERT_TRUE(console.signIn(alice, fifth).ok());
    bool live[] = {false, true, false, true};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(console.admit(bearer(ids[i])).ok(), live[i]) << i;
    EXPECT_TRUE(console.admit(bearer(fifth)).ok());
}

}  // namespace

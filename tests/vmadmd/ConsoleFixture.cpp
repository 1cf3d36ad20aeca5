#include "tests/vmadmd/ConsoleFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

void ConsoleFixture::SetUp() {
    VmcfgFixture::SetUp();
    ASSERT_EQ(run("init --demo").status, 0);
    start();
}

void ConsoleFixture::TearDown() {
    if (pid_ > 0) {
        EXPECT_EQ(stop(), 0) << "vmadmd ends with status 0 on SIGTERM";
    }
    VmcfgFixture::TearDown();
}

void ConsoleFixture::start(const std::vector<String>& extra) {
    String program = VmcfgRunner::program("vmadmd"), errors = root_ + "/vmadmd.err";
    std::vector<const char*> argv = {program.c_str(), "--root", root_.c_str(), "--listen",
                                     "127.0.0.1:0"};
    for (const String& argument : extra) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(posix_spawn(&pid_, program.c_str(), &actions, nullptr,
                          const_cast<char**>(argv.data()), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    String line;
    pollfd wait = {out[0], POLLIN, 0};
    char c;
    while (::poll(&wait, 1, 10000) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    std::size_t colon = line.find(':', line.find("127.0.0.1"));
    ASSERT_NE(colon, String::npos) << "no listening line: " << line << readFile("/vmadmd.err");
    port_ = std::stoi(line.substr(colon + 1));
    EXPECT_NE(line.find("token file " + root_ + "/vm/run/vmadmd.token"), String::npos);
    token_ = readFile("/vm/run/vmadmd.token").substr(0, 64);
}

int ConsoleFixture::stop() {
    ::kill(pid_, SIGTERM);
    int status = -1;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

httplib::Result ConsoleFixture::post(const String& path, const Json& body, httplib::Headers extra) {
    httplib::Client client("127.0.0.1", port_);
    extra.emplace("Authorization", "Bearer " + token_);
    return client.Post(path.c_str(), extra, body.dump(), "application/json");
}

ConsoleFixture::Json ConsoleFixture::form(int number, const char* op, const Json& fields) {
    auto reply = post("/api/forms/" + std::to_string(number) + "/" + op, {{"fields", fields}});
    EXPECT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no answer");
    return reply ? Json::parse(reply->body) : Json();
}

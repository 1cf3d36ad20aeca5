#include "tests/vmadmd/ConsoleFixture.h"

void ConsoleFixture::SetUp() {
    VmcfgFixture::SetUp();
    ASSERT_EQ(run("init --demo").status, 0);
    start();
}

void ConsoleFixture::TearDown() {
    if (vmadmd_.running()) {
        EXPECT_EQ(stop(), 0) << "vmadmd ends with status 0 on SIGTERM";
    }
    VmcfgFixture::TearDown();
}

void ConsoleFixture::start(const std::vector<String>& extra) {
    std::vector<String> argv = {VmcfgRunner::program("vmadmd"), "--root", root_, "--listen",
                                "127.0.0.1:0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    vmadmd_.start(argv, root_ + "/vmadmd.err");
    const String& line = vmadmd_.output();
    std::size_t colon = line.find(':', line.find("127.0.0.1"));
    ASSERT_NE(colon, String::npos) << "no listening line: " << line << readFile("/vmadmd.err");
    port_ = std::stoi(line.substr(colon + 1));
    EXPECT_NE(line.find("token file " + root_ + "/vm/run/vmadmd.token"), String::npos);
    token_ = readFile("/vm/run/vmadmd.token").substr(0, 64);
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

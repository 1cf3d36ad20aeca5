// The console's parameter views over HTTP, checked against vmcfg on the same
// root.

#include <filesystem>

#include "tests/vmadmd/ConsoleFixture.h"

namespace {

using Json = nlohmann::json;

class ConsoleParamsTest : public ConsoleFixture {
  protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        writeFile("/VM/config/config_params",
                  "# the console's own\n"
                  "precedence site east\n"
                  "precedence global default\n"
                  "site east : (Max Ports)=48 language=english\n"
                  "global default : (Max Ports)=24 timeout=30 (Number of CDR Files)=0\n");
        writeFile("/VM/config/site_params",
                  "precedence global default\nglobal default : check=yes k=1\n"
                  "not a parameter line\nnodes x : k=2\n");
    }

    std::pair<int, Json> get(const String& path) {
        auto reply = httplib::Client("127.0.0.1", port_).Get(path.c_str(), headers(token_));
        if (!reply) return {0, Json()};
        return {reply->status, Json::parse(reply->body, nullptr, false)};
    }

    // vmcfg's JSON answer, without the failure members only vmcfg adds.
    Json vmcfg(const String& arguments) {
        Json answer = Json::parse(run("--json " + arguments).out, nullptr, false);
        if (answer.is_object()) answer.erase("error"), answer.erase("exit");
        return answer;
    }
};

TEST_F(ConsoleParamsTest, AnswersAndRefusals) {
    struct Case {
        const char* path;
        int status;
        const char* contains;
    } cases[] = {
        {"/api/params/Max%20Ports", 200, R"("file":"/VM/config/config_params")"},
        {"/api/params/k?file=/VM/config/site_params", 200, R"("value":"1")"},
        {"/api/params/timeout?file=/VM/config/site_params", 404, R"("winner":null)"},
        {"/api/params?key=check&file=/VM/config/site_params", 200, R"("value":"yes")"},
        {"/api/params?file=/../etc/passwd", 400, "leads outside the platform root"},
        {"/api/params/k?file=/VM/config/../../../x", 400, "leads outside the platform root"},
        {"/api/params/check?file=VM/config/config_params", 400, "is not a platform path"},
        {"/api/params?file=", 400, "file: a property file path must have 1 to"},
        {"/api/params?file=/VM/config/config_params%00x", 400,
         "file: a property file path holds no NUL byte"},
        {"/api/params?file=/VM/none", 404, "can't read parameter file /VM/none: No such file"},
        {"/api/params/check?file=/VM/none", 404, "No such file"},
        {"/api/params/k?file=/VM/config", 404, "Is a directory"},
        {"/api/params?filter=max", 400, "unknown parameter \"filter\""},
        {"/api/params/check?key=k", 400, "unknown parameter \"key\""},
        {"/api/params/k?key=timeout", 400, "unknown parameter \"key\""},
        {"/api/params?file=/VM/a&file=/VM/b", 400, "file is given more than once"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto [status, body] = get(c.path);
        EXPECT_EQ(status, c.status);
        String said = body.contains("error") ? body["error"].get<String>() : body.dump();
        EXPECT_NE(said.find(c.contains), String::npos) << said;
    }
}

// Every key any type holds is listed once, with the value its lookup gives,
// whatever the page filters; the answers are vmcfg's on the same file.
TEST_F(ConsoleParamsTest, ListAndCheckAreVmcfgs) {
    for (const char* file : {"/VM/config/config_params", "/VM/config/site_params"}) {
        SCOPED_TRACE(file);
        String named = String(" --no-commands --file ") + file;
        auto [listed, list] = get(String("/api/params?file=") + file);
        EXPECT_EQ(listed, 200);
        EXPECT_EQ(list, vmcfg("param list" + named));
        auto [checked, check] = get(String("/api/params/check?file=") + file);
        EXPECT_EQ(checked, 200);
        EXPECT_EQ(check, vmcfg("param check" + named));
    }
    Json keys = Json::array(), list = get("/api/params").second;
    for (const Json& row : list["keys"]) keys.push_back(row["key"]);
    EXPECT_EQ(keys, Json({"Max Ports", "Number of CDR Files", "language", "timeout"}));
}

// The views read the file as it is now, and run none of its commands; the
// module's own reader (the feature form's) still runs them.
TEST_F(ConsoleParamsTest, FileReadAsItIsNowWithoutItsCommands) {
    const String marker = hostPath("/ran");
    auto params = [&](const char* node) {
        writeFile("/VM/config/config_params",
                  "precedence node $(touch '" + marker + "'; echo vm7)\n" +
                      "precedence global default\nnode vm7 : k=7\nglobal default : k=" + node +
                      " (Number of CDR Files)=0\n");
    };
    params("0");
    for (const char* path : {"/api/params", "/api/params/k", "/api/params/check",
                             "/api/params/k?file=/VM/config/config_params"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(get(path).first, 200);
        EXPECT_FALSE(std::filesystem::exists(marker)) << "a command ran";
    }
    EXPECT_EQ(get("/api/params/k").second["value"], "0");
    params("5");
    EXPECT_EQ(get("/api/params/k").second["value"], "5") << "the file as it was first read";
    EXPECT_EQ(form(3, "get", Json::object())["result"], 0);
    EXPECT_TRUE(std::filesystem::exists(marker)) << "the feature form's reader ran no command";
}

// The files offered for choosing: parameter files under the configuration
// directory, not the property files and markers beside them.
TEST_F(ConsoleParamsTest, OffersTheParameterFiles) {
    std::filesystem::create_directories(hostPath("/VM/config/sites/east"));
    writeFile("/VM/config/sites/east/params", "\n# east\n  precedence\tsite east\n");
    writeFile("/VM/config/notes", "# precedence x y\nnot one\n");
    std::filesystem::create_symlink("/etc", hostPath("/VM/config/outside"));
    auto [status, body] = get("/api/paramfiles");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(body, Json({{"directory", "/VM/config"},
                          {"files",
                           {"/VM/config/config_params", "/VM/config/site_params",
                            "/VM/config/sites/east/params"}}}));
}

}  // namespace

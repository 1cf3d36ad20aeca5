// The console driven over HTTP by an httplib client playing the page.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/vmadmd/ConsoleFixture.h"

namespace {

using Json = nlohmann::json;

const char* const kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

class ConsoleTest : public ConsoleFixture {
  protected:
    // The fields of a form 2 add of a message-kind property readable by all.
    static Json addFields(const String& name, const char* version = "1") {
        Json fields = {{"0", "MESSAGE"}, {"1", name}, {"15", "n"}, {"16", version}, {"17", "0"}};
        for (int f = 3; f <= 14; ++f) fields[std::to_string(f)] = f % 2 ? "R" : "W";
        return fields;
    }
};

TEST_F(ConsoleTest, EndpointsAnswerAndRefuseWithTheHeaders) {
    const String big(4097, 'x');
    struct Case {
        const char* method;
        String path;
        String body;
        int status;
        const char* contains;
    } cases[] = {
        {"GET", "/", "", 200, "<html"},
        {"GET", "/console.js", "", 200, ""},
        {"GET", "/api/session", "", 200, R"("forms":[2,1,3])"},
        {"POST", "/api/forms/2/get", R"({"fields":{"0":"MESSAGE","1":"ORVEX Binary Filename"}})",
         200, R"("result":0)"},
        {"POST", "/api/forms/9/get", "{}", 404, "no form 9"},
        {"POST", "/api/forms/2/fetch", "{}", 404, "unknown operation"},
        {"POST", "/api/forms/2/get", R"({"fields":{"128":"x"}})", 400, "field numbers"},
        {"POST", "/api/forms/2/get", R"({"fields":{"1":")" + big + R"("}})", 400, "4096 bytes"},
        {"POST", "/api/forms/2/get", R"({"fields":{"1":7}})", 400, "must be a string"},
        {"POST", "/api/forms/2/get", "fields=1", 400, "JSON object"},
        {"GET", "/api/params/Number%20of%20CDR%20Files", "", 200, R"("value":"0")"},
        {"GET", "/api/params/no%20such%2Fkey", "", 404, R"("key":"no such/key")"},
        {"GET", "/api/props?system", "", 200, "ORVEX DISABLE MESSAGE DELIVERY"},
        {"GET", "/api/props?cos=1", "", 200, "COS Greeting Length"},
        {"GET", "/api/props?file=/VM/none", "", 404, "No such file"},
        {"GET", "/api/props?cos=one", "", 400, "class of service"},
        {"GET", "/api/props?system&cos=1", "", 400, "name one set"},
        {"GET", "/api/props?system&access=Root", "", 400, "access: give one access class"},
        {"GET", "/api/props/check?system", "", 200, "\"ok\":true"},
        {"GET", "/api/props?msgid=200001", "", 200, "ORVEX Priority"},
        {"GET", "/api/props?msgid=200008", "", 400, "message 200008 has no property file"},
        {"GET", "/api/props?msgid=999999", "", 400, "no message 999999 in the message store"},
        {"GET", "/api/props?msgid=1x", "", 400, "1x\\\" is not a message id"},
        {"GET", "/api/props/check?file=/VM/none", "", 404, "No such file"},
        {"GET", "/api/known?kind=SYSTEM", "", 200, "\"name\":\"System Operator Extension\""},
        {"GET", "/api/known", "", 400, "kind: give the kind"},
        {"GET", "/api/known?kind=PLANET", "", 422, "{\"error\":"},
        {"GET", "/api/known/fixed?kind=SYSTEM", "", 200,
         "[{\"name\":\"QRT SYSTEM supported languages\"}]"},
        {"GET", "/api/known/fixed?kind=PLANET", "", 400, "kind: give one of"},
        {"GET", "/api/props?file=/VM/config/sys_prop_db%00x", "", 400, "no NUL byte"},
        {"GET", "/api/history?file=/VM/config/sys_prop_db%00x", "", 400, "no NUL byte"},
    };
    httplib::Client client("127.0.0.1", port_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + (" " + c.path));
        auto reply = String(c.method) == "GET"
                         ? client.Get(c.path.c_str(), headers(token_))
                         : client.Post(c.path.c_str(), headers(token_), c.body, "application/json");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, c.status);
        EXPECT_NE(reply->body.find(c.contains), String::npos) << reply->body;
        EXPECT_EQ(reply->get_header_value("Content-Security-Policy"), kPolicy);
        EXPECT_EQ(reply->get_header_value("X-Content-Type-Options"), "nosniff");
        EXPECT_EQ(reply->get_header_value("Referrer-Policy"), "no-referrer");
        if (c.path.rfind("/api/", 0) == 0) {
            EXPECT_EQ(reply->get_header_value("Cache-Control"), "no-store");
            EXPECT_EQ(reply->get_header_value_count("Cache-Control"), 1u);
        }
    }
}

TEST_F(ConsoleTest, TokenOriginHostAndSizeChecks) {
    httplib::Client client("127.0.0.1", port_);
    String other = token_;
    other[0] = other[0] == 'a' ? 'b' : 'a';
    EXPECT_EQ(client.Get("/api/session")->status, 401);
    EXPECT_EQ(client.Get("/api/session", headers(other))->status, 401);
    EXPECT_EQ(client.Get("/api/session", headers(token_ + "0"))->status, 401);
    const String self = "127.0.0.1:" + std::to_string(port_);
    struct Case {
        httplib::Headers headers;
        int status;
    } cases[] = {
        {{{"Origin", "http://" + self}}, 200},
        {{{"Origin", "http://evil.example"}}, 403},
        {{{"Origin", "null"}}, 403},
        {{{"Host", "evil.example:" + std::to_string(port_)}}, 403},
        {{{"Host", "127.0.0.1:" + std::to_string(port_ + 1)}}, 403},
        {{{"Host", "localhost:" + std::to_string(port_)}}, 200},
    };
    for (const Case& c : cases) {
        auto reply = post("/api/forms/2/get", {{"fields", {{"0", "MESSAGE"}}}}, c.headers);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, c.status) << c.headers.begin()->second;
    }
    auto big = client.Post("/api/forms/2/get", headers(token_), String(64 * 1024 + 1, ' '),
                           "application/json");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->status, 413);
    EXPECT_EQ(Json::parse(big->body).count("error"), 1u);
    EXPECT_EQ(big->get_header_value("Content-Security-Policy"), kPolicy);
}

TEST_F(ConsoleTest, RefusalNamesTheFieldAndTheEcode) {
    Json answer = form(2, "add", addFields("Console Version", "256"));
    EXPECT_EQ(answer["result"], 1023);
    EXPECT_EQ(answer["field_no"], 16);
    EXPECT_EQ(answer["rval"], 3);
    EXPECT_FALSE(answer["message"].get<String>().empty());
}

// The form cuts a long name after its 70th byte, here inside "é": the halves
// travel as bytes, and sent back as bytes they name the property again.
TEST_F(ConsoleTest, NameCutInsideACharacterKeepsItsBytes) {
    const String name = String(69, 'a') +
                        "\xc3\xa9"
                        "b";
    ASSERT_EQ(form(2, "add", addFields(name))["result"], 0);
    Json found;
    for (Json request = {{"0", "MESSAGE"}};;) {
        Json page = form(1, "list", request);
        for (int entry = 0; entry < 4 && page.contains("raw_fields"); ++entry) {
            Json& raw = page["raw_fields"];
            String first = std::to_string(entry * 17 + 1), rest = std::to_string(entry * 17 + 2);
            if (raw.contains(first)) found = {{"1", raw[first]}, {"2", raw[rest]}};
        }
        if (!found.is_null() || page["ecode"] != 501) break;
        request["52"] = page["fields"][52], request["53"] = page["fields"][53];
    }
    String halfHex;
    for (int i = 0; i < 69; ++i) halfHex += "61";
    ASSERT_EQ(found, Json({{"1", halfHex + "c3"}, {"2", "a962"}}))
        << "the listing gives the name's two halves as their bytes";
    auto gone = post("/api/forms/2/rem", {{"fields", {{"0", "MESSAGE"}}}, {"raw_fields", found}});
    ASSERT_TRUE(gone && gone->status == 200);
    EXPECT_EQ(Json::parse(gone->body)["result"], 0) << gone->body;
    auto bad = post("/api/forms/2/get", {{"raw_fields", {{"1", "6"}}}});
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
}

TEST_F(ConsoleTest, ConcurrentRequestsReachTheModuleOneAtATime) {
    constexpr int kThreads = 8, kEach = 6;
    auto name = [](int t, int i) {
        return "Console " + std::to_string(t) + "-" + std::to_string(i);
    };
    std::vector<std::thread> threads;
    std::vector<String> faults[kThreads];
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                Json added = form(2, "add", addFields(name(t, i)));
                Json got = form(2, "get", {{"0", "MESSAGE"}, {"1", name(t, i)}});
                // Another request's fields in this answer would show here.
                if (added["result"] != 0 || got["result"] != 0 || got["fields"][1] != name(t, i))
                    faults[t].push_back(added.dump() + " / " + got.dump());
            }
        });
    for (auto& thread : threads) thread.join();
    for (auto& list : faults) EXPECT_TRUE(list.empty()) << list.front();
    httplib::Client client("127.0.0.1", port_);
    auto known = client.Get("/api/props?file=/VM/config/PropertyDefaults", headers(token_));
    ASSERT_TRUE(known && known->status == 200);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kEach; ++i)
            EXPECT_NE(known->body.find('"' + name(t, i) + '"'), String::npos);
}

TEST_F(ConsoleTest, TokenFileIsPrivateKeptAndRefusedWhenOpen) {
    String path = root_ + "/vm/run/vmadmd.token";
    EXPECT_EQ(modeOf("/vm/run/vmadmd.token"), 0600u);
    String before = token_;
    ASSERT_EQ(stop(), 0);
    start();
    EXPECT_EQ(token_, before) << "a restart keeps the token the file holds";
    ASSERT_EQ(stop(), 0);
    String fifo = root_ + "/vm/run/token.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::chmod(path.c_str(), 0644);
    struct Case {
        String file;
        const char* says;
    } cases[] = {{path, "mode 0600"}, {fifo, "must be a regular file"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        // A reader stuck opening the FIFO is let go after 5 s, so a refusal
        // that waits on the file shows as a slow one rather than a hang.
        std::jthread release([&](std::stop_token stop) {
            for (int i = 0; i < 100 && !stop.stop_requested(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        });
        auto began = std::chrono::steady_clock::now();
        VmcfgRunner::Outcome refused = run("--listen 127.0.0.1:0 --token-file " + c.file, "vmadmd");
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.err.find(c.says), String::npos) << refused.err;
    }
}

// A byte copy of the module elsewhere is a module of its own: the console
// must serve that one, forms and views alike, stop cleanly, and refuse to
// start when the module named is missing.
TEST_F(ConsoleTest, ServesTheModuleNamed) {
    ASSERT_EQ(stop(), 0);
    String copy = root_ + "/copy/libconfig_adm.so.0.1.0";
    std::filesystem::create_directory(root_ + "/copy");
    std::filesystem::copy_file(VmcfgRunner::program("libconfig_adm.so"), copy);
    start({"--module", copy});
    auto listed = post("/api/forms/1/list", {{"fields", {{"0", "COS"}}}});
    auto props = httplib::Client("127.0.0.1", port_).Get("/api/props?cos=1", headers(token_));
    for (auto* reply : {&listed, &props}) {
        ASSERT_TRUE(*reply);
        EXPECT_EQ((*reply)->status, 200);
        EXPECT_NE((*reply)->body.find("COS Greeting Length"), String::npos) << (*reply)->body;
    }
    EXPECT_EQ(stop(), 0);

    auto missing = run("--listen 127.0.0.1:0 --module " + root_ + "/none.so", "vmadmd");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("vmadmd: can't load the module: " + root_ + "/none.so"),
              String::npos)
        << missing.err;
}

}  // namespace

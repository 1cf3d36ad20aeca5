// The console's edits of a set's values over HTTP, each checked with vmcfg on
// the same root.

#include <thread>

#include "tests/vmadmd/ConsoleFixture.h"

namespace {

using Json = nlohmann::json;

const char kFile[] = "/VM/config/console_edit";

class ConsoleEditTest : public ConsoleFixture {
  protected:
    // The edit's status and body.
    std::pair<int, Json> edit(Json body) {
        if (body.is_object() && !body.contains("set")) body["set"] = {{"file", kFile}};
        auto reply = post("/api/props/edit", body);
        if (!reply) return {0, Json()};
        return {reply->status, Json::parse(reply->body, nullptr, false)};
    }
    // "name#index=value" of every copy vmcfg shows in the file set, bytes
    // that are not UTF-8 as "hex:..." from vmcfg's *_hex twins.
    std::vector<String> shown() {
        auto outcome = run(String("--json props show ") + kFile);
        std::vector<String> out;
        Json rows = Json::parse(outcome.out, nullptr, false);
        auto bytes = [](const Json& p, const String& field) {
            return p.contains(field + "_hex") ? "hex:" + p[field + "_hex"].get<String>()
                                              : p[field].get<String>();
        };
        for (const Json& p : rows.is_array() ? rows : Json::array())
            out.push_back(bytes(p, "name") + "#" + std::to_string(p["index"].get<int>()) + "=" +
                          bytes(p, "value"));
        return out;
    }
};

// One edit after another on one set: each answer and what vmcfg then shows.
TEST_F(ConsoleEditTest, EditsAreSavedAsVmcfgSavesThem) {
    struct Step {
        Json body;
        const char* action;
        std::vector<String> after;
    } steps[] = {
        {{{"op", "set"}, {"name", "Colour"}, {"value", "red"}}, "added", {"Colour#1=red"}},
        {{{"op", "set"}, {"name", "Colour"}, {"value", "blue"}}, "replaced", {"Colour#1=blue"}},
        {{{"op", "add"}, {"name", "Colour"}, {"value", "green"}},
         "added",
         {"Colour#1=blue", "Colour#2=green"}},
        {{{"op", "set"}, {"name_hex", "4bff"}, {"value_hex", "00fe"}},
         "added",
         {"Colour#1=blue", "Colour#2=green", "hex:4bff#1=hex:00fe"}},
        {{{"op", "remove"}, {"name", "Colour"}, {"index", 1}},
         "removed",
         {"Colour#2=green", "hex:4bff#1=hex:00fe"}},
        {{{"op", "remove"}, {"name_hex", "4bff"}}, "removed", {"Colour#2=green"}},
        {{{"op", "set"}, {"name", "Colour"}, {"value", "x"}, {"index", 2}, {"dry_run", true}},
         "replaced",
         {"Colour#2=green"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.body.dump());
        auto [status, reply] = edit(step.body);
        ASSERT_EQ(status, 200) << reply;
        EXPECT_EQ(reply["action"], step.action);
        EXPECT_EQ(shown(), step.after);
    }
    auto [status, reply] = edit(
        {{"op", "set"}, {"name", "Colour"}, {"value", "x"}, {"index", 2}, {"access", "Minimal"}});
    EXPECT_EQ(status, 422);
    EXPECT_EQ(reply["error"], "class Minimal lacks the write right on copy 2 of 'Colour'");
    EXPECT_EQ(shown(), steps[std::size(steps) - 1].after);
    // The copy is the Server class's alone: Minimal sees an empty set.
    for (const char* access : {"Server", "Minimal"}) {
        auto seen =
            httplib::Client("127.0.0.1", port_)
                .Get(String("/api/props?file=") + kFile + "&access=" + access, headers(token_));
        ASSERT_TRUE(seen && seen->status == 200);
        EXPECT_EQ(Json::parse(seen->body).size(), access == String("Server") ? 1u : 0u);
    }
    auto history = run("--json history --limit 1 " + String(kFile));
    Json rows = Json::parse(history.out, nullptr, false);
    ASSERT_TRUE(rows.is_array() && !rows.empty()) << history.out << history.err;
    EXPECT_EQ(rows[0]["actor"], "console");
    EXPECT_EQ(rows[0]["program"], "vmadmd");
}

TEST_F(ConsoleEditTest, BadEditsAreRefusedInWordsAndWriteNothing) {
    struct Case {
        Json body;
        int status;
        const char* says;
    } cases[] = {
        {Json::array(), 400, "JSON object"},
        {{{"op", "set"}, {"name", "A"}, {"value", "1"}, {"set", Json::object()}},
         400,
         "name one set"},
        {{{"op", "paint"}, {"name", "A"}}, 400, "\"op\" must be"},
        {{{"op", "set"}, {"value", "1"}}, 400, "\"name\""},
        {{{"op", "set"}, {"name", "A"}, {"name_hex", "41"}, {"value", "1"}}, 400, "not both"},
        {{{"op", "set"}, {"name_hex", "4"}, {"value", "1"}}, 400, "\"name_hex\""},
        {{{"op", "set"}, {"name", "A"}}, 400, "\"value\""},
        {{{"op", "remove"}, {"name", "A"}, {"value", "1"}}, 400, "takes no value"},
        {{{"op", "set"}, {"name", "A"}, {"value", "1"}, {"index", 0}}, 400, "copy number"},
        {{{"op", "add"}, {"name", "A"}, {"value", "1"}, {"index", 3}}, 400, "next free copy"},
        {{{"op", "set"}, {"name", "A"}, {"value", "1"}, {"access", "Root"}}, 400, "access class"},
        {{{"op", "set"}, {"name", "A"}, {"value", "1"}, {"dry_run", "yes"}}, 400, "dry_run"},
        {{{"op", "remove"}, {"name", "A"}}, 404, kFile},
        {{{"op", "reset"}, {"name", "A"}, {"set", {{"system", ""}}}}, 422, "no default for 'A'"},
        // A class-of-service record is the owner box's to write: this console
        // hands the save to the owner's daemon, and none answers here.
        {{{"op", "set"}, {"name", "Colour"}, {"value", "red"}, {"set", {{"cos", "1"}}}},
         500,
         "owner box"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.dump());
        auto [status, reply] = edit(c.body);
        EXPECT_EQ(status, c.status) << reply;
        EXPECT_NE(reply.value("error", String()).find(c.says), String::npos) << reply;
    }
    EXPECT_TRUE(shown().empty());
    EXPECT_EQ(run("--json props show --cos 1 --name Colour").out, "[]\n");
}

// Edits from the console and from vmcfg at once on one file: none is lost.
TEST_F(ConsoleEditTest, EditsRacingVmcfgLoseNoUpdate) {
    constexpr int kEach = 12;
    std::thread tool([&] {
        for (int i = 0; i < kEach; ++i) run(String("props add ") + kFile + " Tool v");
    });
    for (int i = 0; i < kEach; ++i)
        EXPECT_EQ(edit({{"op", "add"}, {"name", "Page"}, {"value", "v"}}).first, 200);
    tool.join();
    std::vector<String> copies = shown();
    EXPECT_EQ(copies.size(), 2u * kEach);
}

}  // namespace

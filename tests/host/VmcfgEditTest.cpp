// vmcfg as a configuration tool: set versus add, attributes on an existing
// copy, reset, --dry-run, output modes and bytes that are not UTF-8.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "tests/testing/VmcfgRunner.h"

namespace {

using Outcome = VmcfgRunner::Outcome;
using Json = nlohmann::json;

class VmcfgEdit : public VmcfgFixture {
  protected:
    void SetUp() override {
        VmcfgFixture::SetUp();
        ASSERT_EQ(run("init --demo").status, 0);
    }
    Json json(const String& arguments, int status = 0) const {
        Outcome o = run(arguments + " -o json");
        EXPECT_EQ(o.status, status) << arguments << ": " << o.err;
        Json parsed = Json::parse(o.out, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << arguments << ": not JSON: " << o.out;
        return parsed.is_discarded() ? Json() : parsed;
    }
    // The copies of a name in the system set: index -> value.
    std::map<unsigned, String> copies(const String& name) const {
        std::map<unsigned, String> found;
        for (const Json& p : json("props show --system --name '" + name + "'"))
            found[p["index"].get<unsigned>()] = p["value"].get<String>();
        return found;
    }
    // Every file under the set's stores, by path: what a dry run must leave.
    std::map<String, String> stores() const {
        std::map<String, String> bytes;
        for (const char* directory : {"/VM/config", "/VM/orvex/sd/sdata"})
            for (const String& name : listDirectory(directory))
                if (name.find("lock") == String::npos)
                    bytes[String(directory) + "/" + name] =
                        readFile(String(directory) + "/" + name);
        return bytes;
    }
};

TEST_F(VmcfgEdit, SetReplacesACopyAndAddAddsOne) {
    struct Step {
        const char* command;
        const char* says;
        std::map<unsigned, String> after;
    };
    const Step steps[] = {
        {"props set --system Colour blue", "added copy 1 of 'Colour'", {{1, "blue"}}},
        {"props set --system Colour red", "replaced copy 1 of 'Colour'", {{1, "red"}}},
        {"props add --system Colour green", "added copy 2 of 'Colour'", {{1, "red"}, {2, "green"}}},
        {"props set --system Colour teal --index 2", "replaced copy 2", {{1, "red"}, {2, "teal"}}},
        {"props put --system Colour grey", "added copy 3", {{1, "red"}, {2, "teal"}, {3, "grey"}}},
        {"props put --system Colour navy --index 3",
         "replaced copy 3",
         {{1, "red"}, {2, "teal"}, {3, "navy"}}},
        {"props rm --system Colour --index 2",
         "removed 1 copy of Colour",
         {{1, "red"}, {3, "navy"}}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        Outcome o = run(step.command);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_NE(o.out.find(step.says), String::npos) << o.out;
        EXPECT_EQ(copies("Colour"), step.after);
    }
}

// Attributes given for an existing copy replace it where the class may, and
// are refused in words where it may not; the rights never stay silently.
TEST_F(VmcfgEdit, AttributesOnAnExistingCopyAreAppliedOrRefused) {
    ASSERT_EQ(run("props set --system Pin 1 --write standard").status, 0);
    struct Case {
        const char* options;
        int status;
        const char* refusal;
        const char* read;  // the copy's read right afterwards
        const char* write;
    };
    const Case cases[] = {
        {"--read MINIMAL --write Trusted", 0, "", "Minimal", "Trusted"},
        {"--access Standard --read standard", 1, "class Standard lacks the write right on copy 1",
         "Minimal", "Trusted"},
        {"--read all --write Restricted", 0, "", "Minimal", "Restricted"},
        {"--access standard --write minimal", 1,
         "class Standard may not change the attributes of an existing copy", "Minimal",
         "Restricted"},
        {"--access Standard", 0, "", "Minimal", "Restricted"},
        {"--read server,standard --write standard", 0, "", "Standard", "Standard"},
        {"--read nobody", 2, "--read: unknown access class 'nobody'", "Standard", "Standard"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        Outcome o = run(String("props set --system Pin 2 ") + c.options);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.err.find(c.refusal), String::npos) << o.err;
        Json shown = json("props show --system --name Pin");
        ASSERT_EQ(shown.size(), 1u) << "one copy, whatever was refused";
        EXPECT_EQ(shown[0]["read"], c.read);
        EXPECT_EQ(shown[0]["write"], c.write);
    }
}

TEST_F(VmcfgEdit, ResetPutsBackTheKindsDefault) {
    const String name = "'System Greeting Length'";
    ASSERT_EQ(run("props set --system " + name + " 99").status, 0);
    ASSERT_EQ(run("props add --system " + name + " 98").status, 0);
    Outcome reset = run("props reset --system " + name);
    EXPECT_EQ(reset.status, 0) << reset.err;
    EXPECT_NE(reset.out.find("2 copies removed, 1 put back"), String::npos) << reset.out;
    Json after = json("props show --system --name " + name);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0]["value"],
              json("props show /VM/config/sys_prop_db.defaults --name " + name)[0]["value"]);
    Outcome none = run("props reset --system Colour");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("the kind has no default for 'Colour'"), String::npos) << none.err;
}

TEST_F(VmcfgEdit, DryRunWritesNothing) {
    ASSERT_EQ(run("props set --system Colour blue").status, 0);
    ASSERT_EQ(run("--box 333 props set --cos 1 Colour blue").status, 0);
    const std::map<String, String> before = stores();
    struct Case {
        const char* command;
        const char* says;
    };
    const Case cases[] = {
        {"props set --system Colour red", "would have replaced copy 1"},
        {"props add --system Colour red", "would have added copy 2"},
        {"props put --system Colour red --index 5", "would have added copy 5"},
        {"props remove --system Colour", "would have removed 1 copy"},
        {"props remove --system --all", "would have removed"},
        {"props reset --system 'System Greeting Length'", "would have reset"},
        {"--box 333 props set --cos 1 Colour red", "would have replaced copy 1"},
        {"props set /VM/config/new Colour red", "would have added copy 1"},
        {"known add SYSTEM New --read all", "would add in SYSTEM"},
        {"known rm SYSTEM 'System Greeting Length'", "would remove in SYSTEM"},
        {"features set CDR on", "would switch on"},
        {"init", "nothing to create"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Outcome o = run(String(c.command) + " --dry-run");
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_NE(o.out.find(c.says), String::npos) << o.out;
        EXPECT_EQ(stores(), before);
    }
    EXPECT_TRUE(listDirectory("/vm/tmp").empty());
    // Refusals are the same as without --dry-run.
    Outcome refused = run("props set --system Colour red --access Standard --dry-run");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("class Standard lacks the write right"), String::npos);
}

TEST_F(VmcfgEdit, NamesThatAreNotUtf8RoundTripByTheirBytes) {
    Outcome put = run("props set --system --hex 61ff62 c3a9ff");
    ASSERT_EQ(put.status, 0) << put.err;
    ASSERT_EQ(run("props set --system --hex 61fe62 00").status, 0);
    Json listed = json("props show --system");
    Json mine;
    for (const Json& p : listed)
        if (p.contains("name_hex") && p["name_hex"] == "61ff62") mine = p;
    ASSERT_FALSE(mine.is_null()) << listed.dump();
    EXPECT_EQ(mine["value_hex"], "c3a9ff");
    Json value = json("props show --system --hex --name " + mine["name_hex"].get<String>());
    ASSERT_EQ(value.size(), 1u);
    EXPECT_EQ(value[0]["value_hex"], "c3a9ff");
    Outcome removed = run("props remove --system --hex " + mine["name_hex"].get<String>());
    EXPECT_EQ(removed.status, 0) << removed.err;
    EXPECT_EQ(json("props show --system --hex --name 61ff62"), Json::array());
    EXPECT_EQ(json("props show --system --hex --name 61fe62").size(), 1u) << "the other stays";
    Outcome bad = run("props set --system --hex 6x 00");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("not pairs of hexadecimal digits"), String::npos);
}

// Every group takes -o and --json after its command; under JSON every
// outcome is one JSON object or array, and a failure says {"error","exit"}.
TEST_F(VmcfgEdit, EveryCommandAnswersInEachOutputMode) {
    struct Case {
        const char* command;
        int status;
        const char* text;   // in the text output (standard output, else error)
        const char* value;  // the whole -o value output; nullptr: -o value refused
    };
    const Case cases[] = {
        {"init", 0, "nothing to create", nullptr},
        {"param types", 0, "0 site", nullptr},
        {"param get 'Max Ports'", 0, "24 (global=default)", "24\n"},
        {"param get absent", 1, "no precedence type holds", ""},
        {"props show --system --name 'QRT SYSTEM supported languages'", 0,
         "QRT SYSTEM supported languages 1", "english spanish french\n"},
        {"props show --system --name Absent", 0, "", ""},
        {"props set --system 'System Max Message Length' 1 --access Standard", 1,
         "lacks the write right", nullptr},
        {"props show --system --access Nobody", 2, "unknown access class", nullptr},
        {"known list cos", 0, "COS Greeting Length", nullptr},
        {"known get SYSTEM Nothing", 1, "no such property", nullptr},
        {"features", 0, "Call Detail Recording?", nullptr},
        {"features set 9 on", 2, "no feature", nullptr},
        {"address locate 1002@BOSTON BOSTON", 0, "user id: 1002", nullptr},
        {"message props 200008", 1, "no property file", nullptr},
        {"index status", 0, "lmdb", nullptr},
        {"props frobnicate", 2, "'frobnicate' is not a command", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Outcome text = run(String(c.command) + " -o text");
        EXPECT_EQ(text.status, c.status);
        EXPECT_NE((text.out + text.err).find(c.text), String::npos) << text.out << text.err;
        for (const char* json : {" --json", " -o json", " --output=json"}) {
            Outcome o = run(String(c.command) + json);
            EXPECT_EQ(o.status, c.status) << json;
            Json parsed = Json::parse(o.out, nullptr, false);
            ASSERT_FALSE(parsed.is_discarded()) << json << ": not JSON: " << o.out;
            if (c.status != 0) {
                EXPECT_EQ(parsed["exit"], c.status) << o.out;
                EXPECT_FALSE(parsed["error"].get<String>().empty()) << o.out;
            }
        }
        Outcome value = run(String(c.command) + " -o value");
        if (c.value) {
            EXPECT_EQ(value.out, c.value);
        } else {
            EXPECT_EQ(value.status, 2) << value.err;
        }
    }
}

TEST_F(VmcfgEdit, ExportAndImportMoveStreamsByteForByteAndRefuseBeforeWriting) {
    EXPECT_EQ(run("props export --system").out, readFile("/VM/config/sys_prop_db"));
    const String cos2 = hostPath("/cos2.stream"), bad = hostPath("/bad.stream");
    ASSERT_EQ(run("props export --cos 2 --output " + cos2).status, 0);
    writeFile("/bad.stream", "component-file-version=2\nnumber of properties=1\n9 x\n");
    ASSERT_EQ(::mkfifo(hostPath("/fifo").c_str(), 0600), 0);
    struct Case {
        const char* command;
        int status;
        const char* says;
    } refusals[] = {
        {"props import --system /bad.stream --yes", 1, "is not a property stream"},
        {"props import --cos 1 /cos2.stream", 1, "not confirmed"},  // no answer on stdin
        {"props import --cos 1 /cos2.stream --dry-run", 0, "~ COS Greeting Length#1 30 -> 120"},
        {"props import --system /none.stream --yes", 2, "can't read"},
        {"props import --system /fifo --yes", 2, "not a regular file"},  // never waited on
        {"props diff --system --file /VM", 2, "not a regular file"},
    };
    const auto before = stores();
    for (const Case& c : refusals) {
        String command = c.command;
        command.replace(command.find(" /"), 2, " " + root_ + "/");
        Outcome o = run(command);
        EXPECT_EQ(o.status, c.status) << c.command << ": " << o.err;
        EXPECT_NE((o.out + o.err).find(c.says), String::npos) << o.out << o.err;
        EXPECT_EQ(stores(), before) << c.command << " wrote";
    }
    Outcome imported = run("--box 333 props import --cos 1 " + cos2 + " --yes");
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(run("props export --cos 1").out, readFile("/cos2.stream"));
    EXPECT_NE(
        run("--box 333 props import --cos 1 " + cos2 + " --yes").out.find("nothing to import"),
        String::npos);
}

TEST_F(VmcfgEdit, DiffShowsEachCopyAddedRemovedOrChangedThatTheClassMayRead) {
    ASSERT_EQ(run("props set --system Colour blue --read all").status, 0);
    const String before = hostPath("/before.stream");
    ASSERT_EQ(run("props export --system --output " + before).status, 0);
    for (const char* edit :
         {"props set --system Colour red", "props add --system Pin 1234 --read server",
          "props set --system --hex 61ff62 7a",
          "props remove --system 'System Max Message Length'"})
        ASSERT_EQ(run(edit).status, 0) << edit;
    std::map<String, String> ops;
    for (const Json& row : json("props diff --file " + before + " --system")) {
        String name = row.contains("name_hex") ? "hex:" + row["name_hex"].get<String>()
                                               : row["name"].get<String>();
        ops[name] =
            row["op"].get<String>() + " " + row["old_value"].dump() + " " + row["new_value"].dump();
    }
    EXPECT_EQ(ops,
              (std::map<String, String>{{"Colour", "changed \"blue\" \"red\""},
                                        {"Pin", "added null \"1234\""},
                                        {"hex:61ff62", "added null \"z\""},
                                        {"System Max Message Length", "removed \"300\" null"}}));
    Outcome minimal = run("props diff --system --file " + before + " --access Minimal");
    EXPECT_EQ(minimal.status, 0);
    EXPECT_EQ(minimal.out.find("Pin"), String::npos) << "a value the class may not read shown";
    EXPECT_NE(minimal.out.find("~ Colour#1 red -> blue"), String::npos) << minimal.out;
    for (const char* usage : {"props diff --system", "props diff --system --cos x",
                              "props diff --system --cos 1 --cos 2"})
        EXPECT_EQ(run(usage).status, 2) << usage;
}

}  // namespace

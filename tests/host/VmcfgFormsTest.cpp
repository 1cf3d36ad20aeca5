// vmcfg form, shell, known, address, message and props as an administrator
// runs them: output and exit status.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/testing/VmcfgRunner.h"

namespace {

using Outcome = VmcfgRunner::Outcome;
using Json = nlohmann::json;

class VmcfgForms : public VmcfgFixture {
  protected:
    Json json(const String& arguments, int status = 0) const {
        Outcome o = run("--json " + arguments);
        EXPECT_EQ(o.status, status) << arguments << ": " << o.err;
        Json parsed = Json::parse(o.out, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << arguments << ": not JSON: " << o.out;
        return parsed.is_discarded() ? Json() : parsed;
    }
    void demo() const { ASSERT_EQ(run("init --demo").status, 0); }
};

// ---- vmcfg form

// One command on a root prepared by "init --demo", then (optionally) a
// command whose output shows the command's effect.
struct FormCase {
    const char* id;
    const char* command;
    int status;
    const char* out;       // expected in standard output (then's, with then)
    const char* err = "";  // expected in the command's standard error
    const char* then = "";
    const char* hides = "";  // must not be in the output out is looked for in
};

const FormCase kFormCases[] = {
    {"GetFixedKnown", "form 2 get SYSTEM 'QRT SYSTEM supported languages'", 0,
     "form 2 get: result 0 (ok)  rval 2  ecode 0  field_no -1\n   0  SYSTEM\n"
     "   1  QRT SYSTEM supported languages\n   2\n   3  R\n   4  W\n"},
    {"GetMissing", "form 2 get cos Nothing", 1,
     "result 1023 (failed)  rval 3  ecode 2 (no such property)"},
    {"FieldOptionWinsOverPosition",
     "form 2 get SYSTEM Nothing -f 1='QRT SYSTEM supported languages'", 0, "result 0"},
    {"DefaultOperation", "form 1 rem SYSTEM", 1,
     "ecode 9000 (this form does not support that operation)"},
    {"VersionOutOfRange", "form 2 add SYSTEM Name '' R W R W - - - - - - - - n 256 0", 1,
     "ecode 9003 (the number is out of range)  field_no 16"},
    {"DashFieldsAfterDoubleDash", "form 2 add -- SYSTEM Name '' R W -x - - - - - - - - - n 1 0", 0,
     "result 0 (ok)"},
    {"NoSuchForm", "form 9 get SYSTEM", 2, "", "the module has no form 9 (forms 2, 1, 3)"},
    {"UnknownOperation", "form 2 fetch SYSTEM", 2, "", "unknown operation 'fetch'"},
    {"BadFieldNumber", "form 2 get -f 128=x", 2, "", "-f takes N=TEXT"},
    {"UnknownOption", "form 2 get --frobnicate", 2, "", "unknown option '--frobnicate'"},
    {"KnownGetOne", "known get SYSTEM 'System Max Message Length'", 0,
     "System Max Message Length  RW   RW   R-   R-   R-   R-"},
    {"KnownGetMissing", "known get SYSTEM Nothing", 1, "",
     "known get SYSTEM 'Nothing': no such property"},
    {"CheckFree", "known check cos 'COS New'", 0, "'COS New' is free in COS"},
    {"CheckTaken", "known check cos 'COS Greeting Length'", 1, "",
     "a property of that name already exists"},
    {"AddTaken", "known add COS 'COS Greeting Length'", 1, "",
     "a property of that name already exists"},
    {"ChangeMissing", "known change COS 'COS New' --version 3", 1, "", "no such property"},
    {"RemoveFixed", "known rm SYSTEM 'QRT SYSTEM supported languages'", 1, "",
     "removal refused: the property is one of its kind's fixed known properties"},
    {"UnknownKind", "known list USER", 2, "", "unknown kind 'USER'"},
    {"UnknownClass", "known add COS X --read everybody", 2, "", "unknown class 'everybody'"},
    {"Contradiction", "known change COS X --forwardable --no-forwardable", 2, "", "contradict"},
    // vmcfg address and message.
    {"LocateJson", "--json address locate jane.doe@example.net INTERNET", 0,
     R"("full_address":"jane.doe@example.net","id":1005,"kind":4)"},
    {"LocateUnknownNode", "address locate 1002@NOWHERE NOWHERE", 1,
     "result 1114: the directory has no node of that name"},
    {"LocateUsage", "address locate 1002@BOSTON", 2, ""},
    {"Build", "address build 200001", 0, "address: 1002@BOSTON\nnode: BOSTON"},
    {"BuildKind0", "address build 200009", 1, "", "result 1114"},
    {"MessageProps", "message props 200001", 0, "ORVEX Priority 1"},
    {"MessageCheck", "message check 200005", 0, "user id: 1002\nnode: 1\nmailbox: 1002"},
    {"MessageCheckElevenCharMailbox", "message check 200006", 0, "mailbox: 90011234567"},
    {"MessageCheckJson", "--json message check 200007", 1, R"("result":1230)"},
    {"MessageCheckAbsent", "message check 200001", 0, "nothing to check"},
    // vmcfg props.
    {"ShowCosAsMinimal", "props show --cos 1 --access Minimal", 0, "COS Max Message Length 1"},
    {"ShowSubscriberHidesFromMinimal", "props show --subscriber 1001 --access Minimal", 0, "", "",
     "", "Subscriber Language"},
    {"ShowMessageFile", "props show --message /VM/orvex/sd/msg/1001/0001.prop", 0, "urgent"},
    {"ShowDefaultsFile", "props show /VM/config/COSPropertyDefaults --name 'COS Mailbox Capacity'",
     0, "value (2 bytes): 50"},
    {"CheckCos", "props check --cos 2", 0, "class of service 2: 3 properties"},
    {"PutKnownTakesKnownAttributes", "props put --system 'System Greeting Length' 45", 0,
     "write: Trusted  version 1", "", "props show --system --name 'System Greeting Length'"},
    {"PutKnownRefusedToWeakClass",
     "props put --system 'System Max Message Length' 10 --access Standard", 1,
     "value (3 bytes): 300", "class Standard lacks the write right on 'System Max Message Length'",
     "props show --system", "(2 bytes): 10"},
    {"PutUnknownClaimingKnownRefused",
     "props put --cos 1 Colour blue --server-known --access Standard", 1, "",
     "class Standard may not mark 'Colour' server-known: the kind does not know it"},
    {"PutOnOwnerBoxWritesRecord", "--box 333 props put --cos 1 'COS Mailbox Capacity' 75", 0,
     "value (2 bytes): 75", "", "props show --cos 1 --name 'COS Mailbox Capacity'"},
    {"PutOffOwnerWithoutDaemon", "props put --subscriber 1001 Pin 1234", 1, "",
     "owner box 333 is not listening (messaging status 1401); is its owner daemon running? "
     "(vmpropd --box 333)",
     "props show --subscriber 1001", "Pin"},
    {"RemoveName", "props remove --message /VM/orvex/sd/msg/1001/0001.prop 'ORVEX Priority'", 0,
     "ORVEX Primary Media", "", "props show --message /VM/orvex/sd/msg/1001/0001.prop",
     "ORVEX Priority"},
    {"RemoveAll", "props remove --system --all", 0, "0 properties", "", "props check --system"},
    {"RemoveMissingName", "props remove --system Nothing", 1, "", "there is no 'Nothing'"},
    {"RemoveWithoutName", "props remove --system", 2, "", "remove takes NAME"},
    {"RemoveAllWithName", "props remove --system --all SysLang", 2, "", "name one set"},
    {"RemoveAllWithIndex", "props remove --system --all --index 1", 2, "", "takes no --index"},
    {"PutEmptyName", "props put --cos 1 '' x", 2, "", "name is empty"},
    {"RemoveEmptyName", "props remove --system ''", 2, "", "name is empty"},
    {"NoTarget", "props put Name Value", 2, "", "name one set"},
    {"FileAndTarget", "props show /VM/config/sys_prop_db --system", 2, "", "name one set"},
    {"SetWordIsNoFile", "props set cos:3 A b", 2, "",
     "there is no file 'cos:3'; for that set, give --cos 3"},
    {"SubscriberWordIsNoFile", "props show subscriber=12", 2, "", "give --subscriber 12"},
    {"SystemWordIsNoFile", "history system", 2, "", "give --system"},
    {"SetWordNamingAFileIsThatFile", "props set /cos:3 A b", 0, "value (1 bytes): b", "",
     "props show cos:3"},
    {"CosOutOfRange", "props show --cos 4294967295", 2, ""},
    {"MissingFile", "props show /VM/config/absent", 2, "", "No such file or directory"},
    {"MissingMessageFile", "props remove --message /VM/absent Name", 2, "",
     "No such file or directory"},
    {"ControlBytesShownEscaped", "props put --system \"$(printf 'Bad\\033Name')\" x", 0,
     "Bad\\x1bName", "", "props show --system"},
    {"DirectoryIsNoSet", "props show /VM/config", 2, "", "not a regular file"},
    {"DotDotStaysInTheRoot", "props show /../../VM/config/sys_prop_db", 0,
     "english spanish french"},
};

TEST_F(VmcfgForms, FormJsonCarriesEveryReplyField) {
    ASSERT_EQ(run("init").status, 0);
    Json a = json("form 1 list system");
    EXPECT_EQ(
        (Json::array({a["form"], a["op"], a["result"], a["rval"], a["ecode"], a["field_no"]})),
        (Json::array({1, "list", 0, 2, 0, -1})));
    ASSERT_EQ(a["fields"].size(), 69u);
    EXPECT_EQ(a["fields"][0], "SYSTEM");
    EXPECT_EQ(a["fields"][1], "QRT SYSTEM supported languages");
    Json failed = json("form 2 rem SYSTEM 'QRT SYSTEM supported languages'", 1);
    EXPECT_EQ(failed["ecode"], 4);
    EXPECT_EQ(failed["fields"].size(), 18u);
    // --json may also follow the request.
    EXPECT_EQ(Json::parse(run("form 2 addv SYSTEM Free --json").out)["rval"], 1);
}

// ---- vmcfg shell

TEST_F(VmcfgForms, ShellAnswersEachLineWithTheModuleKeptLoaded) {
    ASSERT_EQ(run("init").status, 0);
    writeFile("/requests",
              "# add, read back, remove\n"
              "2 add COS 'COS Shell' \"\" R W R W - - - - - - - - y 3 1\n"
              "\n"
              "2 get COS 'COS Shell'\n"
              "2 rem COS COS\\ Shell\n"
              "2 get COS 'COS Shell'\n"
              "2 get 'unclosed\n"
              "7 get COS\n");
    Outcome o = run("--json shell < " + hostPath("/requests"));
    EXPECT_EQ(o.status, 2) << o.err;
    std::vector<Json> answers;
    std::istringstream lines(o.out);
    for (String line; std::getline(lines, line);) answers.push_back(Json::parse(line));
    ASSERT_EQ(answers.size(), 6u) << o.out;
    EXPECT_EQ(answers[0]["result"], 0);
    EXPECT_EQ(answers[1]["fields"][1], "COS Shell");
    EXPECT_EQ(answers[1]["fields"][15], "y");
    EXPECT_EQ(answers[2]["result"], 0);
    EXPECT_EQ(answers[3]["ecode"], 2);
    EXPECT_EQ(answers[4]["line"], 7);
    EXPECT_NE(answers[4]["error"].get<String>().find("not closed"), String::npos);
    EXPECT_EQ(answers[5]["line"], 8);
    EXPECT_NE(o.err.find("line 8: the module has no form 7"), String::npos) << o.err;
}

// ---- vmcfg known

TEST_F(VmcfgForms, KnownListPagesThroughEveryKind) {
    demo();
    Outcome o = run("known list system");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("SRV  PRV  TRU  STD  RES  MIN  FWD  VER  TYPE"), String::npos) << o.out;
    EXPECT_NE(o.out.find("System Greeting Length          RW   RW   RW   R-   R-   R-   n  1    0"),
              String::npos)
        << o.out;
    // MESSAGE: eleven fixed names and three from the defaults file.
    for (auto [kind, count] : {std::pair<String, std::size_t>{"SYSTEM", 5},
                               {"message", 14},
                               {"Cos", 4},
                               {"SUBSCRIBER", 3}}) {
        Json list = json("known list " + kind);
        EXPECT_EQ(list.size(), count) << kind << ": " << list.dump();
    }
    EXPECT_EQ(json("known list COS")[0],
              Json::parse(R"({"name": "COS Greeting Length", "read": ["server", "privileged",
                  "trusted", "standard", "restricted", "minimal"], "write": ["server",
                  "privileged"], "forwardable": false, "version": 1, "type": 0})"));
}

TEST_F(VmcfgForms, KnownAddChangeRemove) {
    demo();
    const String pin = " SUBSCRIBER 'Subscriber Pin Length'";
    Json added = json("known add" + pin +
                      " --read standard --write server,privileged --version 2 "
                      "--type 3")[0];
    EXPECT_EQ(added, Json::parse(R"({"name": "Subscriber Pin Length", "read": ["server",
        "privileged", "trusted", "standard"], "write": ["server", "privileged"],
        "forwardable": false, "version": 2, "type": 3})"));
    EXPECT_NE(readFile("/VM/config/SubscriberPropertyDefaults").find("Subscriber Pin Length"),
              String::npos);
    // A change starts from the current attributes and changes only those named.
    Json changed = json("known change" + pin + " --forwardable")[0];
    added["forwardable"] = true;
    EXPECT_EQ(changed, added);
    changed = json("known change" + pin + " --read none --no-forwardable")[0];
    added["forwardable"] = false;
    added["read"] = Json::array();
    EXPECT_EQ(changed, added);
    EXPECT_EQ(json("known check" + pin, 1)["free"], false);
    EXPECT_EQ(json("known remove" + pin),
              (Json{{"kind", "SUBSCRIBER"}, {"name", "Subscriber Pin Length"}, {"removed", true}}));
    EXPECT_EQ(json("known check" + pin)["free"], true);
    EXPECT_EQ(json("known add COS 'COS New' --version 256", 1),
              (Json{{"error", "field 16 (version): the number is out of range"},
                    {"exit", 1},
                    {"form", 2},
                    {"op", "add"},
                    {"ecode", 9003},
                    {"field_no", 16}}));
}

class VmcfgFormCases : public VmcfgForms, public ::testing::WithParamInterface<FormCase> {};

TEST_P(VmcfgFormCases, AnswersWithItsStatus) {
    const FormCase& c = GetParam();
    demo();
    Outcome o = run(c.command);
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    EXPECT_NE(o.err.find(c.err), String::npos) << o.err;
    if (*c.then) o = run(c.then);
    EXPECT_NE(o.out.find(c.out), String::npos) << o.out;
    if (*c.hides) {
        EXPECT_EQ(o.out.find(c.hides), String::npos) << o.out;
    }
    EXPECT_TRUE(listDirectory("/vm/tmp").empty()) << "no hand-off file left";
}

INSTANTIATE_TEST_SUITE_P(Table, VmcfgFormCases, ::testing::ValuesIn(kFormCases),
                         [](const auto& info) { return String(info.param.id); });

}  // namespace

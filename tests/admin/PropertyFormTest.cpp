// Form 2 and the field handling it shares with form 1.

#include <gtest/gtest.h>

#include <filesystem>

#include "properties/COSProperties.h"
#include "properties/SystemProperties.h"
#include "tests/admin/AdminFixture.h"

namespace {

using A = PropertyAttributes;

const String kSysLang = "QRT SYSTEM supported languages";

class PropertyForm : public AdminFixture {
  protected:
    void SetUp() override {
        AdminFixture::SetUp();
        // Hidden: no class, not even Server, may read it.
        writeDefaults(SystemProperties::defaultsPath, {{"Greeting", A::Minimal, A::Trusted},
                                                       {"Hidden", A::Server, A::Server, false}});
    }
    AdmAnswer get(const String& kind, const String& name) {
        return request(2, AdmOp::get, {{0, kind}, {1, name}, {2, ""}});
    }
    String flags() const {
        String text;
        for (int f = 3; f <= 14; ++f) text += reply(f);
        return text;
    }
};

// One request on the defaults above and its outputs.
struct Outcome {
    const char* id;
    AdmOp op;
    std::map<int, String> fields;
    std::vector<int> unreadable;
    AdmAnswer expected;
};

const auto kAdd = AdminFixture::attributeFields("SYSTEM", "New");
std::map<int, String> with(std::map<int, String> fields, int field, const String& text) {
    fields[field] = text;
    return fields;
}

const Outcome kOutcomes[] = {
    {"GetFound", AdmOp::get, {{0, "SYSTEM"}, {1, "Greeting"}}, {}, {0, 2, 0, -1}},
    {"GetLowerCaseSelector", AdmOp::get, {{0, "system"}, {1, kSysLang}}, {}, {0, 2, 0, -1}},
    {"GetUnreadableByServer", AdmOp::get, {{0, "SYSTEM"}, {1, "Hidden"}}, {}, {0, 2, 0, -1}},
    {"GetMissing", AdmOp::get, {{0, "SYSTEM"}, {1, "Nothing"}}, {}, {1023, 3, 2, -1}},
    {"GetEmptyName", AdmOp::get, {{0, "SYSTEM"}}, {}, {1023, 3, 2, -1}},
    {"GetUnknownSelector", AdmOp::get, {{0, "USER"}, {1, "Greeting"}}, {}, {1023, 3, 1, -1}},
    {"GetSelectorUnreadable", AdmOp::get, {{1, "Greeting"}}, {0}, {1023, 3, 1, -1}},
    {"GetNameUnreadable", AdmOp::get, {{0, "SYSTEM"}}, {2}, {1023, 3, 1, -1}},
    {"AddvFree", AdmOp::addv, {{0, "SYSTEM"}, {1, "New"}}, {}, {0, 1, 0, -1}},
    {"AddvEmptyName", AdmOp::addv, {{0, "SYSTEM"}}, {}, {0, 1, 0, -1}},
    {"AddvTaken", AdmOp::addv, {{0, "SYSTEM"}, {1, "Greeting"}}, {}, {1023, 3, 3, -1}},
    {"AddvTakenUnreadable", AdmOp::addv, {{0, "SYSTEM"}, {1, "Hidden"}}, {}, {1023, 3, 3, -1}},
    {"AddvNameUnreadable", AdmOp::addv, {{0, "SYSTEM"}}, {1}, {1023, 3, 1, -1}},
    {"Add", AdmOp::add, kAdd, {}, {0, 1, 0, -1}},
    {"ChgOfMissingAdds", AdmOp::chg, kAdd, {}, {0, 1, 0, -1}},
    {"AddEmptyName", AdmOp::add, with(kAdd, 1, ""), {}, {1023, 3, 1, -1}},
    {"AddUnknownSelector", AdmOp::add, with(kAdd, 0, "USER"), {}, {1023, 3, 1, -1}},
    {"AddFlagUnreadable", AdmOp::add, kAdd, {8}, {1023, 3, 1, 8}},
    {"AddForwardableUnreadable", AdmOp::add, kAdd, {15}, {1023, 3, 1, 15}},
    {"AddVersion256", AdmOp::add, with(kAdd, 16, "256"), {}, {1023, 3, ADM_OUT_OF_RANGE, 16}},
    {"AddVersionBlank", AdmOp::add, with(kAdd, 16, ""), {}, {1023, 3, ADM_NOT_A_NUMBER, 16}},
    {"AddTypeNotANumber", AdmOp::add, with(kAdd, 17, "x"), {}, {1023, 3, ADM_NOT_A_NUMBER, 17}},
    {"RemMissing", AdmOp::rem, {{0, "SYSTEM"}, {1, "Nothing"}}, {}, {1023, 3, 2, -1}},
    {"RemEmptyName", AdmOp::rem, {{0, "SYSTEM"}}, {}, {1023, 3, 2, -1}},
    {"RemFixedTableName", AdmOp::rem, {{0, "SYSTEM"}, {1, kSysLang}}, {}, {1023, 3, 4, -1}},
    {"ListIsTheFrameworks", AdmOp::list, {{0, "SYSTEM"}}, {}, {1023, 3, ADM_NOT_SUPPORTED, -1}},
};

class PropertyFormOutcome : public PropertyForm, public ::testing::WithParamInterface<Outcome> {};

TEST_P(PropertyFormOutcome, AnswersAsTheTableSays) {
    const Outcome& c = GetParam();
    AdmAnswer a = request(2, c.op, c.fields, c.unreadable);
    EXPECT_EQ(codes(a), codes(c.expected));
    if (c.op != AdmOp::list) {
        EXPECT_EQ(replySize(), 18);
    }
    // A failed request writes nothing; a failed get leaves fields 3 to 17 empty.
    if (a.result != 0 && c.op == AdmOp::get) {
        for (int f = 3; f < 18; ++f) EXPECT_EQ(reply(f), "") << f;
    }
    if (a.result != 0 && c.op != AdmOp::rem) {
        EXPECT_EQ(get("SYSTEM", "New").ecode, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PropertyFormOutcome, ::testing::ValuesIn(kOutcomes),
                         [](const auto& info) { return String(info.param.id); });

TEST_F(PropertyForm, GetWritesTheReplyFieldsAndItsTraces) {
    get("system", "Greeting");
    EXPECT_EQ(reply(0), "SYSTEM");
    EXPECT_EQ(reply(1) + "|" + reply(2) + "|" + flags() + "|" + reply(15) + reply(16) + reply(17),
              "Greeting||RWRWRWR-R-R-|n10");
    EXPECT_TRUE(traces->contains(3, "fid_property get(Greeting, PropertyAttributes::Server)"));
    traces->clear();
    get("user", "Greeting");
    EXPECT_EQ(reply(0), "USER");
    for (const auto& [level, text] : traces->messages()) EXPECT_EQ(level, 3) << text;
}

TEST_F(PropertyForm, AddReplacesWholeAndSavesTheDefaultsFile) {
    // "r" and "Y" clear their flags; Privileged's "Read" gives Server the right too.
    auto fields =
        with(attributeFields("SYSTEM", "Greeting", "rW----------", "Y", "7", "3"), 5, "Read");
    ASSERT_EQ(request(2, AdmOp::add, fields).result, 0);
    EXPECT_TRUE(traces->contains(3, "fid_property_base - write_to_file() SUCCEEDS"));
    Property stored;
    ASSERT_TRUE(storedProperty(SystemProperties::defaultsPath, "Greeting", stored));
    EXPECT_EQ(String(stored.value), "");
    EXPECT_FALSE(stored.attributes.server_known());
    get("SYSTEM", "Greeting");
    EXPECT_EQ(flags() + reply(15) + reply(16) + reply(17), "RWR---------n73");
}

TEST_F(PropertyForm, RemovedPropertiesAreGoneFromTheFile) {
    ASSERT_EQ(request(2, AdmOp::rem, {{0, "SYSTEM"}, {1, "Greeting"}}).result, 0);
    EXPECT_EQ(get("SYSTEM", "Greeting").ecode, 2);
    Property stored;
    EXPECT_FALSE(storedProperty(SystemProperties::defaultsPath, "Greeting", stored));
    request(2, AdmOp::rem, {{0, "SYSTEM"}, {1, kSysLang}});
    EXPECT_TRUE(traces->contains(1, "REMOVE_NO_PERMISSSION - should be able to happen"));
}

TEST_F(PropertyForm, NamesOver70CharactersSpanTwoFields) {
    for (const String& name : {String(70, 'a'), String(70, 'b') + "c"}) {
        ASSERT_EQ(request(2, AdmOp::add, attributeFields("COS", name)).result, 0);
        ASSERT_EQ(
            request(2, AdmOp::get, {{0, "COS"}, {1, name.substr(0, 70)}, {2, name.substr(70)}})
                .result,
            0);
        EXPECT_EQ(reply(1), name.substr(0, 70));
        EXPECT_EQ(reply(2), name.substr(70));
    }
}

TEST_F(PropertyForm, ADefaultsFileEditedByHandIsRereadAtTheNextRequest) {
    ASSERT_EQ(get("SYSTEM", "Greeting").result, 0);
    writeDefaults(SystemProperties::defaultsPath, {{"Edited"}});
    EXPECT_EQ(get("SYSTEM", "Edited").result, 0);
    EXPECT_EQ(get("SYSTEM", "Greeting").ecode, 2);
}

TEST_F(PropertyForm, AFailedSaveDoesNotFailTheAdd) {
    std::filesystem::remove_all(hostPath("/VM/config"));
    writeFile("/VM/config", "a file where the directory was");
    EXPECT_EQ(request(2, AdmOp::add, attributeFields("MESSAGE", "Unsaved")).result, 0);
    EXPECT_TRUE(traces->contains(3, "fid_property_base - write_to_file() FAILS"));
}

}  // namespace

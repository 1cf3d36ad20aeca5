#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "admin/Fid_cugf.h"
#include "host/platform/FaultInjector.h"
#include "platform/FileSystem.h"
#include "properties/SystemProperties.h"
#include "tests/admin/AdminFixture.h"
#include "tests/properties/StoreTesting.h"

namespace {

using A = PropertyAttributes;
const char* const kDelivery = "ORVEX DISABLE MESSAGE DELIVERY";

// Form 3 on a root with "/VM/config" and a stand-in feature command first on
// the PATH that exits with the status written in "/mkgf_status" (0 when none).
class FeatureForm : public AdminFixture {
  protected:
    void SetUp() override {
        AdminFixture::SetUp();
        FileSystem::makeDirectories("/VM/config");
        writeFile("/bin/mkgf_act",
                  "#!/bin/sh\nexit $(cat \"$VM_ROOT/mkgf_status\" 2>/dev/null || echo 0)\n");
        ::chmod(hostPath("/bin/mkgf_act").c_str(), 0755);
        savedPath_ = std::getenv("PATH");
        ::setenv("PATH", (hostPath("/bin") + ":" + savedPath_).c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", savedPath_.c_str(), 1);
        AdminFixture::TearDown();
    }
    void setDelivery(char value) {
        SystemProperties set;
        Property p = make(kDelivery, 1, String(1, value), {A::Standard});
        ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
        ASSERT_TRUE(set.save());
    }
    String delivery() {
        SystemProperties set;
        return valueAt(set, kDelivery);
    }
    String savedPath_;
};

// The form reads the parameter file at the first get of a process and keeps
// that reader: ctest runs each test in a process of its own.
TEST_F(FeatureForm, GetListsAllSevenRowsWithoutAnEndMark) {
    AdmAnswer all = request(3, AdmOp::get, {});
    EXPECT_EQ(codes(all), (std::vector<int>{0, 2, 0, 0}));
    for (int row = 0; row < 7; ++row) {
        EXPECT_EQ(reply(3 * row + 1), std::to_string(row));
        EXPECT_EQ(reply(3 * row + 2), Fid_cugf::features[row].question);
        EXPECT_EQ(reply(3 * row + 3), "n");
    }
    EXPECT_EQ(replySize(), 22);
}

TEST_F(FeatureForm, CdrParameterTakesRowOneOffAndMovesTheRestUp) {
    writeFile("/VM/config/config_params",
              "precedence global default\nglobal default : (Number of CDR Files)=4\n");
    writeFile("/VM/config/tan_mbx", "x\n");
    ASSERT_EQ(request(3, AdmOp::get, {}).result, 0);
    EXPECT_EQ(reply(4), "2");
    EXPECT_EQ(reply(6), "y");
    EXPECT_EQ(reply(16), "6");
    EXPECT_EQ(reply(19), "") << "blank end mark";
    EXPECT_EQ(replySize(), 21);
    EXPECT_EQ(Fid_cugf::curr_setting[1], 'y');
    EXPECT_EQ(Fid_cugf::curr_setting[2], 'y');
}

// The feature command gives the run token up while it runs; a second
// confirmed change must still wait for the first to leave the region.
TEST_F(FeatureForm, ConfirmedChangesInTwoThreadsRunOneAfterTheOther) {
    writeFile("/bin/mkgf_act",
              "#!/bin/sh\necho start >> \"$VM_ROOT/log\"; sleep 0.2; "
              "echo end >> \"$VM_ROOT/log\"\n");
    ASSERT_EQ(request(3, AdmOp::get, {}).result, 0);
    token_.reset();  // the threads take turns with the run token
    auto change = [this](const char* row) {
        RunTokenHolder token;
        Buffer buffer;
        for (auto [field, text] : {std::pair{0, "confirm"}, {1, row}, {3, "y"}})
            buffer.set_field(field, text);
        AdmAnswer a = adm_request(*adm_find(Forms, 3)->form, AdmOp::chg, buffer);
        EXPECT_EQ(a.result, 0) << row;
    };
    std::thread first(change, "3"), second(change, "4");
    first.join();
    second.join();
    token_ = std::make_unique<RunTokenHolder>();
    EXPECT_EQ(readFile("/log"), "start\nend\nstart\nend\n");
}

struct Change {
    const char* name;
    std::vector<const char*> markers;  // present before the get
    std::map<int, String> fields;
    int result, rval, ecode, field_no;
    std::vector<const char*> after;  // markers present afterwards
    int commandStatus = 0;
    int deliveryBefore = -1;  // -1: no such system property
    String deliveryAfter = "<none>";
};

const char* const kCad = "/VM/config/cadisc";
const char* const kTan = "/VM/config/tan_mbx";
const char* const kDel = "/VM/config/dismsgdel";
const String kConfirm = "confirm";
const String kNul(1, '\0');

const Change kChanges[] = {
    {"NothingChanges", {kCad}, {{1, "0"}, {3, "y"}}, 0, 0, 0, 5, {kCad}},
    {"TwoChanges", {}, {{1, "0"}, {3, "y"}, {4, "3"}, {6, "y"}}, 1023, 3, 5, -1, {}},
    {"RowAfterTheBlank", {}, {{1, "0"}, {3, "y"}, {7, "3"}}, 1023, 3, 10, 7, {}},
    {"BadSetting", {}, {{1, "0"}, {3, "maybe"}}, 1023, 3, 9, 3, {}},
    {"FirstRequestAsksOn", {}, {{1, "2"}, {3, "y"}}, 1037, 4, 7, 0, {}},
    {"FirstRequestAsksOff", {kCad}, {{1, "0"}, {3, "n"}}, 1037, 4, 6, 0, {kCad}},
    {"ConfirmedOn", {}, {{0, kConfirm}, {1, "2"}, {3, "y"}}, 0, 2, 0, 0, {kTan}},
    {"ConfirmedOff", {kCad}, {{0, kConfirm}, {1, "0"}, {3, "n"}}, 0, 2, 0, 0, {}},
    {"Incompatible", {kCad}, {{0, kConfirm}, {1, "2"}, {3, "y"}}, 1023, 3, 8, -1, {kCad}},
    {"CommandFails", {}, {{0, kConfirm}, {1, "2"}, {3, "y"}}, -1, 3, 1, 0, {kTan}, 3},
    {"DeliveryOn", {}, {{0, kConfirm}, {1, "5"}, {3, "y"}}, 0, 2, 0, 0, {kDel}, 0, 0, "\x01"},
    // The delivery property is switched off even when the command fails.
    {"DeliveryOffAnyway", {kDel}, {{0, kConfirm}, {1, "5"}, {3, "n"}}, -1, 3, 1, 0, {}, 3, 1, kNul},
    {"DeliveryPropertyMissing", {}, {{0, kConfirm}, {1, "5"}, {3, "y"}}, 1190, 2, 0, 0, {kDel}},
};

class FeatureChange : public FeatureForm, public ::testing::WithParamInterface<Change> {};

TEST_P(FeatureChange, AnswersAndLeavesTheMarkers) {
    const Change& c = GetParam();
    for (const char* marker : c.markers) writeFile(marker, "on\n");
    if (c.deliveryBefore >= 0) setDelivery(static_cast<char>(c.deliveryBefore));
    writeFile("/mkgf_status", std::to_string(c.commandStatus) + "\n");
    ASSERT_EQ(request(3, AdmOp::get, {}).result, 0);
    AdmAnswer a = request(3, AdmOp::chg, c.fields);
    // -1: errno, whatever it is
    EXPECT_EQ(codes(a), (std::vector<int>{c.result == -1 ? a.result : c.result, c.rval, c.ecode,
                                          c.field_no}));
    if (a.result == 1037) {
        EXPECT_EQ(reply(0), "confirm");
    }
    for (const char* marker : {kCad, kTan, kDel}) {
        bool expected = std::find(c.after.begin(), c.after.end(), marker) != c.after.end();
        EXPECT_EQ(FileSystem::exists(marker), expected) << marker;
    }
    if (FileSystem::exists(kTan)) {
        EXPECT_EQ(readFile(kTan), "Marker file for Tandem Mailbox custom \n");
    }
    EXPECT_EQ(delivery(), c.deliveryAfter);
}

// A system set that cannot be saved fails the change with 1190, traced at
// the form's progress level like the get and put failures beside it.
TEST_F(FeatureForm, ASystemSetThatCannotBeSavedFailsTheChange) {
    setDelivery('\0');
    ASSERT_EQ(request(3, AdmOp::get, {}).result, 0);
    FaultInjector::add(FaultOp::Rename, ENOSPC, "sys_prop_db", 0, -1);
    AdmAnswer a = request(3, AdmOp::chg, {{0, kConfirm}, {1, "5"}, {3, "y"}});
    FaultInjector::clear();
    EXPECT_EQ(codes(a), (std::vector<int>{1190, 2, 0, 0}));
    EXPECT_EQ(delivery(), kNul);
    EXPECT_TRUE(traces->contains(2, "properties.write_to_file() failed!"));
}

INSTANTIATE_TEST_SUITE_P(Table, FeatureChange, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return String(info.param.name); });

}  // namespace

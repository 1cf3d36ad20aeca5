// Form 1: pages of four known properties, continued by sending back the
// fourth entry's name.

#include <gtest/gtest.h>

#include "properties/COSProperties.h"
#include "tests/admin/AdminFixture.h"

namespace {

using A = PropertyAttributes;
using Names = std::vector<String>;

class ListForm : public AdminFixture {
  protected:
    // Known properties of the class-of-service kind (it has no fixed table).
    void knowns(const Names& names) {
        std::vector<KnownSpec> knowns;
        for (const String& name : names) knowns.push_back({name});
        writeDefaults(COSProperties::defaultsPath, knowns);
    }
    // A page and the names of its entries (checking that the rest is empty).
    Names page(AdmAnswer& a, const String& after1 = "", const String& after2 = "") {
        a = request(1, AdmOp::list, {{0, "cos"}, {52, after1}, {53, after2}});
        Names found;
        int base = 0;
        for (; base <= 51 && !reply(base + 1).empty(); base += 17)
            found.push_back(reply(base + 1) + reply(base + 2));
        for (int f = base + 1; f < 69; ++f) EXPECT_EQ(reply(f), "") << f;
        return found;
    }
    Names next(AdmAnswer& a) { return page(a, reply(52), reply(53)); }
};

TEST_F(ListForm, FourPropertiesMakeAFullPageThenAnEmptyLastOne) {
    knowns({"P1", "P2", "P3", "P4"});
    AdmAnswer a;
    EXPECT_EQ(page(a), (Names{"P1", "P2", "P3", "P4"}));
    EXPECT_EQ(replySize(), 69);
    EXPECT_EQ(reply(0), "COS");
    EXPECT_EQ((std::vector<int>{a.result, a.rval, a.ecode, a.field_no}),
              (std::vector<int>{0, 2, 501, -1}));
    EXPECT_TRUE(next(a).empty());
    EXPECT_EQ((std::vector<int>{a.result, a.rval, a.ecode}), (std::vector<int>{0, 2, 0}));
}

TEST_F(ListForm, SixPropertiesMakePagesOfFourAndTwo) {
    knowns({"P1", "P2", "P3", "P4", "P5", "P6"});
    AdmAnswer a;
    EXPECT_EQ(page(a).size(), 4u);
    EXPECT_EQ(next(a), (Names{"P5", "P6"}));
    EXPECT_EQ(a.ecode, 0);
    EXPECT_TRUE(traces->contains(3,
                                 "fid_list_properties - i=4, get_next(P4, "
                                 "PropertyAttributes::Server)"));
    EXPECT_TRUE(traces->contains(3,
                                 "fid_list_properties - i=2, get_next(P6, "
                                 "PropertyAttributes::Server)"));
}

TEST_F(ListForm, AnEmptyKnownSetGivesAnEmptyLastPage) {
    AdmAnswer a;
    EXPECT_TRUE(page(a).empty());
    EXPECT_EQ((std::vector<int>{a.result, a.ecode}), (std::vector<int>{0, 0}));
}

TEST_F(ListForm, ALong4thNameTravelsInTwoFieldsAndTheListingContinuesAfterIt) {
    String longName = "P4" + String(69, 'x');  // 71 characters
    knowns({"P1", "P2", "P3", longName, "P5"});
    AdmAnswer a;
    EXPECT_EQ(page(a).back(), longName);
    EXPECT_EQ(reply(53), "x");
    EXPECT_EQ(next(a), (Names{"P5"}));
}

TEST_F(ListForm, PropertiesNoClassMayReadAreListedWithTheirFlags) {
    writeDefaults(COSProperties::defaultsPath,
                  {{"Closed", A::Server, A::Server, false}, {"Open", A::Minimal, A::Privileged}});
    AdmAnswer a;
    EXPECT_EQ(page(a), (Names{"Closed", "Open"}));
    String entries;
    for (int f = 3; f <= 34; ++f) entries += reply(f);
    EXPECT_EQ(entries,
              "-W----------n10"
              "OpenRWRWR-R-R-R-n10");
}

TEST_F(ListForm, BadRequestsFail) {
    knowns({"P1"});
    AdmAnswer a;
    page(a, "Gone");
    EXPECT_EQ((std::vector<int>{a.result, a.rval, a.ecode}), (std::vector<int>{1023, 3, 1}));
    EXPECT_TRUE(traces->contains(2, "can't find property:  Gone"));
    for (const auto& [selector, unreadable] : std::vector<std::pair<String, std::vector<int>>>{
             {"USER", {}}, {"COS", {0}}, {"COS", {52}}, {"COS", {53}}}) {
        a = request(1, AdmOp::list, {{0, selector}}, unreadable);
        EXPECT_EQ((std::vector<int>{a.result, a.rval, a.ecode}), (std::vector<int>{1023, 3, 1}));
    }
    EXPECT_EQ(request(1, AdmOp::rem, {{0, "COS"}, {1, "P1"}}).ecode, ADM_NOT_SUPPORTED);
}

}  // namespace

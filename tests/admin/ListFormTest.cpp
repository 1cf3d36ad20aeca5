// Form 1: pages of four known properties.

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

// Each page continues after the previous page's fourth name (a long one in
// two fields); a full page says more may follow, a shorter one ends the list.
TEST_F(ListForm, PagesOfFourContinueAfterTheFourthName) {
    const String longName = "P4" + String(69, 'x');  // 71 characters
    const struct {
        const char* label;
        Names knowns;
        std::vector<Names> pages;
    } cases[] = {
        {"Empty", {}, {{}}},  // first: a fresh root without a defaults file
        {"Four", {"P1", "P2", "P3", "P4"}, {{"P1", "P2", "P3", "P4"}, {}}},
        {"Six", {"P1", "P2", "P3", "P4", "P5", "P6"}, {{"P1", "P2", "P3", "P4"}, {"P5", "P6"}}},
        {"LongFourth", {"P1", "P2", "P3", longName, "P5"}, {{"P1", "P2", "P3", longName}, {"P5"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (!c.knowns.empty()) knowns(c.knowns);
        AdmAnswer a;
        for (std::size_t i = 0; i < c.pages.size(); ++i) {
            EXPECT_EQ(i == 0 ? page(a) : next(a), c.pages[i]) << "page " << i;
            EXPECT_EQ(replySize(), 69);
            EXPECT_EQ(reply(0), "COS");
            bool full = c.pages[i].size() == 4;
            EXPECT_EQ(codes(a, 3), (std::vector<int>{0, 2, full ? 501 : 0}));
            if (full) {
                EXPECT_EQ(a.field_no, -1);
            }
        }
    }
    for (const char* step : {"i=4, get_next(P4, ", "i=2, get_next(P6, "})
        EXPECT_TRUE(traces->contains(
            3, "fid_list_properties - " + String(step) + "PropertyAttributes::Server)"));
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
    EXPECT_EQ(codes(a, 3), (std::vector<int>{1023, 3, 1}));
    EXPECT_TRUE(traces->contains(2, "can't find property:  Gone"));
    for (const auto& [selector, unreadable] : std::vector<std::pair<String, std::vector<int>>>{
             {"USER", {}}, {"COS", {0}}, {"COS", {52}}, {"COS", {53}}}) {
        a = request(1, AdmOp::list, {{0, selector}}, unreadable);
        EXPECT_EQ(codes(a, 3), (std::vector<int>{1023, 3, 1}));
    }
    EXPECT_EQ(request(1, AdmOp::rem, {{0, "COS"}, {1, "P1"}}).ecode, ADM_NOT_SUPPORTED);
}

}  // namespace

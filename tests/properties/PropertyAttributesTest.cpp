#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "properties/PropertyAttributes.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using Access = PropertyAttributes::AccessType;
constexpr Access All[] = {PropertyAttributes::Server,     PropertyAttributes::Privileged,
                          PropertyAttributes::Standard,   PropertyAttributes::Trusted,
                          PropertyAttributes::Restricted, PropertyAttributes::Minimal};

const auto text = textOf<PropertyAttributes>;

PropertyAttributes parse(const String& line) {
    PropertyAttributes a;
    std::istringstream in(line);
    in.unsetf(std::ios::skipws);
    in >> a;
    EXPECT_FALSE(in.fail()) << line;
    return a;
}

// One character per class in AccessType order (0..5): '1' granted.
String grants(const PropertyAttributes& a, bool write) {
    String result;
    for (Access t : All) result += (write ? a.writeable(t) : a.readable(t)) ? '1' : '0';
    return result;
}

}  // namespace

class PropertyAttributesTest : public PlatformFixture {};

// A right held by one class is held by every class before it in the chain
// Server, Privileged, Trusted, Standard, Restricted, Minimal; each class has a
// read and a write bit of its own in the record.
TEST_F(PropertyAttributesTest, RightsFollowThePrivilegeChain) {
    struct Case {
        Access who;
        bool write;
        const char* readable;  // AccessType order: S P Std T R M
        const char* writeable;
        const char* record;
    } cases[] = {
        {PropertyAttributes::Minimal, false, "111111", "000000", "5 0 10 0 3 0 "},
        // Minimal's write bit is stored but never granted.
        {PropertyAttributes::Minimal, true, "000000", "000000", "5 0 20 0 3 0 "},
        {PropertyAttributes::Standard, true, "000000", "111100", "5 20 0 0 3 0 "},
        {PropertyAttributes::Trusted, false, "110100", "000000", "5 40 0 0 3 0 "},
        {PropertyAttributes::Restricted, true, "000000", "111110", "5 0 8 0 3 0 "},
        {PropertyAttributes::Privileged, true, "000000", "110000", "5 8 0 0 3 0 "},
        {PropertyAttributes::Server, false, "100000", "000000", "5 1 0 0 3 0 "},
    };
    PropertyAttributes none;
    EXPECT_EQ(grants(none, false) + grants(none, true), "000000000000");
    EXPECT_EQ(text(none), "5 0 0 0 3 0 ");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.who << " write=" << c.write);
        PropertyAttributes a;
        c.write ? a.set_writeable(c.who, true) : a.set_readable(c.who, true);
        EXPECT_EQ(grants(a, false), c.readable);
        EXPECT_EQ(grants(a, true), c.writeable);
        EXPECT_EQ(text(a), c.record);
    }
    // Unknown classes get nothing and map to Standard's bits.
    PropertyAttributes all;
    all = String("\xff\x3f\0\3\0", 5);
    for (int t : {6, 7, 100, -1}) {
        EXPECT_FALSE(all.readable(static_cast<Access>(t))) << t;
        EXPECT_FALSE(all.writeable(static_cast<Access>(t))) << t;
        EXPECT_EQ(PropertyAttributes::bitbase(static_cast<Access>(t)), 4) << t;
    }
}

TEST_F(PropertyAttributesTest, FieldsLandInTheirBytes) {
    PropertyAttributes a;
    a.set_readable(PropertyAttributes::Server, true);
    a.set_writeable(PropertyAttributes::Server, true);
    a.set_version(1);
    EXPECT_EQ(text(a), "5 3 0 1 3 0 ");
    a.set_server_known(true);
    a.set_forwardable(true);
    a.set_version(200);
    a.set_type(-2);
    EXPECT_EQ(a.type(), -2);
    EXPECT_EQ(text(a), "5 3 3 c8 3 fe ");
    a.set_type(0x1ff);  // only the low byte is kept, read back sign-extended
    EXPECT_EQ(a.type(), -1);
    a.set_forwardable(false);
    EXPECT_TRUE(a.server_known());
    EXPECT_EQ(a.version(), 200);
}

// A record longer than the five bytes known here (as a newer writer may
// store it) survives reads, copies, set_defaults and shorter rewrites, which
// replace only its front; assigning a whole record replaces it all.
TEST_F(PropertyAttributesTest, LongerRecordsAreKeptWholeAndAShorterOneReplacesTheirFront) {
    const std::pair<String, String> cases[] = {
        {"7 53 15 1 3 2 aa bb ", "7 3 1 1 3 2 aa bb "},
        {"12 53 15 1 3 2 aa bb cc dd ee ff 10 ", "12 3 1 1 3 2 aa bb cc dd ee ff 10 "}};
    for (const auto& [line, rewritten] : cases) {
        SCOPED_TRACE(line);
        PropertyAttributes a = parse(line);
        EXPECT_EQ(text(a), line);
        EXPECT_EQ(a.version(), 1);
        EXPECT_EQ(a.type(), 2);
        EXPECT_TRUE(a.server_known());
        EXPECT_FALSE(a.forwardable());
        PropertyAttributes copy = a;
        std::istringstream in("2 3 1 ");
        in >> a;
        EXPECT_EQ(text(a), rewritten);
        EXPECT_EQ(text(copy), line) << "a copy keeps bytes of its own";
        PropertyAttributes target;
        target.set_writeable(PropertyAttributes::Minimal, true);
        target.set_defaults(copy);
        EXPECT_EQ(String(target), String(copy));
        target = String("\3\0\1\3\0", 5);
        EXPECT_EQ(text(target), "5 3 0 1 3 0 ");
    }
    EXPECT_TRUE(traces->contains(3,
                                 "PropertyAttributes::<< number of attributes bytes (7) > "
                                 "expected (5)"));
    PropertyAttributes target = parse("7 53 15 1 3 2 aa bb ");
    PropertyAttributes shortSource;
    shortSource.set_readable(PropertyAttributes::Minimal, true);
    target.set_defaults(shortSource);
    EXPECT_EQ(text(target), "7 0 10 0 3 0 aa bb ");
    EXPECT_TRUE(target.readable(PropertyAttributes::Server));
}

TEST_F(PropertyAttributesTest, OldLevelsAreUpgradedOnRead) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"5 0 0 7 2 9 ", "5 c0 14 7 3 9 "},   // level 2 keeps the type
        {"5 0 28 1 2 0 ", "5 c0 14 1 3 0 "},  // Restricted/Minimal write bits dropped
        {"5 0 0 7 1 9 ", "5 c0 14 7 3 0 "},   // level 1 loses the type
        {"5 3 0 7 0 9 ", "5 c3 14 7 3 0 "},
        {"5 ff 3f 7 5 9 ", "5 ff 3f 7 5 9 "},  // unknown levels stay as read
        {"5 1 0 7 ff 9 ", "5 1 0 7 ff 9 "},
        {"5 1 0 7 3 9 ", "5 1 0 7 3 9 "},
    };
    for (const Case& c : cases) EXPECT_EQ(text(parse(c.in)), c.out) << c.in;
    PropertyAttributes upgraded = parse("5 0 0 7 2 9 ");
    EXPECT_EQ(grants(upgraded, false), "111111");
    EXPECT_EQ(grants(upgraded, true), "110100");
}

TEST_F(PropertyAttributesTest, BadRecordsFailTheStream) {
    for (const char* bad : {"x", "5 3 zz 0 3 0 ", "5 3 0", "1000000000000000 1 2 ", "5 3 10000 "}) {
        PropertyAttributes a;
        std::istringstream in(bad);
        in.unsetf(std::ios::skipws);
        in >> a;
        EXPECT_TRUE(in.fail()) << bad;
        EXPECT_LE(a.length(), 5u) << bad;
        // The stream is left in decimal for whatever reads next.
        EXPECT_FALSE(in.flags() & std::ios::hex) << bad;
    }
}

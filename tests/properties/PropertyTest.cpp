#include <gtest/gtest.h>

#include <sstream>

#include "properties/Property.h"
#include "properties/PropertyValueFile.h"
#include "tests/testing/PlatformFixture.h"

namespace {

String text(const Property& p) {
    std::ostringstream out;
    out << p;
    return out.str();
}

Property make(const String& name, std::uint32_t index, const String& value) {
    Property p;
    p.name = Symbol(name);
    p.index = index;
    p.value.modify(value, 0);
    return p;
}

Property greeting() {
    Property p = make("Greeting", 1, "hello");
    p.attributes.set_readable(PropertyAttributes::Server, true);
    p.attributes.set_writeable(PropertyAttributes::Server, true);
    p.attributes.set_version(1);
    return p;
}

// A property whose attribute record is read from text.
Property withRecord(const String& name, const String& record) {
    Property p = make(name, 1, "v");
    std::istringstream in(record);
    in >> p.attributes;
    return p;
}

}  // namespace

class PropertyTest : public PlatformFixture {
  protected:
    std::vector<String> tempFiles() const { return listDirectory("/vm/tmp"); }
};

// A record is three lines; it reads back field by field, and its length is
// what is written.
TEST_F(PropertyTest, RecordsAreThreeLinesAndReadBack) {
    EXPECT_EQ(text(greeting()), "8 Greeting 1\n5 3 0 1 3 0 \n5 hello \n");
    EXPECT_EQ(text(Property()), "0  0\n5 0 0 0 3 0 \n0  \n");
    Property big = make(String(1000, 'n'), 1234567, String(5000, 'v'));
    ASSERT_TRUE(dynamic_cast<const PropertyValueFile*>(big.value.representation()));
    Property lagging = make("Lagging", 1, "");  // bits not yet in the record
    lagging.attributes.set_readable(PropertyAttributes::Trusted, true);
    const Property originals[] = {greeting(),
                                  Property(),
                                  make("a b", 2, "x"),
                                  make("line\nend", 3, "two\nlines and  blanks "),
                                  make(" lead\n", 4294967295u, String("\0z", 2)),
                                  withRecord("Long", "7 53 15 1 3 2 aa bb "),
                                  withRecord("Full", "5 ff 3f ff 3 80 "),
                                  withRecord("Wide", "17 0 0 0 3 0 0 0 0 0 0 0 0 0 0 0 0 0 "),
                                  lagging,
                                  big};
    std::stringstream stream;
    for (const Property& p : originals) {
        unsigned long length = p.length();  // before writing brings the record up to date
        EXPECT_EQ(length, text(p).size()) << p.name.text().substr(0, 10);
        stream << p;
    }
    for (const Property& p : originals) {
        Property back = make("stale", 9, "stale");
        stream >> back;
        ASSERT_FALSE(stream.fail()) << p.name.text().substr(0, 10);
        EXPECT_EQ(back.name, p.name);
        EXPECT_EQ(back.index, p.index);
        EXPECT_EQ(String(back.attributes), String(p.attributes));
        EXPECT_EQ(String(back.value), String(p.value));
    }
    EXPECT_FALSE(stream.flags() & std::ios::skipws);
    // Any white space may separate the name from the index.
    std::istringstream spaced("3 abc \n\n  \t7\n5 0 0 0 3 0 \n1 v \n");
    Property p;
    spaced >> p;
    EXPECT_FALSE(spaced.fail());
    EXPECT_EQ(text(p), "3 abc 7\n5 0 0 0 3 0 \n1 v \n");
}

TEST_F(PropertyTest, ClearDropsTheValueReference) {
    Property p = make("big", 1, String(6000, 'x'));
    Property q = p;
    p.clear();
    EXPECT_EQ(text(p), text(Property()));
    EXPECT_EQ(q.value.representation()->reference_count(), 1u);
    EXPECT_EQ(tempFiles().size(), 1u);
    q.clear();
    EXPECT_TRUE(tempFiles().empty());
}

// Hostile or broken records must fail the stream without large allocations,
// crashes or leftover value files.
TEST_F(PropertyTest, MalformedRecordsFailTheStream) {
    const String attrs = "5 0 0 0 3 0 \n";
    // The pieces the cases are built from read when whole.
    std::istringstream good("3 abc 1\n" + attrs + "0  \n");
    Property whole;
    ASSERT_FALSE((good >> whole).fail());
    const String cases[] = {
        "1000000000000000 abc 1\n",
        "-3 abc 1\n" + attrs + "0  \n",
        "8",
        "8 Greet",
        "x abc 1\n" + attrs + "0  \n",
        "3 abc x\n" + attrs + "0  \n",
        "3 abc 1\n5 3 zz 0 3 0 \n0  \n",
        "3 abc 1\n1000000000000000 3 0 \n0  \n",
        "3 abc 1\n" + attrs + "1000000000000000 abc",
        "3 abc 1\n" + attrs + "9000 " + String(5000, 'v'),
        "3 abc 1\n" + attrs + "20 short",
        "3 abc 1\n" + attrs + "v5 abc \n",
        "3 abc 99999999999\n" + attrs + "0  \n",
    };
    for (const String& bad : cases) {
        {
            std::istringstream in(bad);
            Property p;
            in >> p;
            EXPECT_TRUE(in.fail()) << bad.substr(0, 40);
            EXPECT_LT(p.value.length(), 6000u);
            EXPECT_LT(p.attributes.length(), 10u);
        }
        EXPECT_TRUE(tempFiles().empty()) << bad.substr(0, 40);
    }
}

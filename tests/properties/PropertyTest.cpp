#include <gtest/gtest.h>

#include <cerrno>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <vector>

#include "host/platform/FaultInjector.h"
#include "properties/Property.h"
#include "properties/PropertyInstances.h"
#include "properties/PropertyValue.h"
#include "properties/PropertyValueFile.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"

namespace {

// Bytes that differ from position to position, so a misplaced copy shows.
String pattern(std::size_t size, char first = 'a') {
    String bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(first + i % 23);
    return bytes;
}

PropertyValue valueOf(const String& bytes) {
    PropertyValue v;
    v.modify(bytes, 0);
    return v;
}

bool inFile(const PropertyValue& v) {
    return dynamic_cast<const PropertyValueFile*>(v.representation()) != nullptr;
}

const auto recordText = textOf<Property>;

Property greeting() {
    Property p = make("Greeting", 1, "hello");
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
using PropertyValueTest = PropertyTest;

TEST_F(PropertyValueTest, ModifyMovesBetweenMemoryAndFileAtTheThresholds) {
    struct Case {
        std::size_t initial, text, position;
        bool file, sameRep;
    } cases[] = {
        {0, 4096, 0, true, false},       // reaching 4096 bytes moves to a file
        {4096, 2000, 0, false, false},   // keep 0 always builds afresh
        {4096, 2000, 2000, true, true},  // 4000 bytes still fit the file
        {3000, 10, 3000, false, true},   // 3010 bytes stay in memory
        {4090, 10, 4090, true, false},   // 4100 bytes move to a file
        {4, 3, 10, false, true},         // a position past the end appends
        {5000, 10, 1000, false, false},  // 1010 bytes: back to memory
    };
    for (const Case& c : cases) {
        String initial = pattern(c.initial), text = pattern(c.text, 'A');
        PropertyValue v = valueOf(initial);
        const void* before = v.representation();
        v.modify(text, c.position);
        String expected = initial.substr(0, std::min(c.position, c.initial)) + text;
        EXPECT_EQ(String(v), expected) << c.initial << "+" << c.text << "@" << c.position;
        EXPECT_EQ(v.length(), expected.size());
        EXPECT_EQ(inFile(v), c.file) << c.initial << "+" << c.text << "@" << c.position;
        EXPECT_EQ(v.representation() == before, c.sameRep) << c.initial << "@" << c.position;
    }
    EXPECT_TRUE(tempFiles().empty());
}

TEST_F(PropertyValueTest, CopiesShareUntilOneChanges) {
    for (std::size_t size : {5, 5000}) {
        PropertyValue a = valueOf(pattern(size));
        PropertyValue b = a;
        b = b;
        a = b;
        EXPECT_EQ(a.representation(), b.representation());
        EXPECT_EQ(a.representation()->reference_count(), 2u);
        b.modify("Z", size - 1);
        EXPECT_EQ(String(a), pattern(size)) << size;
        EXPECT_EQ(String(b), pattern(size - 1) + "Z") << size;
        EXPECT_EQ(a.representation()->reference_count(), 1u);
        EXPECT_EQ(inFile(a), inFile(b));
        // A changed copy of a file value writes a file of its own.
        EXPECT_EQ(tempFiles().size(), size >= 4096 ? 2u : 0u);
    }
}

// A representation's block is given back by the size it was made for, even
// after its bytes moved out to a String of their own: a block made for 1000
// bytes whose bytes outgrew it is not a small pooled block.
TEST_F(PropertyValueTest, ARepresentationIsFreedByTheSizeItsBlockWasMadeFor) {
    struct Case {
        std::size_t room, initial, final;
    } cases[] = {{9, 9, 20}, {100, 50, 200}, {240, 10, 300}, {241, 10, 20}, {1000, 10, 3000}};
    for (const Case& c : cases) {
        PropertyValue v;
        v.change_rep(PropertyValueString::make(pattern(c.initial), c.room), false);
        // Grown in place, past its room for most rows.
        String whole = pattern(c.initial) + pattern(c.final - c.initial, 'A');
        v.modify(pattern(c.final - c.initial, 'A'), c.initial);
        EXPECT_EQ(String(v), whole) << c.room;
        PropertyValue copy = v;
        v.modify("tail", c.final);
        EXPECT_EQ(String(copy), whole) << c.room;
    }
}

TEST_F(PropertyValueTest, GetStaysWithinTheValue) {
    struct Case {
        unsigned long position, count;
        const char* expected;
    } cases[] = {{5, 10, "fgh"}, {9, 1, ""},
                 {8, 1, ""},     {2, 3, "cde"},
                 {0, 0, ""},     {0, std::numeric_limits<unsigned long>::max(), "abcdefgh"}};
    PropertyValueString memory("abcdefgh");
    PropertyValueFile file("abcdefgh");
    for (const PropertyValueBase* v : {static_cast<const PropertyValueBase*>(&memory),
                                       static_cast<const PropertyValueBase*>(&file)})
        for (const Case& c : cases)
            EXPECT_EQ(v->get(c.position, c.count), c.expected) << c.position << "," << c.count;
}

TEST_F(PropertyValueTest, TextFormRoundTripsAnyBytes) {
    String binary("line\nend  two\0blanks\r\n", 22);
    for (const String& bytes :
         {String(), String("hello"), binary, pattern(5000), pattern(8096 * 2 + 7)}) {
        PropertyValue v = valueOf(bytes);
        String written = textOf(v);
        EXPECT_EQ(written, std::to_string(bytes.size()) + " " + bytes + " ");
        EXPECT_EQ(v.stream_length(), written.size());
        std::istringstream in(written + "next");
        in.unsetf(std::ios::skipws);
        PropertyValue back;
        in >> back;
        EXPECT_TRUE(in.good());
        EXPECT_EQ(String(back), bytes);
        EXPECT_EQ(inFile(back), bytes.size() >= 4096);
        if (inFile(back)) {
            String path =
                static_cast<const PropertyValueFile*>(back.representation())->path().text();
            EXPECT_EQ(path.rfind("/vm/tmp/", 0), 0u) << path;
            EXPECT_EQ(path.substr(path.size() - 2), ".p");
            EXPECT_EQ(readFile(path), bytes);
        }
        String rest;
        in >> rest;
        EXPECT_EQ(rest, "next");
        // A value read from a stream grows and shrinks keeping its bytes, and
        // a copy taken before keeps the old ones.
        PropertyValue shared = back;
        back.modify("XY", bytes.size());
        EXPECT_EQ(String(back), bytes + "XY");
        EXPECT_EQ(String(shared), bytes);
        back.modify("Z", 1);
        EXPECT_EQ(String(back), (bytes + "XY").substr(0, 1) + "Z");
    }
}

TEST_F(PropertyValueTest, FailedTruncateIsReportedAndLeavesTheValue) {
    PropertyValue v = valueOf(pattern(5000));
    auto file = dynamic_cast<const PropertyValueFile*>(v.representation());
    ASSERT_NE(file, nullptr);
    FaultInjector::add(FaultOp::Truncate, EACCES, ".p");
    testing::internal::CaptureStderr();
    v.modify("tail", 2000);
    String err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "PropertyValueFile::modify() - can't truncate " + file->path().text() +
                       " from 5000 bytes to 2000 bytes, errno = 13 (Permission denied)\n");
    EXPECT_EQ(String(v), pattern(5000));
}

TEST_F(PropertyValueTest, BadTextFailsTheStreamAndLeavesNoFiles) {
    struct Case {
        String input;
        unsigned long held;  // bytes the value holds afterwards
    } cases[] = {
        {"x", 0},
        {"", 0},
        {"4", 0},
        {"10 abc", 3},
        {"1000000000000000 abc", 0},  // over the limit: refused before reading
        {"5000 " + pattern(100), 100},
        {"-5 abc", 0},
    };
    for (const Case& c : cases) {
        {
            std::istringstream in(c.input);
            in.unsetf(std::ios::skipws);
            PropertyValue v = valueOf("old");
            in >> v;
            EXPECT_TRUE(in.fail()) << c.input.substr(0, 20);
            EXPECT_EQ(v.length(), c.held) << c.input.substr(0, 20);
        }
        EXPECT_TRUE(tempFiles().empty()) << c.input.substr(0, 20);
    }
}

// A record is three lines; it reads back field by field, and its length is
// what is written.
TEST_F(PropertyTest, RecordsAreThreeLinesAndReadBack) {
    EXPECT_EQ(recordText(greeting()), "8 Greeting 1\n5 3 0 1 3 0 \n5 hello \n");
    EXPECT_EQ(recordText(Property()), "0  0\n5 0 0 0 3 0 \n0  \n");
    Property big = make(String(1000, 'n'), 1234567, String(5000, 'v'));
    ASSERT_TRUE(inFile(big.value));
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
        EXPECT_EQ(length, recordText(p).size()) << p.name.text().substr(0, 10);
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
    EXPECT_EQ(recordText(p), "3 abc 7\n5 0 0 0 3 0 \n1 v \n");
}

TEST_F(PropertyTest, ClearDropsTheValueReference) {
    Property p = make("big", 1, String(6000, 'x'));
    Property q = p;
    p.clear();
    EXPECT_EQ(recordText(p), recordText(Property()));
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

// Instances keep one reference to each value: shared with the Property they
// were given and with those they hand out, dropped when they go.
TEST(PropertyInstances, ShareValuesByReference) {
    Property given = make("Name", 1, "twenty-three bytes long");
    const auto* rep = given.value.representation();
    PropertyInstances held;
    held.assign(given);
    Property out;
    held.begin()->copyTo(out, Symbol("Name"));
    EXPECT_EQ(out.value.representation(), rep);
    EXPECT_EQ(out.name, Symbol("Name"));
    EXPECT_EQ(rep->reference_count(), 3u);
    {
        PropertyInstances copy(held);
        EXPECT_EQ(rep->reference_count(), 4u);
    }
    held.erase(held.begin());
    EXPECT_EQ(rep->reference_count(), 2u);
    Property moved = make("Name", 2, "moved in");
    const auto* movedRep = moved.value.representation();
    held.assign(std::move(moved));
    EXPECT_EQ(movedRep->reference_count(), 1u);
    // An instance's record length is what its record takes when written.
    std::ostringstream written;
    written << held.begin()->property(Symbol("Name"));
    EXPECT_EQ(held.begin()->length(Symbol("Name")), written.str().size());
}

// A name's instances, in place up to two and in a block of their own past
// that, against a map kept beside them: random puts (new, replaced, in and
// out of order) and erases, with copies and moves taken along the way.
TEST(PropertyInstances, StayInIndexOrderWhereverTheyAreHeld) {
    using Model = std::map<std::uint32_t, String>;
    auto same = [](const PropertyInstances& held, const Model& model) {
        std::vector<std::pair<std::uint32_t, String>> seen;
        for (const StoredProperty& p : held)
            seen.emplace_back(p.index, static_cast<String>(p.value()));
        return held.size() == model.size() &&
               seen == std::vector<std::pair<std::uint32_t, String>>(model.begin(), model.end());
    };
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        PropertyInstances held;
        Model model;
        std::uint32_t span = 1 + random() % 9;
        for (int step = 0; step < 12; ++step) {
            std::uint32_t index = 1 + random() % span;
            if (random() % 4 == 0 && !model.empty()) {
                auto at = held.find(index);
                ASSERT_EQ(at != held.end(), model.count(index) == 1);
                if (at != held.end()) held.erase(at);
                model.erase(index);
            } else {
                String value = "v" + std::to_string(round) + "." + std::to_string(step);
                Property p = make("Name", index, value);
                if (step % 2)
                    held.assign(p);
                else
                    held.assign(std::move(p));
                model[index] = value;
            }
            ASSERT_TRUE(same(held, model)) << "round " << round << " step " << step;
            PropertyInstances copy(held), moved;
            moved = std::move(copy);
            ASSERT_TRUE(same(moved, model) && copy.empty());
            moved.assign(make("Name", 100, "only in the copy"));
            ASSERT_TRUE(same(held, model)) << "a copy shares nothing that changes";
        }
    }
}

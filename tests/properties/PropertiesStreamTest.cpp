#include <gtest/gtest.h>

#include <sstream>

#include "host/platform/FaultInjector.h"
#include "tests/properties/MemoryProperties.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using A = PropertyAttributes;
using E = Properties;

const String kHeader = "component-file-version=2\nnumber of properties=";
const String kRecord1 = "8 Greeting 1\n5 3 10 1 3 0 \n5 hello \n\n";
const String kRecord2 = "8 Greeting 2\n5 3 10 1 3 0 \n0  \n\n";
const String kWorkedExample = kHeader + "2\n" + kRecord1 + kRecord2;

class PropertiesStream : public PlatformFixture {
  protected:
    Property greeting(std::uint32_t index, const String& value) {
        Property p = make("Greeting", index, value, {A::Server, A::Minimal});
        p.attributes.set_version(1);
        return p;
    }

    String write(const Properties& set) {
        std::ostringstream out;
        EXPECT_TRUE(set.save(out));
        return out.str();
    }

    bool read(MemoryProperties& set, const String& text, bool replace = true) {
        std::istringstream in(text);
        return set.obtain(in, replace);
    }

    Properties::knownInfo info;
};

TEST_F(PropertiesStream, WorkedExampleIsWrittenByteForByteAndReadsBack) {
    MemoryProperties set(info);
    EXPECT_EQ(write(set), kHeader + "0\n");
    EXPECT_EQ(set.length(), 0) << "an empty set has no stored length";
    Property one = greeting(1, "hello"), two = greeting(2, "");
    ASSERT_EQ(set.put(one, A::Server), Properties::PUT_OK);
    ASSERT_EQ(set.put(two, A::Server), Properties::PUT_OK);
    EXPECT_EQ(write(set), kWorkedExample);
    EXPECT_EQ(set.length(), 117);

    MemoryProperties back(info);
    ASSERT_TRUE(read(back, kWorkedExample));
    EXPECT_FALSE(back.isModified()) << "reading does not mark the set modified";
    EXPECT_EQ(write(back), kWorkedExample);
}

TEST_F(PropertiesStream, ReadsHeadersAndRecords) {
    struct Case {
        const char* label;
        String text;
        bool ok;
        Properties::PropertiesError error;
        std::size_t stored;
    };
    // Version and count lines in all their forms are read below, against
    // the pattern they stand for.
    const Case cases[] = {
        {"Empty set", kHeader + "0\n", true, E::NO_ERROR, 0},
        {"EmptyLinesBeforeAndBetweenHeaders",
         "\n\ncomponent-file-version=2\n\nnumber of properties=1\n" + kRecord1, true, E::NO_ERROR,
         1},
        {"TwoEmptyLinesBetweenRecords", kHeader + "2\n" + kRecord1 + "\n" + kRecord2, false,
         E::CANT_PARSE_FILE, 1},
        {"NoVersionLine", "number of properties=0\n", false, E::CANT_PARSE_VERSION, 0},
        {"EmptyStream", "", false, E::CANT_PARSE_VERSION, 0},
        {"VersionLineWithoutLineEnd", "component-file-version=2", false, E::CANT_PARSE_VERSION, 0},
        {"NoCountLine", "component-file-version=2\n", false, E::CANT_PARSE_FILE, 0},
        {"IndexZero", kHeader + "1\n8 Greeting 0\n5 3 10 1 3 0 \n0  \n\n", false,
         E::CANT_PARSE_FILE, 0},
        {"CountLargerThanRecords", kHeader + "3\n" + kRecord1 + kRecord2, false, E::CANT_PARSE_FILE,
         2},
        {"HugeCount", kHeader + "1000000000000000000\n" + kRecord1, false, E::CANT_PARSE_FILE, 1},
        {"HugeNameLength", kHeader + "1\n1000000000000000 Greeting 1\n", false, E::CANT_PARSE_FILE,
         0},
        // A record that breaks after its name and index leaves its property
        // in the set, and the read fails, even when it is the last record.
        {"HugeValueLength",
         kHeader + "2\n8 Greeting 1\n5 3 10 1 3 0 \n1000000000000000 hello \n\n" + kRecord2, false,
         E::CANT_PARSE_FILE, 1},
        {"ValueLengthOverTheLimit",
         kHeader + "1\n8 Greeting 1\n5 3 10 1 3 0 \n2147483648 hello \n\n", false,
         E::CANT_PARSE_FILE, 1},
        {"NameLengthOverTheLimit", kHeader + "1\n65536 " + String(65536, 'n') + " 1\n", false,
         E::CANT_PARSE_FILE, 0},
        {"HugeAttributeLength",
         kHeader + "2\n8 Greeting 1\n1000000000000000 3 10 1 3 0 \n0  \n\n" + kRecord2, false,
         E::CANT_PARSE_FILE, 1},
        {"BadAttributeByte", kHeader + "2\n" + kRecord1 + "8 Greeting 2\n5 3 zz 1 3 0 \n0  \n\n",
         false, E::CANT_PARSE_FILE, 2},
        {"ExtraBlankBeforeAttributes",
         kHeader + "2\n" + kRecord1 + "8 Greeting 2\n 5 3 10 1 3 0 \n0  \n\n", false,
         E::CANT_PARSE_FILE, 2},
        // A bad record keeps what was read of it; only a record after it fails the read.
        {"StreamEndsInTheLastRecord", kHeader + "1\n8 Greeting 1\n5 3 10", true, E::NO_ERROR, 1},
        {"StreamEndsInAnEarlierRecord", kHeader + "2\n8 Greeting 1\n5 3 10", false,
         E::CANT_PARSE_FILE, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        MemoryProperties set(info);
        EXPECT_EQ(read(set, c.text), c.ok);
        EXPECT_EQ(set.getError(), c.error);
        EXPECT_EQ(set.count(), c.stored);
    }
    MemoryProperties set(info);
    std::istringstream failed(kWorkedExample);
    failed.setstate(std::ios::failbit);
    EXPECT_FALSE(set.obtain(failed, true));
    EXPECT_EQ(set.getError(), Properties::CANT_OPEN);
}

// Header lines are read without a pattern; each must come out as the
// pattern "^<header>([0-9]+)$" through get_long reads it.
TEST_F(PropertiesStream, HeaderLinesReadAsTheirPatternReadsThem) {
    const String version = "component-file-version=", count = "number of properties=";
    const String tails[] = {"2",
                            "02",
                            "0",
                            "",
                            " 2",
                            "2 ",
                            "+2",
                            "-2",
                            "2\r",
                            "\r",
                            "2x",
                            "0x2",
                            "99999999999999999999",
                            String("2\0", 2),
                            "\xff"
                            "2"};
    const Regex versionPattern("^" + version + "([0-9]+)$");
    const Regex countPattern("^" + count + "([0-9]+)$");
    for (const String& tail : tails) {
        SCOPED_TRACE("tail [" + tail + "]");
        for (const String& lead : {String(), String("\n\n"), String("x")}) {
            std::istringstream line(lead + version + tail + "\n");
            long expected = Properties::get_long(line, versionPattern, 1);
            MemoryProperties set(info);
            EXPECT_EQ(read(set, lead + version + tail + "\nnumber of properties=0\n"),
                      expected == 2);
            if (expected != 2) {
                EXPECT_EQ(set.getError(),
                          expected == -1 ? E::CANT_PARSE_VERSION : E::UNKNOWN_VERSION);
            }
        }
        std::istringstream line(count + tail + "\n");
        long expected = Properties::get_long(line, countPattern, 1);
        MemoryProperties set(info);
        EXPECT_EQ(read(set, "component-file-version=2\n" + count + tail + "\n"), expected == 0);
        if (expected != 0) {
            EXPECT_EQ(set.getError(), E::CANT_PARSE_FILE);
        }
    }
}

TEST_F(PropertiesStream, ReplaceDecidesWhoWinsAnInstance) {
    MemoryProperties set(info);
    Property mine = greeting(1, "mine");
    ASSERT_EQ(set.put(mine, A::Server), Properties::PUT_OK);
    ASSERT_TRUE(read(set, kWorkedExample, false));
    EXPECT_EQ(valueAt(set, "Greeting", 1), "mine");
    EXPECT_EQ(set.count(), 2u);
    ASSERT_TRUE(read(set, kHeader + "1\n" + kRecord1, true));
    EXPECT_EQ(valueAt(set, "Greeting", 1), "hello");
}

TEST_F(PropertiesStream, LengthMatchesTheWrittenBytes) {
    MemoryProperties set(info);
    Property big = greeting(1, String(5000, 'x'));  // a file value
    Property small = greeting(2, "line\nend and blanks");
    ASSERT_EQ(set.put(big, A::Server), Properties::PUT_OK);
    ASSERT_EQ(set.put(small, A::Server), Properties::PUT_OK);
    // A seven-byte attribute record, as a newer writer may have stored it.
    ASSERT_TRUE(read(set, kHeader + "1\n5 Other 3\n7 53 15 1 3 2 aa bb \n2 hi \n\n"));
    set.set_version(2);
    ASSERT_TRUE(set.isModified());
    EXPECT_EQ(set.length(), static_cast<long>(write(set).size()));

    MemoryProperties stored(info);
    ASSERT_TRUE(read(stored, write(set)));
    stored.estimate = 4242;
    EXPECT_EQ(stored.length(), 4242) << "an unmodified set asks its store";
    stored.estimate = -1;
    EXPECT_EQ(stored.length(), static_cast<long>(write(set).size()));
}

TEST_F(PropertiesStream, KnownSetsAreSeededFromTheTable) {
    static const Symbol a("PlainKnown"), b("PrivKnown"), c("TrustKnown"), d("BothKnown");
    static const Properties::knownEntry table[] = {
        {&a, 0, false, false}, {&b, 1, true, false}, {&c, -2, false, true}, {&d, 3, true, true}};
    Properties::knownInfo kind;
    kind.table = table;
    kind.count = 4;
    MemoryProperties knowns(kind);
    kind.knowns = &knowns;
    Properties::initKnowns(kind);
    ASSERT_EQ(knowns.count(), 4u);
    const std::pair<const Symbol*, const char*> expected[] = {{&a, "\x57\x15\x01\x03\x00"},
                                                              {&b, "\x5f\x15\x01\x03\x01"},
                                                              {&c, "\xd7\x15\x01\x03\xfe"},
                                                              {&d, "\xdf\x15\x01\x03\x03"}};
    for (const auto& [name, bytes] : expected) {
        Property p;
        p.name = *name;
        p.index = 1;
        ASSERT_EQ(knowns.get(p, A::Minimal), Properties::GET_OK) << name->text();
        EXPECT_EQ(String(p.attributes), String(bytes, 5)) << name->text();
        EXPECT_EQ(p.value.length(), 0u);
    }
}

// A record whose value cannot be stored must fail the read, whether or not
// it is the last record: a caller that saved after a "successful" read would
// write the set back without the value.
TEST_F(PropertiesStream, AValueThatCannotBeStoredFailsTheRead) {
    MemoryProperties source{info};
    for (Property p : {make("first", 0, "small"), make("large", 0, String(5000, 'x'))})
        source.put(p, A::Server);
    const String saved = streamOf(source);
    for (FaultOp op : {FaultOp::Open, FaultOp::Write}) {
        FaultInjector::add(op, ENOSPC, "/vm/tmp/", 0, -1);
        MemoryProperties target{info};
        EXPECT_FALSE(read(target, saved));
        EXPECT_EQ(target.getError(), Properties::OS_SYSTEM_ERROR);
        FaultInjector::clear();
    }
    MemoryProperties set{info};
    EXPECT_TRUE(read(set, saved));
    EXPECT_EQ(set.count(), 2u);
}

}  // namespace

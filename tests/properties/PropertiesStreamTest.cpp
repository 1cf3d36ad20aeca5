#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "tests/properties/MemoryProperties.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using A = PropertyAttributes;

const String kWorkedExample =
    "component-file-version=2\n"
    "number of properties=2\n"
    "8 Greeting 1\n5 3 10 1 3 0 \n5 hello \n\n"
    "8 Greeting 2\n5 3 10 1 3 0 \n0  \n\n";

const String kHeader = "component-file-version=2\nnumber of properties=";

class PropertiesStream : public PlatformFixture {
  protected:
    Property greeting(std::uint32_t index, const String& value) {
        Property p;
        p.name = Symbol("Greeting");
        p.index = index;
        p.attributes.set_readable(A::Server, true);
        p.attributes.set_writeable(A::Server, true);
        p.attributes.set_readable(A::Minimal, true);
        p.attributes.set_version(1);
        p.value.modify(value, 0);
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
    Property one = greeting(1, "hello"), two = greeting(2, "");
    ASSERT_EQ(set.put(one, A::Server), Properties::PUT_OK);
    ASSERT_EQ(set.put(two, A::Server), Properties::PUT_OK);
    EXPECT_EQ(write(set), kWorkedExample);
    EXPECT_EQ(kWorkedExample.size(), 117u);
    EXPECT_EQ(set.length(), 117);

    MemoryProperties back(info);
    ASSERT_TRUE(read(back, kWorkedExample));
    EXPECT_FALSE(back.isModified()) << "reading does not mark the set modified";
    EXPECT_EQ(write(back), kWorkedExample);
}

TEST_F(PropertiesStream, EmptySetIsTheTwoHeaderLines) {
    MemoryProperties set(info);
    EXPECT_EQ(write(set), kHeader + "0\n");
    EXPECT_EQ(set.length(), 0) << "an empty set has no stored length";
    MemoryProperties back(info);
    EXPECT_TRUE(read(back, kHeader + "0\n"));
    EXPECT_EQ(back.count(), 0u);
}

struct ReadCase {
    const char* name;
    String text;
    bool ok;
    Properties::PropertiesError error;
    std::size_t stored;
};

class StreamReading : public PropertiesStream, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(StreamReading, HeadersAndRecords) {
    const ReadCase& c = GetParam();
    MemoryProperties set(info);
    EXPECT_EQ(read(set, c.text), c.ok);
    EXPECT_EQ(set.getError(), c.error);
    EXPECT_EQ(set.count(), c.stored);
}

const String kRecord1 = "8 Greeting 1\n5 3 10 1 3 0 \n5 hello \n\n";
const String kRecord2 = "8 Greeting 2\n5 3 10 1 3 0 \n0  \n\n";
using E = Properties;

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamReading,
    ::testing::Values(
        ReadCase{"EmptyLinesBeforeAndBetweenHeaders",
                 "\n\ncomponent-file-version=2\n\nnumber of properties=1\n" + kRecord1, true,
                 E::NO_ERROR, 1},
        ReadCase{"TwoEmptyLinesBetweenRecords", kHeader + "2\n" + kRecord1 + "\n" + kRecord2, false,
                 E::CANT_PARSE_FILE, 1},
        ReadCase{"VersionThree", "component-file-version=3\nnumber of properties=0\n", false,
                 E::UNKNOWN_VERSION, 0},
        ReadCase{"LetterInVersion", "component-file-version=2a\nnumber of properties=0\n", false,
                 E::CANT_PARSE_VERSION, 0},
        ReadCase{"NoVersionLine", "number of properties=0\n", false, E::CANT_PARSE_VERSION, 0},
        ReadCase{"EmptyStream", "", false, E::CANT_PARSE_VERSION, 0},
        ReadCase{"VersionLineWithoutLineEnd", "component-file-version=2", false,
                 E::CANT_PARSE_VERSION, 0},
        ReadCase{"NoCountLine", "component-file-version=2\n", false, E::CANT_PARSE_FILE, 0},
        ReadCase{"IndexZero", kHeader + "1\n8 Greeting 0\n5 3 10 1 3 0 \n0  \n\n", false,
                 E::CANT_PARSE_FILE, 0},
        ReadCase{"CountLargerThanRecords", kHeader + "3\n" + kRecord1 + kRecord2, false,
                 E::CANT_PARSE_FILE, 2},
        ReadCase{"HugeCount", kHeader + "1000000000000000000\n" + kRecord1, false,
                 E::CANT_PARSE_FILE, 1},
        ReadCase{"HugeNameLength", kHeader + "1\n1000000000000000 Greeting 1\n", false,
                 E::CANT_PARSE_FILE, 0},
        ReadCase{"HugeValueLength",
                 kHeader + "2\n8 Greeting 1\n5 3 10 1 3 0 \n1000000000000000 hello \n\n" + kRecord2,
                 false, E::CANT_PARSE_FILE, 1},
        ReadCase{"HugeAttributeLength",
                 kHeader + "2\n8 Greeting 1\n1000000000000000 3 10 1 3 0 \n0  \n\n" + kRecord2,
                 false, E::CANT_PARSE_FILE, 1},
        // A bad record keeps what was read of it; only a record after it fails the read.
        ReadCase{"StreamEndsInTheLastRecord", kHeader + "1\n8 Greeting 1\n5 3 10", true,
                 E::NO_ERROR, 1},
        ReadCase{"StreamEndsInAnEarlierRecord", kHeader + "2\n8 Greeting 1\n5 3 10", false,
                 E::CANT_PARSE_FILE, 1}),
    [](const auto& param) { return String(param.param.name); });

TEST_F(PropertiesStream, ReplaceDecidesWhoWinsAnInstance) {
    MemoryProperties set(info);
    Property mine = greeting(1, "mine");
    ASSERT_EQ(set.put(mine, A::Server), Properties::PUT_OK);
    ASSERT_TRUE(read(set, kHeader + "2\n" + kRecord1 + kRecord2, false));
    Property p = greeting(1, "");
    ASSERT_EQ(set.get(p, A::Server), Properties::GET_OK);
    EXPECT_EQ(String(p.value), "mine");
    EXPECT_EQ(set.count(), 2u);
    ASSERT_TRUE(read(set, kHeader + "1\n" + kRecord1, true));
    ASSERT_EQ(set.get(p, A::Server), Properties::GET_OK);
    EXPECT_EQ(String(p.value), "hello");
}

TEST_F(PropertiesStream, FailedStreamCannotBeOpened) {
    MemoryProperties set(info);
    std::istringstream in(kWorkedExample);
    in.setstate(std::ios::failbit);
    EXPECT_FALSE(set.obtain(in, true));
    EXPECT_EQ(set.getError(), Properties::CANT_OPEN);
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

TEST_F(PropertiesStream, ErrorNamesTellTheSystemError) {
    EXPECT_EQ(Properties::error_name(Properties::CANT_PARSE_FILE), "CANT_PARSE_FILE");
    errno = 2;
    EXPECT_EQ(Properties::error_name(Properties::OS_SYSTEM_ERROR),
              String("OS_SYSTEM_ERROR/errno=2(") + std::strerror(2) + ")");
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
    struct Expected {
        const Symbol* name;
        const char* bytes;
    } expected[] = {{&a, "\x57\x15\x01\x03\x00"},
                    {&b, "\x5f\x15\x01\x03\x01"},
                    {&c, "\xd7\x15\x01\x03\xfe"},
                    {&d, "\xdf\x15\x01\x03\x03"}};
    for (const auto& e : expected) {
        Property p;
        p.name = *e.name;
        p.index = 1;
        ASSERT_EQ(knowns.get(p, A::Minimal), Properties::GET_OK) << e.name->text();
        EXPECT_EQ(String(p.attributes), String(e.bytes, 5)) << e.name->text();
        EXPECT_EQ(p.value.length(), 0u);
    }
}

TEST_F(PropertiesStream, FactoryMakesSetsOfRegisteredKinds) {
    static Properties::knownInfo kind;
    static MemoryProperties prototype(Symbol("MemoryProperties"), kind);
    EXPECT_EQ(Properties::factory(Symbol("NobodyRegisteredThis"), Properties::PropertiesID("k")),
              nullptr);
    std::unique_ptr<Properties> made(
        Properties::factory(Symbol("MemoryProperties"), Properties::PropertiesID("/VM/x")));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->myKey().text(), "/VM/x");
    EXPECT_EQ(made->myFactoryName(), Symbol("MemoryProperties"));
}

}  // namespace

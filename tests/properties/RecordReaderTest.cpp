#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "tests/properties/MemoryProperties.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"

namespace {

// The bytes of a text handed out through a get area of chunks of a chosen
// size: size 1 leaves the record reader nothing whole in the buffer (every
// record goes through operator>>), the whole text lets it take every record
// it can, sizes between cut records at every place.
class ChunkedInput : public std::streambuf {
  public:
    ChunkedInput(const String& text, std::size_t chunk) : text_(text), chunk_(chunk) {}
    std::size_t consumed() const {
        return gptr() ? static_cast<std::size_t>(gptr() - text_.data()) : 0;
    }

  protected:
    int_type underflow() override {
        char* begin = const_cast<char*>(text_.data());
        std::size_t at = gptr() ? consumed() : 0;
        if (at >= text_.size()) return traits_type::eof();
        setg(begin, begin + at, begin + std::min(text_.size(), at + chunk_));
        return traits_type::to_int_type(*gptr());
    }

  private:
    const String& text_;
    std::size_t chunk_;
};

struct Outcome {
    bool ok;
    Properties::PropertiesError error;
    std::size_t count;
    String written;
    std::ios::iostate state;
    std::size_t consumed;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "ok=" << o.ok << " error=" << o.error << " count=" << o.count
               << " state=" << o.state << " consumed=" << o.consumed << " written=\n"
               << o.written;
}

class RecordReaderTest : public PlatformFixture {
  protected:
    Outcome read(const String& text, std::size_t chunk, bool replace) {
        MemoryProperties set{kind};
        Property held = make("B", 1, "held");
        set.put(held, PropertyAttributes::Server);
        ChunkedInput buffer(text, chunk);
        std::istream in(&buffer);
        Outcome o;
        o.ok = set.obtain(in, replace);
        o.error = set.getError();
        o.count = set.count();
        o.written = streamOf(set);
        o.state = in.rdstate();
        o.consumed = buffer.consumed();
        return o;
    }

    Properties::knownInfo kind;
};

// Pieces a stream is made of, among them every number form the stream's own
// extraction reads in its own way (signs, "0x", leading zeros, overflow).
// clang-format off
const char* const pieces[] = {
    "component-file-version=2\n", "number of properties=", "3\n", "9\n",
    "1 A 1\n", "1 B 1\n", "1 B 2\n", "3 a b 7\n", "3 a\nb \t\n 7\n", "0  0\n",
    "5 3 10 1 3 0 \n", "5 ff 3f 2 3 7f \n", "7 1 2 3 4 5 6 7 \n", "2 0 0 \n", "0 \n",
    "5 hello \n\n", "0  \n\n", "3 a\nb \n\n", "4096 ", "4097 ", "0x5 ", "0X", "00005 ",
    "+3 ", "-1 ", "99999999999 ", "1ffff ", "0x ", "5 3 0x1 1 3 0 \n", "5 00003 10 1 3 0 \n",
    "5 +3 10 1 3 0 \n", "5 -3 10 1 3 0 \n", "\n", " ", "\t", "\v", "\f\r", "x", "0", "1", "9",
    "f", "00", "65535 ", "65536 ", "4294967295", "4294967296"};
// clang-format on

String randomStream(std::mt19937& random) {
    String text;
    int length = static_cast<int>(random() % 14);
    // Mostly well formed: a header and records, with some pieces mixed in.
    if (random() % 4 != 0) text = "component-file-version=2\nnumber of properties=4\n";
    for (int i = 0; i < length; ++i) {
        if (random() % 3 == 0) {
            text += pieces[random() % std::size(pieces)];
        } else {
            String name = String(1, static_cast<char>('A' + random() % 3));
            String value(random() % 10 == 0 ? 4100 : random() % 6, 'v');
            text += "1 " + name + " " + std::to_string(1 + random() % 3) + "\n5 3 10 1 3 0 \n" +
                    std::to_string(value.size()) + " " + value + " \n\n";
        }
    }
    // Now and then a byte changed, so that records break anywhere.
    if (!text.empty() && random() % 3 == 0) text[random() % text.size()] = "0 \n9xa-"[random() % 7];
    return text;
}

// The set, its error, and the stream's state and position after a read do
// not depend on whether a record came from the buffer or through the
// stream's extraction.
TEST_F(RecordReaderTest, BufferedRecordsReadAsTheStreamReadsThem) {
    std::mt19937 random(1212);
    for (int round = 0; round < 2000; ++round) {
        String text = randomStream(random);
        bool replace = random() % 2 == 0;
        Outcome slow = read(text, 1, replace);
        for (std::size_t chunk : {text.size() + 1, std::size_t(7), std::size_t(40)})
            ASSERT_EQ(read(text, chunk, replace), slow)
                << "chunk " << chunk << ", replace " << replace << ", stream:\n"
                << text;
    }
}

// A lone record read with operator>> into a property that already holds a
// longer attribute record keeps its tail either way.
TEST_F(RecordReaderTest, LoneRecordsKeepTheLongerAttributeRecord) {
    String text = "1 A 3\n2 ff 1 \n2 ab \n";
    for (std::size_t chunk : {std::size_t(1), text.size()}) {
        Property p;
        p.attributes = String("\1\2\3\4\5\6\7", 7);
        ChunkedInput buffer(text, chunk);
        std::istream in(&buffer);
        in >> p;
        EXPECT_FALSE(in.fail());
        EXPECT_EQ(static_cast<String>(p.attributes).size(), 7u);
        EXPECT_EQ(static_cast<String>(p.value), "ab");
        EXPECT_EQ(p.index, 3u);
    }
}

}  // namespace

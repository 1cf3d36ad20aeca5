#include <gtest/gtest.h>

#include <string>

#include "properties/MemoryInput.h"

namespace {

std::string word(std::istream& in) {
    std::string w;
    in >> w;
    return in ? w : "<failed>";
}

// A lease taken while the thread's stream is out must not move the outer
// reader's place, and the thread's stream, given back, must come to the
// next lease as a new stream would, whatever the last reader left in it.
TEST(MemoryInputLease, ANestedLeaseHasItsOwnStreamAndTheNextStartsClean) {
    const std::string outerBytes = "outer one outer two", innerBytes = "inner 42";
    const MemoryInput* threads = nullptr;
    {
        MemoryInput::Lease outer(outerBytes.data(), outerBytes.size());
        threads = &outer.stream();
        EXPECT_EQ(word(outer.stream()), "outer");
        {
            MemoryInput::Lease inner(innerBytes.data(), innerBytes.size());
            EXPECT_NE(&inner.stream(), threads) << "the inner lease took the outer's stream";
            EXPECT_EQ(word(inner.stream()), "inner");
            EXPECT_EQ(word(outer.stream()), "one");
            int n = 0;
            EXPECT_TRUE(inner.stream() >> std::hex >> n);
            EXPECT_EQ(n, 0x42);
        }
        EXPECT_EQ(word(outer.stream()), "outer");
        int n = 0;
        EXPECT_FALSE(outer.stream() >> n) << "a word read as a number";
        outer.stream() >> std::hex;
    }
    const std::string next = "17 after";
    MemoryInput::Lease again(next.data(), next.size());
    EXPECT_EQ(&again.stream(), threads) << "the thread's stream was not given back";
    int n = 0;
    EXPECT_TRUE(again.stream() >> n) << "the last reader's failure stayed";
    EXPECT_EQ(n, 17) << "the last reader's base stayed";
    EXPECT_EQ(word(again.stream()), "after");
}

}  // namespace

#include <gtest/gtest.h>

#include <sstream>

#include "host/platform/FaultInjector.h"
#include "tests/properties/MemoryProperties.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using A = PropertyAttributes;

class PropertiesHardening : public PlatformFixture {
  protected:
    Properties::knownInfo kind;
    MemoryProperties set{kind};
};

// A record whose value cannot be stored must fail the read, whether or not
// it is the last record: a caller that saved after a "successful" read would
// write the set back without the value.
TEST_F(PropertiesHardening, AValueThatCannotBeStoredFailsTheRead) {
    MemoryProperties source{kind};
    for (const char* name : {"first", "large"}) {
        Property p;
        p.name = Symbol(name);
        p.attributes.set_readable(A::Server, true);
        p.value.modify(String(name) == "large" ? String(5000, 'x') : String("small"), 0);
        source.put(p, A::Server);
    }
    std::ostringstream out;
    source.save(out);
    for (FaultOp op : {FaultOp::Open, FaultOp::Write}) {
        FaultInjector::add(op, ENOSPC, "/vm/tmp/", 0, -1);
        std::istringstream in(out.str());
        MemoryProperties target{kind};
        EXPECT_FALSE(target.obtain(in, true));
        EXPECT_EQ(target.getError(), Properties::OS_SYSTEM_ERROR);
        FaultInjector::clear();
    }
    std::istringstream in(out.str());
    EXPECT_TRUE(set.obtain(in, true));
    EXPECT_EQ(set.count(), 2u);
}

TEST_F(PropertiesHardening, APropertyWithoutANameIsRefused) {
    Property p;
    p.value.modify("value", 0);
    for (A::AccessType access : {A::Server, A::Standard}) {
        EXPECT_EQ(set.put(p, access), Properties::PUT_NO_PERMISSION);
        EXPECT_EQ(set.count(), 0u);
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <sstream>

#include "tests/properties/MemoryProperties.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using A = PropertyAttributes;

const Symbol kFixedName("FixedKnown");
const Properties::knownEntry kTable[] = {{&kFixedName, 7, false, true}};

// A kind whose known set holds FixedKnown (from its table: Trusted may write)
// and Defaulted (as a defaults file would add it: only Server may write).
class PropertiesAccess : public PlatformFixture {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        info.table = kTable;
        info.count = 1;
        info.knowns = &knowns;
        Properties::initKnowns(info);
        Property defaulted = make("Defaulted", 1, "", {A::Minimal}, {A::Server});
        defaulted.attributes.set_server_known(true);
        ASSERT_EQ(knowns.put(defaulted, A::Server), Properties::PUT_OK);
    }

    // Puts each property as Server into set; each put must succeed.
    static void putAll(Properties& set, std::initializer_list<Property> properties) {
        for (Property p : properties)
            ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK) << p.name.text();
    }

    Properties::knownInfo info;
    MemoryProperties knowns{info};
    MemoryProperties set{info};
};

TEST_F(PropertiesAccess, NewPropertiesAreCheckedAgainstTheKind) {
    struct Case {
        const char* name;
        bool serverKnown;
        A::AccessType access;
        int expected;
    };
    const Case cases[] = {
        {"FixedKnown", false, A::Standard, Properties::PUT_IS_SERVER_KNOWN},
        {"FixedKnown", true, A::Standard, Properties::PUT_NO_PERMISSION},
        {"FixedKnown", true, A::Trusted, Properties::PUT_OK},
        {"Defaulted", true, A::Trusted, Properties::PUT_NO_PERMISSION},
        {"Unknown", true, A::Standard, Properties::PUT_NO_ATTRIBUTE_PERMISSION},
        {"Unknown", false, A::Minimal, Properties::PUT_OK},
        {"Unknown", true, A::Server, Properties::PUT_OK},
        {"Defaulted", false, A::Privileged, Properties::PUT_OK},
        {"", false, A::Server, Properties::PUT_NO_PERMISSION},  // a property needs a name
        {"", false, A::Standard, Properties::PUT_NO_PERMISSION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.name << " server_known=" << c.serverKnown << " as " << c.access);
        MemoryProperties fresh(info);
        Property p = make(c.name, 0, "v", {A::Minimal}, {A::Minimal});
        p.attributes.set_server_known(c.serverKnown);
        EXPECT_EQ(fresh.put(p, c.access), c.expected);
        // A refused put leaves the set unchanged.
        EXPECT_EQ(valueAt(fresh, c.name, 1), c.expected == Properties::PUT_OK ? "v" : "<none>");
        EXPECT_EQ(fresh.count(), c.expected == Properties::PUT_OK ? 1u : 0u);
        // An accepted server-known property takes the kind's attributes.
        Property known = make(c.name, 1);
        if (c.serverKnown && c.expected == Properties::PUT_OK &&
            knowns.get(known, A::Server) == Properties::GET_OK) {
            EXPECT_EQ(String(p.attributes), String(known.attributes));
        }
    }
}

TEST_F(PropertiesAccess, PutOfAnExistingInstanceKeepsItsAttributes) {
    Property p = make("Mode", 1, "old", {A::Minimal}, {A::Standard});
    ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
    Property change = make("Mode", 1, "new", {A::Server}, {A::Server, A::Minimal});
    change.attributes.set_version(9);
    ASSERT_EQ(set.put(change, A::Standard), Properties::PUT_OK);
    EXPECT_EQ(String(change.attributes), String(p.attributes)) << "caller gets the kept attributes";
    Property back = make("Mode", 1);
    ASSERT_EQ(set.get(back, A::Minimal), Properties::GET_OK);
    EXPECT_EQ(String(back.value), "new");
    EXPECT_EQ(back.attributes.version(), 0);
    Property denied = make("Mode", 1, "x");
    EXPECT_EQ(set.put(denied, A::Restricted), Properties::PUT_NO_PERMISSION);
}

TEST_F(PropertiesAccess, IndexZeroPutsAppendAndGetTakesTheLowestReadable) {
    for (auto [expected, reader] : {std::pair{1u, A::Server}, {2u, A::Minimal}, {3u, A::Minimal}}) {
        Property p = make("Pin", 0, std::to_string(expected), {reader});
        ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
        EXPECT_EQ(p.index, expected);
    }
    EXPECT_TRUE(set.isModified());
    Property p = make("Pin", 1);
    EXPECT_EQ(set.get(p, A::Standard), Properties::GET_NO_PERMISSION);
    EXPECT_EQ(String(p.value), "1");
    for (auto [who, expected] : {std::pair{A::Standard, 2u}, {A::Server, 1u}}) {
        p = make("Pin", 0);
        EXPECT_EQ(set.get(p, who), Properties::GET_OK);
        EXPECT_EQ(p.index, expected);
        EXPECT_EQ(String(p.value), std::to_string(expected));
    }
    p = make("Pin", 4);
    EXPECT_EQ(set.get(p, A::Server), Properties::GET_NO_SUCH_PROPERTY);
}

TEST_F(PropertiesAccess, WalkVisitsEveryInstanceInNameOrder) {
    putAll(set, {make("b", 1, "", {A::Minimal}), make("a", 1, "", {A::Minimal}),
                 make("c", 1, "", {A::Minimal}), make("b", 2, "secret", {A::Server}),
                 make("b", 3, "", {A::Minimal})});
    std::vector<String> seen;
    Property p;
    int r;
    while ((r = set.get_next(p, A::Standard, false)) != Properties::NEXT_END) {
        String where = p.name.text() + std::to_string(p.index);
        seen.push_back(r == Properties::NEXT_NO_PERMISSION ? "!" + where : where);
        ASSERT_LT(seen.size(), 10u) << "walk does not end";
    }
    EXPECT_EQ(seen, (std::vector<String>{"a1", "b1", "!b2", "b3", "c1"}));

    Property none;
    EXPECT_EQ(set.get_next(none, A::Server, true), Properties::NEXT_END);
    Property within = make("b", 0);
    std::vector<std::uint32_t> indexes;
    while (set.get_next(within, A::Server, true) == Properties::NEXT_OK)
        indexes.push_back(within.index);
    EXPECT_EQ(indexes, (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST_F(PropertiesAccess, RemoveKeepsWhatTheClassMayNotWriteAndTheFixedTable) {
    putAll(set, {make("mine", 1, "x", {A::Minimal}, {A::Standard}),
                 make("theirs", 1, "y", {A::Minimal}, {A::Server}),
                 make("zmine", 1, "z", {A::Minimal}, {A::Standard})});
    Property all;
    EXPECT_EQ(set.remove(all, A::Standard), Properties::REMOVE_NO_PERMISSION);
    EXPECT_EQ(set.count(), 1u);
    EXPECT_EQ(valueAt(set, "theirs", 1), "y");
    Property gone = make("zmine", 0);
    EXPECT_EQ(set.remove(gone, A::Server), Properties::REMOVE_NO_SUCH_PROPERTY);
    // The known set protects only its fixed table, even from Server.
    Property fixed = make("FixedKnown", 1);
    EXPECT_EQ(knowns.remove(fixed, A::Server), Properties::REMOVE_NO_PERMISSION);
    Property defaulted = make("Defaulted", 1);
    EXPECT_EQ(knowns.remove(defaulted, A::Minimal), Properties::REMOVE_OK);
    EXPECT_EQ(knowns.count(), 1u);
}

TEST_F(PropertiesAccess, ForwardAndMergeCopyOverTheDestination) {
    Property travels = make("travels", 1, "new", {A::Minimal});
    travels.attributes.set_forwardable(true);
    putAll(set, {travels, make("stays", 1, "local", {A::Minimal})});
    MemoryProperties destination(info);
    putAll(destination, {make("travels", 1, "old", {A::Minimal})});
    set.forward(destination);
    EXPECT_EQ(destination.count(), 1u) << "only forwardables travel";
    EXPECT_EQ(valueAt(destination, "travels", 1), "new");

    // A merge without replace only adds what is missing.
    MemoryProperties source(info);
    putAll(source, {make("stays", 1, "source", {A::Minimal}), make("stays", 2, "added")});
    set.merge(source, false, false);
    EXPECT_EQ(valueAt(set, "stays", 1), "local");
    EXPECT_EQ(valueAt(set, "stays", 2), "added");
}

}  // namespace

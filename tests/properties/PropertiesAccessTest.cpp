#include <gtest/gtest.h>

#include <sstream>

#include "tests/properties/MemoryProperties.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using A = PropertyAttributes;

Property make(const char* name, std::uint32_t index, const String& value,
              std::initializer_list<A::AccessType> readers = {A::Server},
              std::initializer_list<A::AccessType> writers = {A::Server}) {
    Property p;
    p.name = Symbol(name);
    p.index = index;
    p.value.modify(value, 0);
    for (auto a : readers) p.attributes.set_readable(a, true);
    for (auto a : writers) p.attributes.set_writeable(a, true);
    return p;
}

Property named(const char* name, std::uint32_t index = 0) {
    Property p;
    p.name = Symbol(name);
    p.index = index;
    return p;
}

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

    Properties::knownInfo info;
    MemoryProperties knowns{info};
    MemoryProperties set{info};
};

TEST_F(PropertiesAccess, IndexZeroPutsAppendAndGetTakesTheLowest) {
    Property p = make("Greeting", 0, "one", {A::Minimal});
    ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
    EXPECT_EQ(p.index, 1u);
    p = make("Greeting", 0, "two", {A::Minimal});
    ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
    EXPECT_EQ(p.index, 2u);
    Property q = named("Greeting");
    ASSERT_EQ(set.get(q, A::Standard), Properties::GET_OK);
    EXPECT_EQ(q.index, 1u);
    EXPECT_EQ(String(q.value), "one");
    EXPECT_TRUE(set.isModified());
}

struct KnownCheckCase {
    const char* name;
    bool serverKnown;
    A::AccessType access;
    int expected;
};

class KnownChecks : public PropertiesAccess,
                    public ::testing::WithParamInterface<KnownCheckCase> {};

TEST_P(KnownChecks, NewPropertiesAreCheckedAgainstTheKind) {
    const KnownCheckCase& c = GetParam();
    Property p = make(c.name, 0, "v", {A::Minimal}, {A::Minimal});
    p.attributes.set_server_known(c.serverKnown);
    EXPECT_EQ(set.put(p, c.access), c.expected);
    Property q = named(c.name);
    EXPECT_EQ(set.get(q, A::Server) == Properties::GET_OK, c.expected == Properties::PUT_OK)
        << "a refused put must leave the set unchanged";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KnownChecks,
    ::testing::Values(
        KnownCheckCase{"FixedKnown", false, A::Standard, Properties::PUT_IS_SERVER_KNOWN},
        KnownCheckCase{"FixedKnown", true, A::Standard, Properties::PUT_NO_PERMISSION},
        KnownCheckCase{"FixedKnown", true, A::Trusted, Properties::PUT_OK},
        KnownCheckCase{"Defaulted", true, A::Trusted, Properties::PUT_NO_PERMISSION},
        KnownCheckCase{"Unknown", true, A::Standard, Properties::PUT_NO_ATTRIBUTE_PERMISSION},
        KnownCheckCase{"Unknown", false, A::Minimal, Properties::PUT_OK},
        KnownCheckCase{"Unknown", true, A::Server, Properties::PUT_OK},
        KnownCheckCase{"Defaulted", false, A::Privileged, Properties::PUT_OK}));

TEST_F(PropertiesAccess, AcceptedKnownPropertyTakesTheKnownAttributes) {
    Property p = make("FixedKnown", 0, "v", {}, {});
    p.attributes.set_server_known(true);
    ASSERT_EQ(set.put(p, A::Trusted), Properties::PUT_OK);
    Property known = named("FixedKnown", 1);
    ASSERT_EQ(knowns.get(known, A::Server), Properties::GET_OK);
    EXPECT_EQ(String(p.attributes), String(known.attributes));
    EXPECT_EQ(p.attributes.type(), 7);
}

TEST_F(PropertiesAccess, PutOfAnExistingInstanceKeepsItsAttributes) {
    Property p = make("Mode", 1, "old", {A::Minimal}, {A::Standard});
    ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
    Property change = make("Mode", 1, "new", {A::Server}, {A::Server, A::Minimal});
    change.attributes.set_version(9);
    ASSERT_EQ(set.put(change, A::Standard), Properties::PUT_OK);
    EXPECT_EQ(String(change.attributes), String(p.attributes)) << "caller gets the kept attributes";
    Property back = named("Mode", 1);
    ASSERT_EQ(set.get(back, A::Minimal), Properties::GET_OK);
    EXPECT_EQ(String(back.value), "new");
    EXPECT_EQ(back.attributes.version(), 0);
    Property denied = make("Mode", 1, "x");
    EXPECT_EQ(set.put(denied, A::Restricted), Properties::PUT_NO_PERMISSION);
}

TEST_F(PropertiesAccess, GetReportsUnreadableButFillsAndIndexZeroSkipsIt) {
    Property hidden = make("Pin", 1, "1234", {A::Server});
    Property open = make("Pin", 2, "open", {A::Minimal});
    ASSERT_EQ(set.put(hidden, A::Server), Properties::PUT_OK);
    ASSERT_EQ(set.put(open, A::Server), Properties::PUT_OK);
    Property p = named("Pin", 1);
    EXPECT_EQ(set.get(p, A::Standard), Properties::GET_NO_PERMISSION);
    EXPECT_EQ(String(p.value), "1234");
    p = named("Pin");
    EXPECT_EQ(set.get(p, A::Standard), Properties::GET_OK);
    EXPECT_EQ(p.index, 2u);
    p = named("Pin", 3);
    EXPECT_EQ(set.get(p, A::Server), Properties::GET_NO_SUCH_PROPERTY);
}

TEST_F(PropertiesAccess, WalkVisitsEveryInstanceInNameOrder) {
    for (const char* name : {"b", "a", "c"}) {
        Property p = make(name, 0, name, {A::Minimal});
        ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
    }
    Property secret = make("b", 2, "secret", {A::Server});
    ASSERT_EQ(set.put(secret, A::Server), Properties::PUT_OK);
    Property extra = make("b", 3, "b3", {A::Minimal});
    ASSERT_EQ(set.put(extra, A::Server), Properties::PUT_OK);

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
    Property within = named("b");
    std::vector<std::uint32_t> indexes;
    while (set.get_next(within, A::Server, true) == Properties::NEXT_OK)
        indexes.push_back(within.index);
    EXPECT_EQ(indexes, (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST_F(PropertiesAccess, RemoveAllKeepsWhatTheClassMayNotWrite) {
    Property mine = make("mine", 0, "x", {A::Minimal}, {A::Standard});
    Property theirs = make("theirs", 0, "y", {A::Minimal}, {A::Server});
    Property also = make("zmine", 0, "z", {A::Minimal}, {A::Standard});
    for (Property* p : {&mine, &theirs, &also})
        ASSERT_EQ(set.put(*p, A::Server), Properties::PUT_OK);
    Property all;
    EXPECT_EQ(set.remove(all, A::Standard), Properties::REMOVE_NO_PERMISSION);
    EXPECT_EQ(set.count(), 1u);
    Property left = named("theirs");
    EXPECT_EQ(set.get(left, A::Server), Properties::GET_OK);
    Property gone = named("zmine");
    EXPECT_EQ(set.remove(gone, A::Server), Properties::REMOVE_NO_SUCH_PROPERTY);
}

TEST_F(PropertiesAccess, KnownSetProtectsOnlyItsFixedTable) {
    Property fixed = named("FixedKnown", 1);
    EXPECT_EQ(knowns.remove(fixed, A::Server), Properties::REMOVE_NO_PERMISSION);
    Property defaulted = named("Defaulted", 1);
    EXPECT_EQ(knowns.remove(defaulted, A::Minimal), Properties::REMOVE_OK);
    EXPECT_EQ(knowns.count(), 1u);
}

TEST_F(PropertiesAccess, ForwardCopiesForwardablesOverTheDestination) {
    Property travels = make("travels", 1, "new", {A::Minimal});
    travels.attributes.set_forwardable(true);
    Property stays = make("stays", 1, "local", {A::Minimal});
    ASSERT_EQ(set.put(travels, A::Server), Properties::PUT_OK);
    ASSERT_EQ(set.put(stays, A::Server), Properties::PUT_OK);
    MemoryProperties destination(info);
    Property old = make("travels", 1, "old", {A::Minimal});
    ASSERT_EQ(destination.put(old, A::Server), Properties::PUT_OK);
    set.forward(destination);
    EXPECT_EQ(destination.count(), 1u);
    Property p = named("travels", 1);
    ASSERT_EQ(destination.get(p, A::Server), Properties::GET_OK);
    EXPECT_EQ(String(p.value), "new");
}

TEST_F(PropertiesAccess, MergeWithoutReplaceOnlyAddsWhatIsMissing) {
    Property held = make("shared", 1, "destination", {A::Minimal});
    ASSERT_EQ(set.put(held, A::Server), Properties::PUT_OK);
    MemoryProperties source(info);
    Property clash = make("shared", 1, "source", {A::Minimal});
    Property added = make("shared", 2, "added", {A::Minimal});
    ASSERT_EQ(source.put(clash, A::Server), Properties::PUT_OK);
    ASSERT_EQ(source.put(added, A::Server), Properties::PUT_OK);
    set.merge(source, false, false);
    Property p = named("shared", 1);
    ASSERT_EQ(set.get(p, A::Server), Properties::GET_OK);
    EXPECT_EQ(String(p.value), "destination");
    p = named("shared", 2);
    ASSERT_EQ(set.get(p, A::Server), Properties::GET_OK);
    EXPECT_EQ(String(p.value), "added");
}

}  // namespace

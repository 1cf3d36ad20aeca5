#include <sys/stat.h>

#include <cstring>
#include <sstream>

#include "host/platform/FaultInjector.h"
#include "platform/BTreeIndex.h"
#include "platform/FileSystem.h"
#include "properties/COSProperties.h"
#include "properties/MessageProperties.h"
#include "properties/SubscriberProperties.h"
#include "properties/SystemProperties.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using A = PropertyAttributes;

// Each test has a fresh root: nothing of an earlier root may stay open.
class PropertyKindsTest : public PlatformFixture {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        COSProperties::btreeFD = -1;
        SubscriberProperties::btreeFD = -1;
        Properties::myPBox = 333;
        FileSystem::makeDirectories("/VM/config");
    }
    void TearDown() override {
        Properties::myPBox = 0;
        PlatformFixture::TearDown();
    }
    // The raw record of a class of service, or "<none>".
    String record(std::uint32_t number) {
        int fd = zrbopen(COSProperties::indexPath, BTREE_READ, 0775);
        unsigned long length = 0;
        char* data = nullptr;
        int rc = reade_dvalp(fd, 4, reinterpret_cast<const char*>(&number), &length, &data);
        close_index(fd);
        return rc == BTREE_OK ? String(data, length) : String("<none>");
    }
    void putAndSave(Properties& set, const String& name, const String& value) {
        Property p = named(name, value);
        ASSERT_EQ(set.put(p, A::Server), Properties::PUT_OK);
        ASSERT_TRUE(set.saveThem());
    }
};

TEST_F(PropertyKindsTest, OwnerWritesCounterThenStreamAndDeletesAnEmptiedRecord) {
    COSProperties set(7UL);
    EXPECT_EQ(set.count(), 0u);
    EXPECT_TRUE(set.underlierKnown());
    EXPECT_EQ(record(7), "<none>");
    putAndSave(set, "Greeting", "hello");
    EXPECT_EQ(record(7), "1" + streamOf(set));
    putAndSave(set, "Greeting", "again");
    EXPECT_EQ(record(7), "2" + streamOf(set));
    EXPECT_EQ(set.estimateLength(), static_cast<std::int32_t>(record(7).size()));

    COSProperties reader(7UL);
    EXPECT_EQ(reader.getStatus(), 2u);
    EXPECT_EQ(streamOf(reader), streamOf(set));
    EXPECT_FALSE(reader.underlierChanged());
    putAndSave(set, "Other", "x");
    EXPECT_TRUE(reader.underlierChanged());

    set.empty();
    FaultInjector::add(FaultOp::Write, EIO, "COSproperties");
    EXPECT_FALSE(set.saveThem());  // a failed delete says so
    EXPECT_EQ(set.getError(), Properties::OS_SYSTEM_ERROR);
    EXPECT_EQ(errno, EIO);
    EXPECT_NE(record(7), "<none>");
    // Every write is traced in detail, a delete only when it fails.
    EXPECT_TRUE(traces->contains(3, "for deleterec("));
    traces->clear();
    ASSERT_TRUE(set.saveThem());
    EXPECT_EQ(record(7), "<none>");
    EXPECT_FALSE(traces->contains(3, "for deleterec("));
    ASSERT_TRUE(set.saveThem());  // nothing left to delete
    EXPECT_EQ(set.estimateLength(), -1);
    EXPECT_TRUE(reader.underlierChanged());
}

TEST_F(PropertyKindsTest, CounterWrapsADigitPrefixIsReadWholeAndABadRecordSpoilsNoOther) {
    COSProperties set(9UL);
    putAndSave(set, "A", "1");
    int fd = zrbopen(COSProperties::indexPath, BTREE_READ_WRITE, 0775);
    auto write = [fd](std::uint32_t key, const String& bytes) {
        return writerec(fd, 4, reinterpret_cast<const char*>(&key), bytes.size(), bytes.data());
    };
    ASSERT_EQ(write(9, "4294967295" + streamOf(set)), BTREE_OK);
    ASSERT_EQ(write(10, "1component-file-version=2\nnumber of properties=1\nno record"), BTREE_OK);
    close_index(fd);
    COSProperties bad(10UL);
    EXPECT_EQ(bad.getError(), Properties::CANT_PARSE_FILE);
    COSProperties reread(9UL);
    EXPECT_EQ(reread.getStatus(), 4294967295u);
    EXPECT_EQ(reread.count(), 1u);
    putAndSave(reread, "B", "2");
    EXPECT_EQ(record(9).substr(0, 1), "0");
    EXPECT_EQ(record(9).substr(1, 23), "component-file-version=");
}

TEST_F(PropertyKindsTest, ANonOwnerOnlyInvalidatesItsCopy) {
    COSProperties owned(3UL);
    putAndSave(owned, "Kept", "yes");
    String before = record(3);
    Properties::myPBox = 1;
    COSProperties::btreeFD = -1;
    COSProperties other(3UL);
    EXPECT_EQ(other.count(), 1u);
    putAndSave(other, "Lost", "locally");
    EXPECT_EQ(record(3), before);
    other.empty();
    ASSERT_TRUE(other.saveThem());
    EXPECT_EQ(record(3), before);
}

TEST_F(PropertyKindsTest, AMissingIndexReadsAsEmptyAndOnlyTheOwnersSaveMakesIt) {
    const Path directory = "/VM/orvex/sd/sdata";
    for (std::uint16_t box : {1, 333}) {
        SCOPED_TRACE(box);
        Properties::myPBox = box;
        COSProperties cos;
        SubscriberProperties subscriber;
        EXPECT_TRUE(cos.reinitialize(5, false) && subscriber.reinitialize(1001, false));
        EXPECT_EQ(cos.count() + subscriber.count(), 0u);
        EXPECT_TRUE(cos.saveThem()) << "an empty set, or no copy to drop";
        EXPECT_TRUE(listDirectory(directory).empty());
    }
    Properties::myPBox = 333;
    mode_t before = ::umask(0002);
    COSProperties owned(5UL);
    putAndSave(owned, "Greeting", "hello");
    ::umask(before);
    EXPECT_EQ(record(5), "1" + streamOf(owned));
    for (const char* name : {"COSproperties", "COSproperties-lock"})
        EXPECT_EQ(modeOf(directory / name), 0664u) << name;
    COSProperties::btreeFD = -1;
    COSProperties reread(5UL);
    EXPECT_EQ(streamOf(reread), streamOf(owned));

    // A store whose creation never finished reads as empty and is made whole.
    writeFile(SubscriberProperties::indexPath, "");
    SubscriberProperties unfinished(1001UL);
    EXPECT_EQ(unfinished.getError(), Properties::NO_ERROR);
    putAndSave(unfinished, "Greeting", "hello");
}

TEST_F(PropertyKindsTest, AnUnopenedSetFailsWithCantOpen) {
    COSProperties unbound;
    EXPECT_EQ(unbound.number(), 0xFFFFFFFFu);
    EXPECT_EQ(SubscriberProperties().number(), 4194303);
    EXPECT_FALSE(unbound.underlierKnown());
    EXPECT_EQ(unbound.estimateLength(), -1);
    EXPECT_FALSE(unbound.obtain(true));
    EXPECT_EQ(unbound.getError(), Properties::CANT_OPEN);
    EXPECT_TRUE(unbound.underlierChanged());
}

TEST_F(PropertyKindsTest, FactoryMakesEachKindFromItsKey) {
    std::uint32_t seven = 7;
    Properties::PropertiesID numberKey;
    std::memcpy(numberKey.bytes, &seven, 4);
    struct Case {
        Symbol name;
        Properties::PropertiesID key;
    } cases[] = {{COSProperties::factoryName, numberKey},
                 {SubscriberProperties::factoryName, numberKey},
                 {SystemProperties::factoryName, Properties::PropertiesID("ignored")},
                 {MessageProperties::factoryName, Properties::PropertiesID("/msg/42.props")},
                 {FileProperties::factoryName, Properties::PropertiesID("/some/file")}};
    for (const Case& c : cases) {
        std::unique_ptr<Properties> set(Properties::factory(c.name, c.key));
        ASSERT_NE(set, nullptr) << c.name;
        EXPECT_EQ(set->myFactoryName(), c.name);
        Properties::PropertiesID key = set->myKey();
        if (c.name == SystemProperties::factoryName)
            EXPECT_EQ(key.text(), "/VM/config/sys_prop_db");
        else
            EXPECT_EQ(std::memcmp(key.bytes, c.key.bytes, sizeof key.bytes), 0) << c.name;
    }
    EXPECT_TRUE(Properties::registered("COSProperties"));
    EXPECT_FALSE(Properties::registered("NoSuchKind"));
    EXPECT_EQ(Properties::factory(Symbol("NoSuchKind"), numberKey), nullptr);
}

TEST_F(PropertyKindsTest, KnownSetsStartFromTheTableAndTheDefaultsFileOverrides) {
    MessageProperties message;
    Properties::knownInfo& known = message.getKnown();
    ASSERT_NE(known.knowns, nullptr);
    EXPECT_EQ(known.knowns->count(), 11u);
    Property p;
    p.name = Original_From;
    ASSERT_EQ(known.knowns->get(p, A::Minimal), Properties::GET_OK);
    EXPECT_FALSE(p.attributes.writeable(A::Privileged));
    EXPECT_TRUE(p.attributes.server_known());

    FileProperties defaults(MessageProperties::defaultsPath);
    putAndSave(defaults, Original_From.text(), "from the file");
    putAndSave(defaults, "Extra", "x");
    known = message.getKnown();
    EXPECT_EQ(known.knowns->count(), 12u);
    EXPECT_EQ(valueAt(*known.knowns, Original_From.text()), "from the file");

    EXPECT_EQ(COSProperties(1UL).getKnown().knowns->count(), 0u);
    EXPECT_EQ(COSProperties(1UL).getKnown().pbox, 333);
    SystemProperties system;
    EXPECT_EQ(system.getKnown().knowns->count(), 1u);
}

TEST_F(PropertyKindsTest, SystemUpdateReloadsOnlyAfterARewrite) {
    SystemProperties system;
    putAndSave(system, "Greeting", "hello");
    SystemProperties other;
    EXPECT_FALSE(other.update());
    EXPECT_EQ(other.count(), 1u);
    setMtime(SystemProperties::filePath, 3000000);
    EXPECT_TRUE(other.update());
    EXPECT_FALSE(other.update());
    EXPECT_EQ(other.count(), 1u);
}

}  // namespace

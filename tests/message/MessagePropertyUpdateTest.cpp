// The exported functions for a stored message's property set.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "host/platform/FaultInjector.h"
#include "host/platform/PlatformDatabase.h"
#include "message/MessagePropertyUpdate.h"
#include "platform/FileSystem.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/DirectoryFixture.h"

namespace {

using A = PropertyAttributes;

const Path kFile("/VM/orvex/sd/msg/1001/0009.prop");
constexpr long kMessage = 200020;

class MessagePropertyUpdate : public DirectoryFixture {
  protected:
    void SetUp() override {
        DirectoryFixture::SetUp();
        item(kMessage);
        FileSystem::makeDirectories("/VM/orvex/sd/msg/1001");
    }

    // A readable, server-known property of value type 1.
    static Property property(const Symbol& name, const String& value, bool serverKnown = true) {
        Property p = make(name.text(), 0, value, {A::Minimal}, {});
        p.attributes.set_server_known(serverKnown);
        p.attributes.set_type(1);
        return p;
    }

    static void put(Properties& set, Property p) { ASSERT_EQ(set.put(p, A::Server), 0); }

    // The text of attribute 269, or "<code>" when it can't be read.
    static String attribute269(long msgid) {
        char text[LONG_ATTRIBUTE_SIZE];
        int rc = ret_l_attribute(msgid, MSG_ATTRIBS, text, 3);
        return rc == 0 ? String(text) : "<" + std::to_string(rc) + ">";
    }
};

TEST_F(MessagePropertyUpdate, ProxyAddressSplitsAtTheLastAtAndValidates) {
    struct Case {
        String text;
        bool matches;
        String address, node;
    };
    const Case kCases[] = {{"1002@BOSTON", true, "1002", "BOSTON"},
                           {"a@@b", true, "a@", "b"},
                           {"x@y@z", true, "x@y", "z"},
                           {String("a\0b@c", 5), true, String("a\0b", 3), "c"},
                           {"no at sign", false, "keep", "keep"}};
    for (const Case& c : kCases) {
        String address = "keep", node = "keep";
        EXPECT_EQ(get_proxy_address(c.text, address, node), c.matches) << c.text;
        EXPECT_EQ(address + "|" + node, c.address + "|" + c.node);
        Property p = property(Proxy_Reply_To, c.text);
        EXPECT_EQ(validate_property(p), c.matches) << c.text;
        p.attributes.set_server_known(false);  // only a known proxy address is checked
        EXPECT_TRUE(validate_property(p));
        Property other = property(Original_From, c.text);
        EXPECT_TRUE(validate_property(other));
    }
    EXPECT_TRUE(traces->contains(3, "\texpression doesn't match, Regex() error:  "));
    Property typed = property(Proxy_Reply_To, "1002@BOSTON");
    typed.attributes.set_type(0);
    EXPECT_FALSE(validate_property(typed));
}

TEST_F(MessagePropertyUpdate, MakePropertiesResults) {
    struct Case {
        const char* id;
        Path path;
        const char* contents;  // null: no file
        int fault;             // errno injected into the reads, 0: none
        int result;
        std::size_t count;  // properties afterwards (the set starts with one)
        const char* trace;  // expected; "": no level-1 trace at all
    };
    const Case kCases[] = {
        {"EmptyPath", EmptyPath, nullptr, 0, 1114, 1, "reader- no property file!"},
        {"MissingFile", kFile, nullptr, 0, 0, 0, ""},
        {"UnknownVersion", kFile, "component-file-version=3\nnumber of properties=0\n", 0, 1211, 0,
         ""},
        {"Malformed", kFile, "component-file-version=2\nnumber of properties=x\n", 0, 1190, 0,
         "reader for msg_id:  7, properties.reinit(/VM/orvex/sd/msg/1001/0009.prop) - fails "
         "with:  CANT_PARSE_FILE"},
        {"ReadError", kFile, "component-file-version=2\nnumber of properties=0\n", EIO, 1190, 0,
         "\terrno = 5 (Input/output error)"}};
    for (const Case& c : kCases) {
        traces->clear();
        FaultInjector::clear();
        if (c.contents) writeFile(kFile, c.contents);
        if (c.fault) FaultInjector::add(FaultOp::Read, c.fault, kFile.text(), 0, -1);
        MessageProperties set;
        put(set, property(Proxy_Reply_To, "1002@BOSTON"));
        EXPECT_EQ(make_properties(set, c.path, "reader", 7), c.result) << c.id;
        EXPECT_EQ(set.count(), c.count) << c.id;
        if (c.result == 0) {
            EXPECT_EQ(set.path(), kFile);
        }
        if (*c.trace)
            EXPECT_TRUE(traces->contains(c.path.empty() ? 3 : 1, c.trace)) << c.id;
        else
            EXPECT_FALSE(traces->contains(1, "reader")) << c.id;
    }
}

TEST_F(MessagePropertyUpdate, UpdatePropertiesClears269OnlyForAnEmptiedSet) {
    attribute(kMessage, MSG_ATTRIBS, kFile.text());
    MessageProperties set;
    ASSERT_EQ(make_properties(set, kFile, "writer", kMessage), 0);
    put(set, property(Proxy_Reply_To, "1002@BOSTON"));
    EXPECT_TRUE(update_properties(set, kMessage));
    EXPECT_TRUE(FileSystem::exists(kFile));
    EXPECT_EQ(attribute269(kMessage), kFile.text());
    long stamp = PlatformDatabase::stamp(kMessage);

    set.empty();
    EXPECT_TRUE(update_properties(set, kMessage));
    EXPECT_FALSE(FileSystem::exists(kFile));
    EXPECT_EQ(attribute269(kMessage), "<1137>");
    EXPECT_EQ(PlatformDatabase::stamp(kMessage), stamp);  // NO_CHANGE
    EXPECT_TRUE(traces->messages().empty());

    EXPECT_TRUE(update_properties(set, 999));  // no message 999: the clear is only traced
    EXPECT_TRUE(traces->contains(
        1, "update_properties() - upd_msg(999, MSG_ATTRIBS, NULL, NO_CHANGE) returns 1114"));
    put(set, property(Proxy_Reply_To, "1002@BOSTON"));
    FaultInjector::add(FaultOp::Rename, ENOSPC, "0009.prop", 0, -1);
    EXPECT_FALSE(update_properties(set, kMessage));
    EXPECT_TRUE(traces->contains(
        1,
        "update_properties() - write_to_file() (file = /VM/orvex/sd/msg/1001/0009.prop fails "
        "for msg_id=200020 fails w/error:  OS_SYSTEM_ERROR/errno=28(No space left on device),"
        "\terrno = 28 (No space left on device)"));
}

TEST_F(MessagePropertyUpdate, UpdatePropertyPathWritesOnlyForAnEmptySet) {
    MessageProperties set;
    ASSERT_EQ(make_properties(set, kFile, "writer", kMessage), 0);
    EXPECT_EQ(update_property_path("writer", set, kMessage), 0);
    EXPECT_EQ(attribute269(kMessage), kFile.text());

    put(set, property(Proxy_Reply_To, "1002@BOSTON"));
    EXPECT_EQ(update_property_path("writer", set, 999), 0);  // no call, so no failure
    EXPECT_TRUE(traces->messages().empty());
    set.empty();
    EXPECT_EQ(update_property_path("writer", set, 999), MSGPROP_FAILED);
    EXPECT_TRUE(traces->contains(
        1,
        "writer - upd_msg(999, MSG_ATTRIBS, /VM/orvex/sd/msg/1001/0009.prop, NO_CHANGE) "
        "returns 1114"));
}

struct ChangeCase {
    const char* id;
    const char* value;  // null: no such property
    int result;
    std::int32_t userId = 0;
    std::int16_t node = 0;
    const char* mailbox = "";  // copied to 472 with an 11-byte bound
    char attributes = 'k';     // k server-known, u not server-known, h unreadable
};

const ChangeCase kChanges[] = {
    {"Absent", nullptr, 0},
    // The address before the last "@" has its node's own form: on a kind 1
    // node that is mailbox "@" node name again.
    {"Kind1", "1002@BOSTON@BOSTON", 0, 1002, 1, "1002"},
    {"Kind1WithoutItsNodeName", "1002@BOSTON", 22},
    {"ElevenCharMailboxUnterminated", "jsmith@CALLNET", 0, 9101, 9001, "90011234567"},
    {"Kind4NoMailboxCopied", "jane.doe@example.net@INTERNET", 0, 1005, 10001, ""},
    {"ElevenCharNode", "4@ELEVENCHARS@ELEVENCHARS", 0, 1004, 4, "4"},
    {"TwelveCharNodeBeforeLookup", "4@ELEVENCHARSX", 36},
    {"NotAProxyAddress", "Bob Brown", 1230},
    {"TwoAtsInARow", "1002@@BOSTON", 22},
    {"UnknownNode", "1002@NOWHERE", 1114},
    {"Ambiguous", "desk@DALLAS", 34},
    {"NotServerKnown", "1002@BOSTON@BOSTON", 0, 0, 0, "", 'u'},
    {"Unreadable", "1002@BOSTON@BOSTON", 13, 0, 0, "", 'h'},
};

class PropertyChange : public MessagePropertyUpdate,
                       public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(PropertyChange, WritesTheRecordOnlyOnSuccess) {
    const ChangeCase& c = GetParam();
    MessageProperties set;
    put(set, property(Original_From, "1001"));
    if (c.value) {
        Property p = property(Proxy_Reply_To, c.value, c.attributes == 'k');
        if (c.attributes == 'h') p.attributes = PropertyAttributes();
        put(set, p);
    }
    MSG_ATTRS record, expected;
    std::memset(&record, 0xAB, sizeof record);
    expected = record;
    if (c.userId != 0) {
        std::memcpy(reinterpret_cast<char*>(&expected) + 92, &c.userId, 4);
        std::memcpy(reinterpret_cast<char*>(&expected) + 124, &c.node, 2);
        std::memset(expected.mailbox, 0, 11);  // the copy pads with zeros
        std::memcpy(expected.mailbox, c.mailbox, std::strlen(c.mailbox));
        if (!*c.mailbox) std::memset(expected.mailbox, 0xAB, 11);  // an empty one is not copied
    }
    EXPECT_EQ(property_change(set, record), c.result);
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, PropertyChange, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return String(info.param.id); });

}  // namespace

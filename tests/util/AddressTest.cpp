// Node kinds, locate_address by node kind and construct_address,
// on the stand-in's directory and message store (DirectoryFixture).

#include <gtest/gtest.h>

#include "platform/Directory.h"
#include "tests/testing/DirectoryFixture.h"
#include "util/Address.h"

namespace {

using Address = DirectoryFixture;

TEST_F(Address, NodeKinds) {
    const std::pair<short, int> kCases[] = {{0, 1},     {1, 1},     {2, 2}, {3, 3},     {7, 3},
                                            {9001, 3},  {5, 1},     {6, 1}, {10001, 4}, {10064, 0},
                                            {10002, 0}, {12345, 0}, {-1, 0}};
    for (auto [node, kind] : kCases) EXPECT_EQ(node_kind(node), kind) << "node " << node;
}

struct LocateCase {
    const char* id;
    String address;
    const char* nodeName;
    int result;
    long userId;  // -1: not located
    short node;
    const char* mailbox = "";
    const char* localPart = "";
    String fullAddress = "";
};

const LocateCase kLocate[] = {
    // Kind 1: digits "@" the node's own name.
    {"Kind1", "1002@BOSTON", "BOSTON", 0, 1002, 1, "1002"},
    {"Kind1TenDigitsUnknown", "1234567890@BOSTON", "BOSTON", 1114, -1, 1, "1234567890"},
    {"Kind1ElevenDigits", "12345678901@BOSTON", "BOSTON", 22, -1, 1},
    {"Kind1Letter", "10a2@BOSTON", "BOSTON", 22, -1, 1},
    {"Kind1NodeCase", "1002@boston", "BOSTON", 22, -1, 1},
    {"Kind1EndsWithAt", "1002@", "BOSTON", 22, -1, 1},
    {"Kind1SecondAt", "1002@BOSTON@BOSTON", "BOSTON", 22, -1, 1},
    {"Kind1ElevenCharNode", "4@ELEVENCHARS", "ELEVENCHARS", 0, 1004, 4, "4"},
    // Only the first 129 characters are examined: the node name is cut.
    {"Kind1Long", String(120, '1') + "@BOSTON" + String(5000, 'x'), "BOSTON", 22, -1, 1},
    {"Kind1NameTypeCase", "1002@CASE", "CASE", 1114, -1, 5, "1002"},
    // An unknown node: node -1 before the address is looked at.
    {"UnknownNode", "1002@NOWHERE", "NOWHERE", 1114, -1, -1},
    {"UnknownNodeBadAddress", "", "NOWHERE", 1114, -1, -1},
    // Kind 2 never locates: a user of the node itself 1114, anything else 1021.
    {"Kind2OwnEntry", "5551234@amis.example.com", "AMISGW", 1114, -1, 2, "", "5551234"},
    {"Kind2OtherNodeUser", "5551234@Alice Adams", "AMISGW", 1021, -1, 2, "1001", "5551234"},
    {"Kind2Unknown", "5551234@nobody", "AMISGW", 1021, -1, 2, "", "5551234"},
    {"Kind2Ambiguous", "5551234@desk", "AMISGW", 1021, -1, 2, "3002", "5551234"},
    {"Kind2NoAt", "5551234", "AMISGW", 22, -1, 2},
    {"Kind2NameCutAway", String(128, 'a') + "@amis.example.com", "AMISGW", 22, -1, 2},
    // Kind 3: a directory name of a user on the node.
    {"Kind3", "operator", "DALLAS", 0, 3001, 3, "3001"},
    {"Kind3Ambiguous", "desk", "DALLAS", 34, -1, 3, "3002"},
    {"Kind3NoMailbox", "lobby", "DALLAS", 1114, -1, 3},
    {"Kind3OtherNode", "Bob Brown", "DALLAS", 22, -1, 3, "1002"},
    {"Kind3NameOf31", String(31, 'c'), "DALLAS", 0, 3005, 3, "3005"},
    {"Kind3NameOf32", String(32, 'c'), "DALLAS", 22, -1, 3},
    // Node 9001: "!" and the text before the first "@".
    {"Bang", "jsmith@anything", "CALLNET", 0, 9101, 9001, "90011234567"},
    {"BangNoAt", "jsmith", "CALLNET", 0, 9101, 9001, "90011234567"},
    {"BangNotDoubled", "!jsmith", "CALLNET", 22, -1, 9001},
    {"BangNameOf31", String(30, 'a') + "@x", "CALLNET", 0, 9102, 9001, "9102"},
    {"BangNameOf32Refused", String(31, 'b'), "CALLNET", 22, -1, 9001},
    {"BangLong", String(4000, 'b') + "@x", "CALLNET", 22, -1, 9001},
    // Kind 4: the complete address, found among the node's addresses.
    {"Kind4", "jane.doe@example.net", "INTERNET", 0, 1005, 10001, "", "", "jane.doe@example.net"},
    {"Kind4Unknown", "john@example.net", "INTERNET", 1114, -1, 10001, "", "", "john@example.net"},
    {"Kind4Empty", "", "INTERNET", 22, -1, 10001},
    {"Kind4Long", String(600, 'j'), "INTERNET", 1114, -1, 10001, "", "", String(511, 'j')},
    // A node in 10001..10064 without network data is kind 0, not kind 4.
    {"Kind0", "jane.doe@example.net", "SPARE", 22, -1, 10064},
};

class Locate : public Address, public ::testing::WithParamInterface<LocateCase> {};

TEST_P(Locate, ResultAndOutputs) {
    const LocateCase& c = GetParam();
    long id = 77;
    short node = 77;
    char mailbox[MAILBOX_SIZE] = "old";
    char localPart[ADDRESS_SIZE] = "old";
    char fullAddress[ADDRESS_SIZE] = "old";
    EXPECT_EQ(
        locate_address(c.address.c_str(), c.nodeName, &id, &node, mailbox, localPart, fullAddress),
        c.result);
    EXPECT_EQ(id, c.userId);
    EXPECT_EQ(node, c.node);
    EXPECT_STREQ(mailbox, c.mailbox);
    EXPECT_STREQ(localPart, c.localPart);
    EXPECT_EQ(String(fullAddress), c.fullAddress);
    EXPECT_TRUE(traces->messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, Locate, ::testing::ValuesIn(kLocate),
                         [](const auto& info) { return String(info.param.id); });

struct BuildCase {
    const char* id;
    long item;
    std::vector<std::pair<short, String>> attributes;  // of the item, created first
    int result;
    String address;
    const char* nodeName = "";
};

const BuildCase kBuild[] = {
    {"LocalItem", 42, {}, 0, "1001@HQ", "HQ"},
    // Items 1..100000 and 1048576 are node 0's: attribute 206 is not read.
    {"LowestLocal", 1, {{206, "1"}, {172, "55"}}, 0, "55@HQ", "HQ"},
    {"Item1048576", 1048576, {{206, "1"}, {172, "55"}}, 0, "55@HQ", "HQ"},
    {"FirstOther", 100001, {{206, "1"}, {172, "55"}}, 0, "55@BOSTON", "BOSTON"},
    {"NoNode1137", 100002, {{172, "77"}}, 0, "77@HQ", "HQ"},
    {"Kind2",
     200002,
     {{206, "2"}, {172, "amis.example.com"}, {175, "5551234"}},
     0,
     "5551234@amis.example.com",
     "AMISGW"},
    {"Kind2Longest",
     200012,
     {{206, "2"}, {172, String(255, 'd')}, {175, String(255, 'l')}},
     0,
     String(255, 'l') + "@" + String(255, 'd'),
     "AMISGW"},
    {"Kind4",
     200004,
     {{206, "10001"}, {172, "example.net"}, {192, String(511, 'j')}},
     0,
     String(511, 'j'),
     "INTERNET"},
    {"Kind0", 200009, {{206, "10064"}, {172, "spare"}}, 1114, "", "SPARE"},
    {"UnknownItem", 999999, {}, 1114, ""},
    {"No172", 200010, {{206, "1"}}, 1114, ""},
    {"Kind2No175", 200011, {{206, "2"}, {172, "amis.example.com"}}, 1114, "", "AMISGW"},
    {"UnknownNode", 200015, {{206, "77"}, {172, "1"}}, 1114, ""},
    {"NodeNotANumber", 200016, {{206, "1x"}, {172, "1"}}, 1114, ""},
    {"Attribute172TooLong", 200018, {{206, "1"}, {172, String(300, '1')}}, 1114, ""},
};

class Build : public Address, public ::testing::WithParamInterface<BuildCase> {};

TEST_P(Build, AddressAndNodeName) {
    const BuildCase& c = GetParam();
    if (c.item != 42 && c.item != 999999) {
        item(c.item);
        for (const auto& [attr, value] : c.attributes) attribute(c.item, attr, value);
    }
    char address[ADDRESS_SIZE] = "";
    char nodeName[NODE_NAME_SIZE] = "";
    EXPECT_EQ(construct_address(c.item, address, nodeName), c.result);
    if (c.result == 0) {
        EXPECT_EQ(String(address), c.address);
    }
    EXPECT_STREQ(nodeName, c.nodeName);
}

INSTANTIATE_TEST_SUITE_P(Cases, Build, ::testing::ValuesIn(kBuild),
                         [](const auto& info) { return String(info.param.id); });

}  // namespace

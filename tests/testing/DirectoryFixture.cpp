#include "tests/testing/DirectoryFixture.h"

#include "host/platform/PlatformDatabase.h"

namespace {

struct Node {
    short number;
    const char* name;
    const char* type;  // null: no type
};
struct User {
    long id;
    short node;
    const char* mailbox;
    String name;
};

// Kind 1: HQ, BOSTON, ELEVENCHARS, CASE ("Amisac"), ODD ("calldx"); kind 2:
// AMISGW; kind 3: DALLAS, SDALLAS, CALLNET (9001); kind 4: INTERNET; kind 0:
// SPARE (in 10001..10064 without a type).
const Node kNodes[] = {
    {0, "HQ", "orvex"},          {1, "BOSTON", "orvex"},      {2, "AMISGW", "amisac"},
    {3, "DALLAS", "calld"},      {4, "ELEVENCHARS", "orvex"}, {5, "CASE", "Amisac"},
    {6, "ODD", "calldx"},        {7, "SDALLAS", "scalld"},    {9001, "CALLNET", "scalld"},
    {10001, "INTERNET", "vpim"}, {10064, "SPARE", nullptr}};

const User kUsers[] = {{1001, 0, "1001", "Alice Adams"},
                       {1002, 1, "1002", "Bob Brown"},
                       {1004, 4, "4", "Eve"},
                       {1005, 0, "1005", "Jane Doe"},
                       {2001, 2, "", "amis.example.com"},
                       {3001, 3, "3001", "operator"},
                       {3002, 3, "3002", "desk"},
                       {3003, 3, "3003", "desk"},
                       {3004, 3, "", "lobby"},
                       {3005, 3, "3005", String(31, 'c')},
                       {9101, 9001, "90011234567", "!jsmith"},
                       {9102, 9001, "9102", "!" + String(30, 'a')},
                       {9103, 9001, "9103", "!" + String(30, 'b')}};

}  // namespace

void DirectoryFixture::SetUp() {
    PlatformFixture::SetUp();
    ASSERT_TRUE(PlatformDatabase::create()) << PlatformDatabase::lastError();
    for (const Node& n : kNodes)
        ASSERT_TRUE(PlatformDatabase::addNode(
            n.number, n.name, n.type ? std::optional<String>(n.type) : std::nullopt))
            << PlatformDatabase::lastError();
    for (const User& u : kUsers)
        ASSERT_TRUE(PlatformDatabase::addUser(u.id, u.node, u.mailbox, u.name))
            << PlatformDatabase::lastError();
    ASSERT_TRUE(PlatformDatabase::addAddress(10001, "jane.doe@example.net", 1005))
        << PlatformDatabase::lastError();
    item(42);
    attribute(42, 172, "1001");
}

void DirectoryFixture::item(long number) const {
    ASSERT_TRUE(PlatformDatabase::addItem(number)) << PlatformDatabase::lastError();
}

void DirectoryFixture::attribute(long number, short attr, const String& value) const {
    ASSERT_TRUE(PlatformDatabase::setAttribute(number, attr, value))
        << PlatformDatabase::lastError();
}

#include "host/vmcfg/DemoDirectory.h"

#include <memory>
#include <optional>
#include <ostream>

#include "host/common/PropsTarget.h"
#include "host/platform/PlatformDatabase.h"
#include "host/vmcfg/DemoContent.h"
#include "platform/FileSystem.h"
#include "platform/MessageStore.h"
#include "properties/MessageProperties.h"

namespace {

struct Node {
    short number;
    const char* name;
    const char* type;  // null: no type in the node's network data
};
struct User {
    long id;
    short node;
    const char* mailbox;  // "": a directory entry without a mailbox
    const char* name;
};
struct Address {
    short node;
    const char* address;
    long user;
};
struct Attribute {
    long item;
    short attr;
    const char* value;
};
struct MessageFile {
    const char* path;
    const char* proxyReplyTo;
};

const Node kNodes[] = {{0, "HQ", "orvex"},          {1, "BOSTON", "orvex"},
                       {2, "AMISGW", "amisac"},     {3, "DALLAS", "calld"},
                       {9001, "CALLNET", "scalld"}, {10001, "INTERNET", "vpim"},
                       {10064, "SPARE", nullptr}};

const User kUsers[] = {{1001, 0, "1001", "Alice Adams"},
                       {1002, 1, "1002", "Bob Brown"},
                       {1003, 1, "1003", "Carol Chen"},
                       {1005, 0, "1005", "Jane Doe"},
                       {2001, 2, "", "amis.example.com"},
                       {3001, 3, "3001", "operator"},
                       {3002, 3, "3002", "desk"},
                       {3003, 3, "3003", "desk"},
                       {3004, 3, "", "lobby"},
                       {9101, 9001, "90011234567", "!jsmith"}};

const Address kAddresses[] = {{10001, "jane.doe@example.net", 1005}};

const char kMessage2[] = "/VM/orvex/sd/msg/1001/0002.prop";
const char kMessage3[] = "/VM/orvex/sd/msg/1001/0003.prop";
const char kMessage4[] = "/VM/orvex/sd/msg/1001/0004.prop";

// Items up to 100000 belong to the local node 0; the others name their node
// in attribute 206.
const long kItems[] = {42, 200001, 200002, 200003, 200004, 200005, 200006, 200007, 200008, 200009};
const Attribute kAttributes[] = {{42, 172, "1001"},
                                 {200001, 206, "1"},
                                 {200001, 172, "1002"},
                                 {200001, 269, "/VM/orvex/sd/msg/1001/0001.prop"},
                                 {200002, 206, "2"},
                                 {200002, 172, "amis.example.com"},
                                 {200002, 175, "5551234"},
                                 {200003, 206, "9001"},
                                 {200003, 172, "!jsmith"},
                                 {200004, 206, "10001"},
                                 {200004, 172, "example.net"},
                                 {200004, 192, "jane.doe@example.net"},
                                 {200005, 206, "1"},
                                 {200005, 172, "1003"},
                                 {200005, 269, kMessage2},
                                 {200006, 206, "1"},
                                 {200006, 172, "1003"},
                                 {200006, 269, kMessage3},
                                 {200007, 206, "1"},
                                 {200007, 172, "1003"},
                                 {200007, 269, kMessage4},
                                 {200008, 206, "1"},
                                 {200008, 172, "1003"},
                                 {200009, 206, "10064"},
                                 {200009, 172, "spare"}};

const MessageFile kMessageFiles[] = {
    {kMessage2, "1002@BOSTON@BOSTON"}, {kMessage3, "jsmith@CALLNET"}, {kMessage4, "Bob Brown"}};

bool seed(std::ostream& err) {
    auto refused = [&](const String& what) {
        err << "vmcfg: can't write " << what << " to " << PlatformDatabase::path << ": "
            << PlatformDatabase::lastError() << std::endl;
        return false;
    };
    if (!PlatformDatabase::create()) return refused("the schema");
    for (const Node& n : kNodes)
        if (!PlatformDatabase::addNode(n.number, n.name,
                                       n.type ? std::optional<String>(n.type) : std::nullopt))
            return refused(String("node ") + n.name);
    for (const User& u : kUsers)
        if (!PlatformDatabase::addUser(u.id, u.node, u.mailbox, u.name))
            return refused("user " + std::to_string(u.id));
    for (const Address& a : kAddresses)
        if (!PlatformDatabase::addAddress(a.node, a.address, a.user))
            return refused(String("address ") + a.address);
    for (long item : kItems)
        if (!PlatformDatabase::addItem(item)) return refused("item " + std::to_string(item));
    for (const Attribute& a : kAttributes)
        if (!PlatformDatabase::setAttribute(a.item, a.attr, a.value))
            return refused("attribute " + std::to_string(a.attr) + " of item " +
                           std::to_string(a.item));
    return true;
}

bool writeMessageFile(const MessageFile& file, std::vector<String>& created, std::ostream& err) {
    Path path(file.path);
    if (FileSystem::exists(path)) return true;
    FileSystem::makeDirectories(Path(path.text().substr(0, path.text().rfind('/'))));
    std::unique_ptr<Properties> set(
        Properties::factory(MessageProperties::factoryName, Properties::PropertiesID(path.text())));
    Property p;
    p.name = Proxy_Reply_To;
    p.value.modify(file.proxyReplyTo, 0);
    if (auto known = PropsTarget::knownAttributes(*set, p.name)) p.attributes = *known;
    set->put(p, PropertyAttributes::Server);
    if (!set->save()) {
        err << "vmcfg: can't write " << path << ": " << Properties::error_name(set->getError())
            << std::endl;
        return false;
    }
    created.push_back(path.text() + " (1 property)");
    return true;
}

}  // namespace

bool DemoDirectory::write(std::vector<String>& created, std::ostream& err) {
    for (const MessageFile& file : kMessageFiles)
        if (!writeMessageFile(file, created, err)) return false;
    if (FileSystem::exists(PlatformDatabase::path)) return true;
    if (!seed(err)) {
        FileSystem::unlink(PlatformDatabase::path);
        return false;
    }
    created.push_back(PlatformDatabase::path.text() + " (" + std::to_string(std::size(kNodes)) +
                      " nodes, " + std::to_string(std::size(kUsers)) + " users, " +
                      std::to_string(std::size(kAddresses)) + " address, " +
                      std::to_string(std::size(kItems)) + " message-store items)");
    return true;
}

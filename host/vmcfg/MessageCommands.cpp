#include "host/vmcfg/MessageCommands.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "host/common/JsonText.h"
#include "host/common/PropertyText.h"
#include "host/vmcfg/AddressCommands.h"
#include "message/MessagePropertyUpdate.h"
#include "platform/MessageStore.h"

namespace {

using Json = nlohmann::json;
using A = PropertyAttributes;

const char kCaller[] = "vmcfg message";

// The mailbox field of the record: at most 11 bytes, not always terminated.
String recordMailbox(const MSG_ATTRS& record) {
    return String(record.mailbox, strnlen(record.mailbox, sizeof record.mailbox));
}

}  // namespace

MessageCommands::MessageCommands(CLI::App& app) {
    group_ = app.add_subcommand("message", "Property sets of stored messages");
    group_->require_subcommand(1);
    props_ = group_->add_subcommand("props", "List a message's properties");
    props_->add_option("msgid", msgid_, "Message id")->required()->check(CLI::NonNegativeNumber);
    check_ =
        group_->add_subcommand("check", "Validate and resolve a message's proxy reply address");
    check_->add_option("msgid", msgid_, "Message id")->required()->check(CLI::NonNegativeNumber);
    group_->fallthrough();
}

bool MessageCommands::selected() const {
    return group_->parsed();
}

int MessageCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    if (props_->parsed()) return props(options.json, out, err);
    return check(options.json, out, err);
}

String MessageCommands::changeMeaning(int result) {
    switch (result) {
        case MSGPROP_OK:
            return "resolved";
        case MSGPROP_NO_PERMISSION:
            return "no permission to read the property";
        case MSGPROP_NOT_PROXY_ADDRESS:
            return "the value is not a proxy address (address@node)";
        case MSGPROP_NODE_NAME_TOO_LONG:
            return "the node name is longer than 11 characters";
        default:
            return AddressCommands::locateMeaning(result, 0);
    }
}

bool MessageCommands::readSet(MessageProperties& set, String& path, std::ostream& err) const {
    char text[LONG_ATTRIBUTE_SIZE] = "";
    int rc = ret_l_attribute(msgid_, MSG_ATTRIBS, text, 3);
    if (rc == MSG_STORE_NO_ITEM) {
        err << "vmcfg: message " << msgid_ << ": no such message in the message store" << std::endl;
        return false;
    }
    if (rc != MSG_STORE_OK && rc != MSG_STORE_NO_VALUE) {
        err << "vmcfg: message " << msgid_ << ": attribute 269 can't be read (message store result "
            << rc << ")" << std::endl;
        return false;
    }
    path = text;
    rc = make_properties(set, Path(path), kCaller, msgid_);
    if (rc == MSGPROP_OK) return true;
    err << "vmcfg: message " << msgid_ << ": ";
    if (rc == MSGPROP_NO_FILE)
        err << "no property file (attribute 269 is empty)";
    else if (rc == MSGPROP_UNKNOWN_VERSION)
        err << terminalText(path) << ": unknown version (result 1211)";
    else
        err << terminalText(path) << ": can't be read: " << Properties::error_name(set.getError())
            << " (result " << rc << ")";
    err << std::endl;
    return false;
}

int MessageCommands::props(bool json, std::ostream& out, std::ostream& err) const {
    MessageProperties set;
    String path;
    if (!readSet(set, path, err)) return 1;
    Json list = Json::array();
    if (!json)
        out << "message " << msgid_ << ": " << terminalText(path) << ", " << set.count()
            << (set.count() == 1 ? " property\n" : " properties\n");
    Property p;
    for (int r; (r = set.get_next(p, A::Server, false)) != Properties::NEXT_END;) {
        if (r == Properties::NEXT_NO_SUCH_PROPERTY) break;
        if (r != Properties::NEXT_OK) continue;
        if (json)
            list.push_back(propertyJson(p));
        else
            printProperty(p, out, "  ");
    }
    if (json) out << jsonText({{"msgid", msgid_}, {"path", path}, {"properties", list}});
    return 0;
}

namespace {

// What check found out about a message's proxy reply address.
struct ProxyCheck {
    Property property;
    int got = Properties::GET_NO_SUCH_PROPERTY;
    bool valid = true;
    bool split = false;
    String address, nodeName;
    MSG_ATTRS record{};
    int result = 0;
    bool resolved = false;
    String meaning;

    bool present() const { return got != Properties::GET_NO_SUCH_PROPERTY; }
    bool readable() const { return got == Properties::GET_OK; }
    Json value(const String& text, bool shown) const { return shown ? Json(text) : Json(nullptr); }
};

ProxyCheck inspect(MessageProperties& set) {
    ProxyCheck c;
    c.property.name = Proxy_Reply_To;
    c.got = set.get(c.property, A::Server);
    bool known = c.readable() && c.property.attributes.server_known();
    if (c.readable()) {
        c.valid = validate_property(c.property);
        c.split = get_proxy_address(String(c.property.value), c.address, c.nodeName);
    }
    // A scratch record: the message itself is not changed.
    c.record.user_id = -1;
    c.record.node = -1;
    c.result = property_change(set, c.record);
    c.resolved = known && c.result == MSGPROP_OK;
    c.meaning = !c.present()             ? "nothing to resolve"
                : c.readable() && !known ? "nothing to resolve (the property is not server-known)"
                                         : MessageCommands::changeMeaning(c.result);
    return c;
}

void print(const ProxyCheck& c, std::ostream& out) {
    const String& name = Proxy_Reply_To.text();
    if (!c.present()) {
        out << "no " << name << " property: nothing to check\n";
        return;
    }
    if (!c.readable()) {
        out << name << ": not readable by Server\n";
    } else {
        out << name << ": " << terminalText(String(c.property.value))
            << "\nvalid: " << (c.valid ? "yes" : "no");
        if (c.split)
            out << " (address " << terminalText(c.address) << ", node " << terminalText(c.nodeName)
                << ")";
        out << "\n";
    }
    out << "result " << c.result << ": " << c.meaning << "\n";
    if (c.resolved)
        out << "user id: " << c.record.user_id << "\nnode: " << c.record.node
            << "\nmailbox: " << terminalText(recordMailbox(c.record)) << "\n";
}

}  // namespace

int MessageCommands::check(bool json, std::ostream& out, std::ostream& err) const {
    MessageProperties set;
    String path;
    if (!readSet(set, path, err)) return 1;
    ProxyCheck c = inspect(set);
    int status = c.valid && c.result == MSGPROP_OK ? 0 : 1;
    if (json) {
        out << jsonText({{"msgid", msgid_},
                         {"path", path},
                         {"present", c.present()},
                         {"value", c.value(String(c.property.value), c.readable())},
                         {"valid", c.valid},
                         {"address", c.value(c.address, c.split)},
                         {"node_name", c.value(c.nodeName, c.split)},
                         {"result", c.result},
                         {"meaning", c.meaning},
                         {"user_id", c.resolved ? Json(c.record.user_id) : Json(nullptr)},
                         {"node", c.resolved ? Json(c.record.node) : Json(nullptr)},
                         {"mailbox", c.value(recordMailbox(c.record), c.resolved)}});
    } else {
        out << "message " << msgid_ << ": " << terminalText(path) << "\n";
        print(c, out);
    }
    return status;
}

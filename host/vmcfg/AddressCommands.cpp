#include "host/vmcfg/AddressCommands.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "host/common/JsonText.h"
#include "host/common/PropertyText.h"
#include "platform/Directory.h"
#include "util/Address.h"

namespace {

using Json = nlohmann::json;

}  // namespace

AddressCommands::AddressCommands(CLI::App& app) {
    group_ = app.add_subcommand("address", "Locate and build network addresses");
    group_->require_subcommand(1);
    locate_ = group_->add_subcommand("locate", "Locate an address on a node in the directory");
    locate_->add_option("address", address_, "Address text")->required();
    locate_->add_option("node", nodeName_, "Node name")->required();
    build_ = group_->add_subcommand("build", "Build the address text of a message-store item");
    build_->add_option("item", item_, "Message-store item number")->required();
    group_->fallthrough();
}

bool AddressCommands::selected() const {
    return group_->parsed();
}

int AddressCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    if (locate_->parsed()) return locate(options.json, out);
    return build(options.json, out, err);
}

String AddressCommands::kindMeaning(int kind) {
    switch (kind) {
        case 1:
            return "mailbox@node";
        case 2:
            return "AMIS gateway (amisac): local@name, never located";
        case 3:
            return "call delivery (calld, scalld): a directory name";
        case 4:
            return "complete address (nodes 10001 to 10064)";
        default:
            return "no network data";
    }
}

String AddressCommands::locateMeaning(int result, short node) {
    switch (result) {
        case ADDRESS_OK:
            return "located";
        case ADDRESS_BAD_FORM:
            return "the address does not have the form of its node kind, or the directory's "
                   "answer is not acceptable";
        case ADDRESS_PASSED_ON:
            return "the directory's answer 34 (more than one user has that name)";
        case ADDRESS_NOT_ON_NODE:
            return "the address does not resolve to a user on the node";
        case ADDRESS_NOT_FOUND:
            return node == -1 ? "the directory has no node of that name"
                              : "no such user or address (or a gateway address that resolves to "
                                "the node itself)";
        default:
            return "result of the directory";
    }
}

int AddressCommands::locate(bool json, std::ostream& out) const {
    long id = -1;
    short node = -1;
    char mailbox[MAILBOX_SIZE];
    char localPart[ADDRESS_SIZE];
    char fullAddress[ADDRESS_SIZE];
    int rc = locate_address(address_.c_str(), nodeName_.c_str(), &id, &node, mailbox, localPart,
                            fullAddress);
    int kind = node == -1 ? -1 : node_kind(node);
    String meaning = locateMeaning(rc, node);
    if (json) {
        out << jsonText({{"address", address_},
                         {"node_name", nodeName_},
                         {"result", rc},
                         {"meaning", meaning},
                         {"located", rc == ADDRESS_OK},
                         {"id", rc == ADDRESS_OK ? Json(id) : Json(nullptr)},
                         {"node", node == -1 ? Json(nullptr) : Json(node)},
                         {"kind", kind == -1 ? Json(nullptr) : Json(kind)},
                         {"mailbox", mailbox},
                         {"local_part", localPart},
                         {"full_address", fullAddress}});
    } else {
        out << "result " << rc << ": " << meaning << "\n";
        if (node != -1)
            out << "node: " << node << " (" << terminalText(nodeName_) << ", kind " << kind << ": "
                << kindMeaning(kind) << ")\n";
        if (rc == ADDRESS_OK) out << "user id: " << id << "\n";
        if (mailbox[0]) out << "mailbox: " << terminalText(mailbox) << "\n";
        if (localPart[0]) out << "local part: " << terminalText(localPart) << "\n";
        if (fullAddress[0]) out << "full address: " << terminalText(fullAddress) << "\n";
    }
    return rc == ADDRESS_OK ? 0 : 1;
}

int AddressCommands::build(bool json, std::ostream& out, std::ostream& err) const {
    char address[ADDRESS_SIZE] = "";
    char nodeName[NODE_NAME_SIZE] = "";
    int rc = construct_address(item_, address, nodeName);
    if (json) {
        out << jsonText({{"item", item_},
                         {"result", rc},
                         {"address", rc == ADDRESS_OK ? Json(address) : Json(nullptr)},
                         {"node_name", rc == ADDRESS_OK ? Json(nodeName) : Json(nullptr)}});
    } else if (rc == ADDRESS_OK) {
        out << "address: " << terminalText(address) << "\nnode: " << terminalText(nodeName) << "\n";
    } else {
        err << "vmcfg: item " << item_ << ": no address (result " << rc
            << ": the item, one of its attributes, its node's network data or its node kind "
               "failed)"
            << std::endl;
    }
    return rc == ADDRESS_OK ? 0 : 1;
}

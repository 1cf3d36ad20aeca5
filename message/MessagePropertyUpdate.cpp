#include "message/MessagePropertyUpdate.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/Directory.h"
#include "platform/Regex.h"
#include "platform/Trace.h"
#include "platform/TraceService.h"
#include "util/Address.h"

namespace {

// Built when the module is loaded; both groups greedy, so group 1 runs to
// the last "@".
const Regex proxyExpression("(.*)@(.*)");

// Byte offsets of the fields of MSG_ATTRS that property_change writes.
constexpr std::size_t kUserIdOffset = 92;
constexpr std::size_t kNodeOffset = 124;
constexpr std::size_t kMailboxOffset = 472;
constexpr std::size_t kMailboxBound = 11;

}  // namespace

int make_properties(MessageProperties& set, Path const& path, String const& caller, long msgid) {
    if (path.empty()) {
        if (MC_current_trace_level() > 2)
            if (MC_current_trace_level() > 2)
                MC_std_trace() << caller << "- no property file!" << verbose;
        return MSGPROP_NO_FILE;
    }
    if (set.reinit(path)) return MSGPROP_OK;
    int error = errno;
    Properties::PropertiesError code = set.getError();
    if (code == Properties::UNKNOWN_VERSION) return MSGPROP_UNKNOWN_VERSION;
    MC_std_trace() << caller << " for msg_id:  " << msgid << ", properties.reinit(" << path
                   << ") - fails with:  " << Properties::error_name(code) << oops;
    if (code == Properties::OS_SYSTEM_ERROR)
        MC_std_trace() << "\terrno = " << error << " (" << std::strerror(error) << ")" << oops;
    return MSGPROP_FAILED;
}

bool update_properties(MessageProperties& set, unsigned long msgid) {
    bool saved = set.save();
    if (!saved) {
        int error = errno;
        Properties::PropertiesError code = set.getError();
        std::ostream& out = MC_std_trace();
        out << "update_properties() - write_to_file() (file = " << set.path()
            << " fails for msg_id=" << msgid << " fails w/error:  " << Properties::error_name(code);
        if (code == Properties::OS_SYSTEM_ERROR)
            out << ",\terrno = " << error << " (" << std::strerror(error) << ")";
        out << oops;
    }
    if (!set.holdsNone()) return saved;
    int rc = upd_msg(msgid, MSG_ATTRIBS, "", NO_CHANGE);
    if (rc != 0)
        MC_std_trace() << "update_properties() - upd_msg(" << msgid
                       << ", MSG_ATTRIBS, NULL, NO_CHANGE) returns " << rc << oops;
    return saved;
}

int update_property_path(String const& caller, MessageProperties& set, unsigned long msgid) {
    if (!set.holdsNone()) return MSGPROP_OK;
    int rc = upd_msg(msgid, MSG_ATTRIBS, set.path().c_str(), NO_CHANGE);
    if (rc == 0) return MSGPROP_OK;
    MC_std_trace() << caller << " - upd_msg(" << msgid << ", MSG_ATTRIBS, " << set.path()
                   << ", NO_CHANGE) returns " << rc << oops;
    return MSGPROP_FAILED;
}

bool validate_property(Property& property) {
    if (!property.attributes.server_known() || property.name != Proxy_Reply_To) return true;
    if (property.attributes.type() != 1) return false;
    String address, node;
    return get_proxy_address(String(property.value), address, node);
}

int property_change(MessageProperties& set, MSG_ATTRS& attributes) {
    Property p;
    p.name = Proxy_Reply_To;
    p.index = 0;
    int got = set.get(p, PropertyAttributes::Server);
    if (got == Properties::GET_NO_PERMISSION) return MSGPROP_NO_PERMISSION;
    if (got != Properties::GET_OK) return MSGPROP_OK;
    if (!p.attributes.server_known()) return MSGPROP_OK;
    String address, node;
    if (!get_proxy_address(String(p.value), address, node)) return MSGPROP_NOT_PROXY_ADDRESS;
    if (node.size() > PROXY_NODE_NAME_LENGTH) return MSGPROP_NODE_NAME_TOO_LONG;
    long id = -1;
    short number = -1;
    char mailbox[MAILBOX_SIZE];
    char localPart[ADDRESS_SIZE];
    char fullAddress[ADDRESS_SIZE];
    int rc = locate_address(address.c_str(), node.c_str(), &id, &number, mailbox, localPart,
                            fullAddress);
    if (rc != ADDRESS_OK) return rc;
    auto* record = reinterpret_cast<unsigned char*>(&attributes);
    std::int32_t user = static_cast<std::int32_t>(id);
    std::int16_t nodeNumber = number;
    std::memcpy(record + kUserIdOffset, &user, sizeof user);
    std::memcpy(record + kNodeOffset, &nodeNumber, sizeof nodeNumber);
    if (mailbox[0] != '\0') {
        // strncpy's copy: at most 11 bytes, zero-padded, unterminated when full.
        std::size_t n = strnlen(mailbox, kMailboxBound);
        std::memcpy(record + kMailboxOffset, mailbox, n);
        std::memset(record + kMailboxOffset + n, 0, kMailboxBound - n);
    }
    return MSGPROP_OK;
}

bool get_proxy_address(String const& text, String& address, String& node) {
    RegexMatch match;
    if (!proxyExpression.search(text, match)) {
        if (MC_current_trace_level() > 2)
            MC_std_trace() << "\texpression doesn't match, Regex() error:  "
                           << proxyExpression.error() << verbose;
        return false;
    }
    address = match.str(1);
    node = match.str(2);
    return true;
}

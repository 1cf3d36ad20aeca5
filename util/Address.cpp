#include "util/Address.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Directory.h"
#include "platform/MessageStore.h"

namespace {

// Message-store attributes read by construct_address.
constexpr short kNodeNumber = 206;
constexpr short kAddressText = 172;
constexpr short kLocalPart = 175;
constexpr short kCompleteAddress = 192;  // a long attribute
constexpr char kReadMode = 3;

// The node that answers for names built with a leading "!".
constexpr short kBangNode = 9001;

// Items whose node is the local node 0 without asking the message store.
bool localItem(long item) {
    return (item >= 1 && item <= 100000) || item == 1048576;
}

// The node number held by attribute 206: the empty text is node 0; anything
// but an optionally signed decimal number within 16 bits is refused.
bool parseNode(const char* text, short& node) {
    if (*text == '\0') return (node = 0), true;
    const char* digits = text + (*text == '-' || *text == '+');
    if (*digits == '\0' || std::strspn(digits, "0123456789") != std::strlen(digits)) return false;
    errno = 0;
    long value = std::strtol(text, nullptr, 10);
    if (errno != 0 || value < -32768 || value > 32767) return false;
    node = static_cast<short>(value);
    return true;
}

// Copies at most `limit` characters of text into out (limit + 1 bytes) and
// terminates it.
void copyBounded(char* out, const char* text, std::size_t limit) {
    std::size_t n = strnlen(text, limit);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

}  // namespace

int node_kind(short node) {
    char type[NETDATA_SIZE];
    if (get_netdata(node, NETDATA_NODE_TYPE, type) != 0) return 0;
    if (node >= 10001 && node <= 10064) return 4;
    if (std::strcmp(type, "amisac") == 0) return 2;
    if (std::strcmp(type, "calld") == 0 || std::strcmp(type, "scalld") == 0) return 3;
    return 1;
}

int construct_address(long item, char* address, char* nodeName) {
    short node = 0;
    if (!localItem(item)) {
        char text[ATTRIBUTE_SIZE] = "";
        int rc = ret_attribute(item, kNodeNumber, text, kReadMode);
        if (rc != MSG_STORE_OK && rc != MSG_STORE_NO_VALUE) return ADDRESS_NOT_FOUND;
        if (!parseNode(text, node)) return ADDRESS_NOT_FOUND;
    }
    char work[ATTRIBUTE_SIZE];
    if (ret_attribute(item, kAddressText, work, kReadMode) != MSG_STORE_OK)
        return ADDRESS_NOT_FOUND;
    if (get_netdata(node, NETDATA_NODE_NAME, nodeName) != 0) return ADDRESS_NOT_FOUND;
    switch (node_kind(node)) {
        case 1:
            std::snprintf(address, ADDRESS_SIZE, "%s@%s", work, nodeName);
            break;
        case 2: {
            char local[ATTRIBUTE_SIZE];
            if (ret_attribute(item, kLocalPart, local, kReadMode) != MSG_STORE_OK)
                return ADDRESS_NOT_FOUND;
            std::snprintf(address, ADDRESS_SIZE, "%s@%s", local, work);
            break;
        }
        case 3:
            std::snprintf(address, ADDRESS_SIZE, "%s", work);
            break;
        case 4:
            if (ret_l_attribute(item, kCompleteAddress, address, kReadMode) != MSG_STORE_OK)
                return ADDRESS_NOT_FOUND;
            break;
        default:
            return ADDRESS_NOT_FOUND;
    }
    return ADDRESS_OK;
}

namespace {

// A kind 1 or kind 2 address as examined: its first 129 characters, split at
// the first "@".
struct SplitAddress {
    char work[ADDRESS_WORK_LENGTH + 1];
    const char* before = nullptr;
    const char* after = nullptr;

    // False when there is no "@" or either part is empty.
    bool split(const char* address) {
        copyBounded(work, address, ADDRESS_WORK_LENGTH);
        char* at = std::strchr(work, '@');
        if (at == nullptr) return false;
        *at = '\0';
        before = work;
        after = at + 1;
        return *before != '\0' && *after != '\0';
    }
};

int locateMailbox(const char* address, const char* nodeName, short node, long* id, char* mailbox) {
    SplitAddress parts;
    if (!parts.split(address)) return ADDRESS_BAD_FORM;
    std::size_t digits = std::strlen(parts.before);
    if (std::strspn(parts.before, "0123456789") != digits || digits > 10 ||
        std::strcmp(parts.after, nodeName) != 0)
        return ADDRESS_BAD_FORM;
    std::memcpy(mailbox, parts.before, digits + 1);
    short count = 1, found = 0, userNode = -1;
    long user = -1;
    char userMailbox[MAILBOX_SIZE] = "";
    int rc = find_user(node, parts.before, FIND_BY_MAILBOX, &count, &user, userMailbox, &found,
                       &userNode);
    if (rc == DIRECTORY_OK) {
        *id = user;
        return ADDRESS_OK;
    }
    return rc == DIRECTORY_NOT_FOUND ? ADDRESS_NOT_FOUND : ADDRESS_BAD_FORM;
}

// Never 0: the module does not locate users through such a node.
int locateGateway(const char* address, short node, char* mailbox, char* localPart) {
    SplitAddress parts;
    if (!parts.split(address)) return ADDRESS_BAD_FORM;
    std::memcpy(localPart, parts.before, std::strlen(parts.before) + 1);
    short count = 1, found = 0, userNode = -1;
    long user = -1;
    int rc = find_user(node, parts.after, FIND_BY_NAME, &count, &user, mailbox, &found, &userNode);
    if (rc == DIRECTORY_NOT_FOUND && found == 1)
        return userNode == node ? ADDRESS_NOT_FOUND : ADDRESS_NOT_ON_NODE;
    return ADDRESS_NOT_ON_NODE;
}

int locateName(const char* address, short node, long* id, char* mailbox) {
    if (*address == '\0') return ADDRESS_BAD_FORM;
    char name[DIRECTORY_NAME_LENGTH + 1];
    if (node == kBangNode) {
        const char* at = std::strchr(address, '@');
        std::size_t length = at ? static_cast<std::size_t>(at - address) : std::strlen(address);
        if (length + 1 > DIRECTORY_NAME_LENGTH) return ADDRESS_BAD_FORM;
        std::snprintf(name, sizeof name, "%c%.*s", '!', static_cast<int>(length), address);
    } else {
        if (std::strlen(address) > DIRECTORY_NAME_LENGTH) return ADDRESS_BAD_FORM;
        copyBounded(name, address, DIRECTORY_NAME_LENGTH);
    }
    short count = 1, found = 0, userNode = -1;
    long user = -1;
    int rc = find_user(node, name, FIND_BY_NAME, &count, &user, mailbox, &found, &userNode);
    if ((rc != DIRECTORY_OK && rc != DIRECTORY_MORE_MATCHES && rc != DIRECTORY_NOT_FOUND) ||
        found != 1 || userNode != node)
        return ADDRESS_BAD_FORM;
    if (rc != DIRECTORY_OK) return rc;
    *id = user;
    return ADDRESS_OK;
}

int locateComplete(const char* address, short node, long* id, char* fullAddress) {
    if (*address == '\0') return ADDRESS_BAD_FORM;
    copyBounded(fullAddress, address, ADDRESS_SIZE - 1);
    short count = 1;
    long user = -1;
    char found = 0;
    char other[MAILBOX_SIZE] = "";
    int rc = find_address(node, address, "", &count, &user, &found, other);
    if (rc != DIRECTORY_OK || found == 0) return ADDRESS_NOT_FOUND;
    *id = user;
    return ADDRESS_OK;
}

}  // namespace

int locate_address(const char* address, const char* nodeName, long* id, short* node, char* mailbox,
                   char* localPart, char* fullAddress) {
    *id = -1;
    mailbox[0] = localPart[0] = fullAddress[0] = '\0';
    if (address == nullptr) address = "";
    if (nodeName == nullptr) nodeName = "";
    char scratch[NODE_NAME_SIZE];
    if (find_node(nodeName, scratch, node) != DIRECTORY_OK) {
        *node = -1;
        return ADDRESS_NOT_FOUND;
    }
    switch (node_kind(*node)) {
        case 1:
            return locateMailbox(address, nodeName, *node, id, mailbox);
        case 2:
            return locateGateway(address, *node, mailbox, localPart);
        case 3:
            return locateName(address, *node, id, mailbox);
        case 4:
            return locateComplete(address, *node, id, fullAddress);
        default:
            return ADDRESS_BAD_FORM;
    }
}

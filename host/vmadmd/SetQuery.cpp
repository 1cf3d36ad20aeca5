#include "host/vmadmd/SetQuery.h"

#include <algorithm>
#include <charconv>

#include "platform/MessageStore.h"

namespace {

constexpr std::pair<const char*, PropsTarget::Kind> kKinds[] = {
    {"system", PropsTarget::SYSTEM},         {"cos", PropsTarget::COS},
    {"subscriber", PropsTarget::SUBSCRIBER}, {"message", PropsTarget::MESSAGE},
    {"msgid", PropsTarget::MESSAGE},         {"file", PropsTarget::FILE}};

const char* const kNameOne =
    "name one set: ?system, ?cos=N, ?subscriber=N, ?message=PATH, ?msgid=N or ?file=PATH";

// The path of a stored message's property file, which the message store
// keeps in the message's attribute 269; false with the reason otherwise.
bool messagePath(const String& id, String& path, String& error) {
    long number = -1;
    auto [end, failed] = std::from_chars(id.data(), id.data() + id.size(), number);
    if (failed != std::errc() || end != id.data() + id.size() || number < 0) {
        error = "msgid: \"" + id + "\" is not a message id (a whole number)";
        return false;
    }
    char text[LONG_ATTRIBUTE_SIZE] = "";
    int rc = ret_l_attribute(number, MSG_ATTRIBS, text, 3);
    if (rc == MSG_STORE_NO_ITEM) {
        error = "msgid: no message " + id + " in the message store";
        return false;
    }
    if ((rc != MSG_STORE_OK && rc != MSG_STORE_NO_VALUE) || text[0] == '\0') {
        error = "msgid: message " + id + " has no property file (attribute 269: result " +
                std::to_string(rc) + ")";
        return false;
    }
    path = text;
    return true;
}

}  // namespace

bool SetQuery::parse(const Query& query, std::span<const std::string_view> others, String& error) {
    PropsTarget::Kind kind = PropsTarget::NONE;
    String argument;
    for (const auto& [name, value] : query) {
        if (std::find(others.begin(), others.end(), name) != others.end()) continue;
        auto known = std::find_if(std::begin(kKinds), std::end(kKinds),
                                  [&](const auto& entry) { return name == entry.first; });
        if (known == std::end(kKinds)) {
            error = "unknown parameter \"" + name + "\"; " + kNameOne;
            return false;
        }
        if (kind != PropsTarget::NONE) {
            error = kNameOne;
            return false;
        }
        kind = known->second;
        argument = value;
        if (name == "msgid" && !messagePath(value, argument, error)) return false;
    }
    if (kind == PropsTarget::NONE) {
        error = kNameOne;
        return false;
    }
    return target_.choose(kind, argument, error);
}

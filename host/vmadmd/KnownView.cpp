#include "host/vmadmd/KnownView.h"

#include <memory>

#include "host/common/JsonText.h"
#include "properties/COSProperties.h"
#include "properties/MessageProperties.h"
#include "properties/SubscriberProperties.h"
#include "properties/SystemProperties.h"

namespace {

// An empty set of the kind, only to reach the kind's fixed table.
std::unique_ptr<Properties> setOfKind(const std::string& kind) {
    if (kind == "MESSAGE") return std::make_unique<MessageProperties>();
    if (kind == "SYSTEM") return std::make_unique<SystemProperties>();
    if (kind == "COS") return std::make_unique<COSProperties>();
    if (kind == "SUBSCRIBER") return std::make_unique<SubscriberProperties>();
    return nullptr;
}

}  // namespace

ConsoleReply KnownView::fixedNames(const std::multimap<std::string, std::string>& query) {
    auto kind = query.find("kind");
    std::unique_ptr<Properties> set =
        kind != query.end() && query.size() == 1 ? setOfKind(kind->second) : nullptr;
    if (!set) return ConsoleReply::error(400, "kind: give one of MESSAGE, SYSTEM, COS, SUBSCRIBER");
    const Properties::knownInfo& info = set->getKnown();
    nlohmann::json names = nlohmann::json::array();
    for (std::uint32_t i = 0; i < info.count; ++i) {
        nlohmann::json entry = nlohmann::json::object();
        putBytes(entry, "name", info.table[i].name->text());
        names.push_back(entry);
    }
    return {200, names};
}

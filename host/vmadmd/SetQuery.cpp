#include "host/vmadmd/SetQuery.h"

#include <algorithm>

#include "properties/COSProperties.h"
#include "properties/MessageProperties.h"
#include "properties/SubscriberProperties.h"
#include "properties/SystemProperties.h"

namespace {

constexpr std::pair<const char*, PropsTarget::Kind> kKinds[] = {
    {"system", PropsTarget::SYSTEM},
    {"cos", PropsTarget::COS},
    {"subscriber", PropsTarget::SUBSCRIBER},
    {"message", PropsTarget::MESSAGE},
    {"file", PropsTarget::FILE}};

const char* const kNameOne =
    "name one set: ?system, ?cos=N, ?subscriber=N, ?message=PATH or ?file=PATH";

}  // namespace

bool SetQuery::parse(const Query& query, std::span<const std::string_view> others, String& error) {
    kind_ = PropsTarget::NONE;
    for (const auto& [name, value] : query) {
        if (std::find(others.begin(), others.end(), name) != others.end()) continue;
        auto known = std::find_if(std::begin(kKinds), std::end(kKinds),
                                  [&](const auto& entry) { return name == entry.first; });
        if (known == std::end(kKinds)) {
            error = "unknown parameter \"" + name + "\"; " + kNameOne;
            return false;
        }
        if (kind_ != PropsTarget::NONE) {
            error = kNameOne;
            return false;
        }
        kind_ = known->second;
        argument_ = value;
    }
    if (kind_ == PropsTarget::NONE) {
        error = kNameOne;
        return false;
    }
    return target_.choose(kind_, argument_, error);
}

std::string SetQuery::journalKind() const {
    switch (kind_) {
        case PropsTarget::SYSTEM:
            return SystemProperties::factoryName.text();
        case PropsTarget::MESSAGE:
            return MessageProperties::factoryName.text();
        case PropsTarget::COS:
            return COSProperties::factoryName.text();
        case PropsTarget::SUBSCRIBER:
            return SubscriberProperties::factoryName.text();
        default:
            return std::string();
    }
}

std::string SetQuery::journalKey() const {
    // A record number is filed in decimal: "007" names record 7.
    if (kind_ == PropsTarget::COS || kind_ == PropsTarget::SUBSCRIBER)
        return std::to_string(std::stoul(argument_));
    return target_.filePath().text();
}

#include "host/vmadmd/SetQuery.h"

#include <algorithm>

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
    }
    if (kind == PropsTarget::NONE) {
        error = kNameOne;
        return false;
    }
    return target_.choose(kind, argument, error);
}

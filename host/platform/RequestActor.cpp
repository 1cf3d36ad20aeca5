#include "host/platform/RequestActor.h"

#include <algorithm>

bool RequestActor::valid(std::string_view actor) {
    return !actor.empty() && actor.size() <= maxLength &&
           std::none_of(actor.begin(), actor.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::int32_t RequestActor::append(std::int32_t type, String& body, std::string_view actor) {
    if (!valid(actor)) return type;
    body.append(actor);
    body.push_back(static_cast<char>(actor.size()));
    return type | typeFlag;
}

bool RequestActor::take(std::int32_t type, String& body, std::string& actor, std::size_t maxBody) {
    actor.clear();
    if ((type & typeFlag) != 0) {
        if (body.empty()) return false;
        std::size_t length = static_cast<unsigned char>(body.back());
        if (length + 1 > body.size()) return false;
        actor.assign(body, body.size() - 1 - length, length);
        body.resize(body.size() - 1 - length);
        if (!valid(actor)) return false;
    }
    return body.size() <= maxBody;
}

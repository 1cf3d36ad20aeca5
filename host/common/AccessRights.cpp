#include "host/common/AccessRights.h"

#include <strings.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

using A = PropertyAttributes;

// The classes from most to least privileged: what one may do, all before it may.
const std::pair<const char*, A::AccessType> kChain[] = {
    {"Server", A::Server},     {"Privileged", A::Privileged}, {"Trusted", A::Trusted},
    {"Standard", A::Standard}, {"Restricted", A::Restricted}, {"Minimal", A::Minimal}};

}  // namespace

bool parseAccessClass(const String& text, A::AccessType& access) {
    for (const auto& [name, a] : kChain)
        if (strcasecmp(name, text.c_str()) == 0) return (access = a), true;
    return false;
}

const char* accessClassName(A::AccessType access) {
    for (const auto& [name, a] : kChain)
        if (a == access) return name;
    return "?";
}

A::AccessType chainClass(int position) {
    return kChain[position].second;
}

bool parseRights(const String& text, bool (&flags)[6], String& bad) {
    std::fill(std::begin(flags), std::end(flags), false);
    if (strcasecmp(text.c_str(), "none") == 0) return true;
    if (strcasecmp(text.c_str(), "all") == 0) {
        std::fill(std::begin(flags), std::end(flags), true);
        return true;
    }
    std::size_t start = 0;
    while (true) {
        std::size_t comma = text.find(',', start);
        String word = text.substr(start, comma == String::npos ? String::npos : comma - start);
        word.erase(0, word.find_first_not_of(' '));
        word.erase(word.find_last_not_of(' ') + 1);
        A::AccessType access;
        if (!parseAccessClass(word, access)) {
            bad = word;
            return false;
        }
        for (int i = 0; i < 6; ++i)
            if (kChain[i].second == access) flags[i] = true;
        if (comma == String::npos) return true;
        start = comma + 1;
    }
}

#pragma once

// The anchors of the property stream's benchmarks: a minimal reader and
// writer of the same text format, built on std::from_chars/to_chars over
// ordered maps of the same shape as a set's. They check only what keeps them
// inside the bytes; a benchmark checks once, untimed, that they give the same
// set or bytes as the module.

#include <charconv>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

struct MinimalRecord {
    std::string attributes;
    std::string value;
};
using MinimalSet = std::map<std::string, std::map<std::uint32_t, MinimalRecord>>;

// Parses the stream format with std::from_chars into ordered maps, inserting
// with an end hint; checks only what keeps it inside the bytes. Values stay in
// memory whatever their size.
inline bool minimalRead(std::string_view in, MinimalSet& set) {
    const char* p = in.data();
    const char* end = p + in.size();
    auto number = [&](auto& out, int base = 10) {
        auto [next, ec] = std::from_chars(p, end, out, base);
        p = next;
        return ec == std::errc() && p < end;
    };
    auto header = [&](std::uint64_t& out) {
        p = static_cast<const char*>(std::memchr(p, '=', static_cast<std::size_t>(end - p)));
        if (p == nullptr) return false;
        ++p;
        return number(out) && *p++ == '\n';
    };
    std::uint64_t version = 0, count = 0;
    if (!header(version) || !header(count)) return false;
    auto last = set.end();
    for (std::uint64_t i = 0; i < count; ++i) {
        std::size_t nameLength = 0, attributeCount = 0, valueLength = 0;
        std::uint32_t index = 0;
        if (!number(nameLength) || end - p < static_cast<long>(nameLength) + 2) return false;
        std::string name(p + 1, nameLength);
        p += nameLength + 2;
        if (!number(index)) return false;
        ++p;
        MinimalRecord record;
        if (!number(attributeCount)) return false;
        ++p;
        for (std::size_t b = 0; b < attributeCount; ++b) {
            unsigned byte = 0;
            if (!number(byte, 16)) return false;
            record.attributes.push_back(static_cast<char>(byte));
            ++p;
        }
        ++p;
        if (!number(valueLength) || end - p < static_cast<long>(valueLength) + 4) return false;
        record.value.assign(p + 1, valueLength);
        p += valueLength + 4;
        // A stored stream is sorted: each name and index goes at the end, as
        // the set places them.
        if (last == set.end() || last->first != name)
            last = set.emplace_hint(set.end(), std::move(name), MinimalSet::mapped_type());
        last->second.emplace_hint(last->second.end(), index, std::move(record));
    }
    return true;
}

// Writes a minimal set back in the stream format with std::to_chars.
inline void minimalWrite(const MinimalSet& set, std::string& out) {
    char digits[24];
    auto number = [&](std::uint64_t n, int base = 10) {
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n, base);
        out.append(digits, end);
    };
    std::size_t count = 0;
    for (const auto& [name, instances] : set) count += instances.size();
    out += "component-file-version=2\nnumber of properties=";
    number(count);
    out += '\n';
    for (const auto& [name, instances] : set)
        for (const auto& [index, record] : instances) {
            number(name.size());
            out += ' ';
            out += name;
            out += ' ';
            number(index);
            out += '\n';
            number(record.attributes.size());
            out += ' ';
            for (unsigned char c : record.attributes) {
                number(c, 16);
                out += ' ';
            }
            out += '\n';
            number(record.value.size());
            out += ' ';
            out += record.value;
            out += " \n\n";
        }
}

#include "host/common/SetDifference.h"

#include <map>
#include <ostream>
#include <utility>

#include "host/common/JsonText.h"
#include "host/common/PropertyText.h"
#include "properties/Properties.h"

namespace {

using Copies = std::map<std::pair<String, std::uint32_t>, Property>;

Copies visibleCopies(Properties& set, PropertyAttributes::AccessType access) {
    Copies copies;
    forEachVisible(set, access, String(), [&](const Property& p) {
        copies.emplace(std::pair{String(p.name.text()), p.index}, p);
    });
    return copies;
}

bool same(const Property& a, const Property& b) {
    return String(a.value) == String(b.value) && String(a.attributes) == String(b.attributes);
}

String shortText(const String& bytes) {
    return terminalText(bytes, 200);
}

}  // namespace

std::vector<SetDifference::Row> SetDifference::between(Properties& before, Properties& after,
                                                       PropertyAttributes::AccessType access) {
    Copies old = visibleCopies(before, access), now = visibleCopies(after, access);
    std::vector<Row> rows;
    auto o = old.begin(), n = now.begin();
    while (o != old.end() || n != now.end()) {
        if (n == now.end() || (o != old.end() && o->first < n->first)) {
            rows.push_back({Op::Removed, (o++)->second, std::nullopt});
        } else if (o == old.end() || n->first < o->first) {
            rows.push_back({Op::Added, std::nullopt, (n++)->second});
        } else {
            if (!same(o->second, n->second)) rows.push_back({Op::Changed, o->second, n->second});
            ++o;
            ++n;
        }
    }
    return rows;
}

const char* SetDifference::opName(Op op) {
    return op == Op::Added ? "added" : op == Op::Removed ? "removed" : "changed";
}

nlohmann::json SetDifference::json(const Row& row) {
    const Property& p = row.either();
    nlohmann::json out = {{"index", p.index}, {"op", opName(row.op)}};
    putBytes(out, "name", p.name.text());
    for (auto [side, value, attributes] : {std::tuple{&row.before, "old_value", "old_attributes"},
                                           std::tuple{&row.after, "new_value", "new_attributes"}}) {
        if (!*side) {
            out[value] = nullptr;
            out[attributes] = nullptr;
            continue;
        }
        putBytes(out, value, String((*side)->value));
        nlohmann::json a = propertyJson(**side);
        for (const char* field : {"name", "name_hex", "index", "length", "value", "value_hex"})
            a.erase(field);
        out[attributes] = std::move(a);
    }
    return out;
}

void SetDifference::print(const Row& row, std::ostream& out) {
    const Property& p = row.either();
    out << (row.op == Op::Added     ? "+ "
            : row.op == Op::Removed ? "- "
                                    : "~ ")
        << terminalText(p.name.text()) << "#" << p.index << " ";
    if (row.op != Op::Changed) {
        out << shortText(String(p.value)) << "\n";
        return;
    }
    out << shortText(String(row.before->value)) << " -> " << shortText(String(row.after->value));
    String was = attributeWords(row.before->attributes), is = attributeWords(row.after->attributes);
    if (was != is) out << "\n    " << was << "\n -> " << is;
    out << "\n";
}

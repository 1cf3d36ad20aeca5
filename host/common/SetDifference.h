#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "properties/Property.h"
#include "properties/PropertyAttributes.h"

class Properties;

// What differs between two property sets, copy by copy (a name and an
// index): a copy only in the second set was added, one only in the first was
// removed, one in both with other value bytes or attribute bytes was
// changed. Only the copies the access class may read take part, so a value
// is never shown to a class that may not read it. Rows come in the order of
// name bytes, then index.
class SetDifference {
  public:
    enum class Op { Added, Removed, Changed };

    struct Row {
        Op op = Op::Changed;
        std::optional<Property> before;  // absent for Added
        std::optional<Property> after;   // absent for Removed
        const Property& either() const { return after ? *after : *before; }
    };

    static std::vector<Row> between(Properties& before, Properties& after,
                                    PropertyAttributes::AccessType access);

    static const char* opName(Op op);
    // A flat row: name, index, op, old_value, new_value (with *_hex twins
    // when the bytes are not UTF-8), old_attributes, new_attributes (read,
    // write, version, type, server_known, forwardable); absent sides null.
    static nlohmann::json json(const Row& row);
    // "+ NAME#I VALUE", "- NAME#I VALUE" or "~ NAME#I OLD -> NEW" (and the
    // attributes in words when they changed), bytes escaped for a terminal;
    // values over 200 bytes are cut.
    static void print(const Row& row, std::ostream& out);
};

#include "properties/PropertyInstances.h"

#include <algorithm>
#include <utility>

namespace {

bool indexBefore(const Property& instance, std::uint32_t index) {
    return instance.index < index;
}

}  // namespace

std::vector<Property>::iterator PropertyInstances::position(std::uint32_t index) {
    // Sorted input appends: one comparison with the last instance.
    if (items_.empty() || items_.back().index < index) return items_.end();
    return std::lower_bound(items_.begin(), items_.end(), index, indexBefore);
}

PropertyInstances::const_iterator PropertyInstances::find(std::uint32_t index) const {
    auto at = std::lower_bound(items_.begin(), items_.end(), index, indexBefore);
    return at != items_.end() && at->index == index ? at : items_.end();
}

void PropertyInstances::assign(const Property& p) {
    auto at = position(p.index);
    if (at != items_.end() && at->index == p.index)
        *at = p;
    else
        items_.insert(at, p);
}

void PropertyInstances::assign(Property&& p) {
    auto at = position(p.index);
    if (at != items_.end() && at->index == p.index)
        *at = std::move(p);
    else
        items_.insert(at, std::move(p));
}

#include "properties/PropertyInstances.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

namespace {

bool indexBefore(const Property& instance, std::uint32_t index) {
    return instance.index < index;
}

// Moves n instances into raw memory at `to` and ends them at `from`.
void relocate(Property* from, std::size_t n, Property* to) {
    for (std::size_t i = 0; i < n; ++i) {
        ::new (to + i) Property(std::move(from[i]));
        from[i].~Property();
    }
}

}  // namespace

PropertyInstances::PropertyInstances(const PropertyInstances& other) {
    reserve(other.size_);
    try {
        std::uninitialized_copy(other.begin(), other.end(), items());
    } catch (...) {
        // The copies made so far are gone; so must the block.
        if (heap_ != nullptr) ::operator delete(heap_);
        throw;
    }
    size_ = other.size_;
}

PropertyInstances::PropertyInstances(PropertyInstances&& other) noexcept {
    *this = std::move(other);
}

PropertyInstances& PropertyInstances::operator=(const PropertyInstances& other) {
    if (this != &other) {
        PropertyInstances copy(other);
        *this = std::move(copy);
    }
    return *this;
}

PropertyInstances& PropertyInstances::operator=(PropertyInstances&& other) noexcept {
    if (this == &other) return *this;
    clear();
    if (other.heap_ != nullptr) {
        heap_ = std::exchange(other.heap_, nullptr);
        capacity_ = std::exchange(other.capacity_, kInPlace);
    } else {
        relocate(other.inPlace(), other.size_, inPlace());
    }
    size_ = std::exchange(other.size_, 0);
    return *this;
}

PropertyInstances::~PropertyInstances() {
    clear();
}

void PropertyInstances::clear() {
    std::destroy_n(items(), size_);
    size_ = 0;
    if (heap_ != nullptr) ::operator delete(heap_);
    heap_ = nullptr;
    capacity_ = kInPlace;
}

void PropertyInstances::reserve(std::size_t n) {
    if (n <= capacity_) return;
    auto* bigger = static_cast<Property*>(::operator new(n * sizeof(Property)));
    relocate(items(), size_, bigger);
    if (heap_ != nullptr) ::operator delete(heap_);
    heap_ = bigger;
    capacity_ = static_cast<std::uint32_t>(n);
}

std::size_t PropertyInstances::position(std::uint32_t index) const {
    // Sorted input appends: one comparison with the last instance.
    if (size_ == 0 || back().index < index) return size_;
    return static_cast<std::size_t>(std::lower_bound(begin(), end(), index, indexBefore) - begin());
}

PropertyInstances::const_iterator PropertyInstances::find(std::uint32_t index) const {
    const Property* at = std::lower_bound(begin(), end(), index, indexBefore);
    return at != end() && at->index == index ? at : end();
}

template <class P>
void PropertyInstances::insertAt(std::size_t at, P&& p) {
    // The new instance is made first: if that throws, nothing has moved.
    Property made(std::forward<P>(p));
    if (size_ == capacity_) reserve(std::max<std::size_t>(2 * capacity_, 4));
    Property* all = items();
    if (at == size_) {
        ::new (all + size_) Property(std::move(made));
    } else {
        ::new (all + size_) Property(std::move(all[size_ - 1]));
        std::move_backward(all + at, all + size_ - 1, all + size_);
        all[at] = std::move(made);
    }
    ++size_;
}

void PropertyInstances::assign(const Property& p) {
    std::size_t at = position(p.index);
    if (at != size_ && items()[at].index == p.index)
        items()[at] = p;
    else
        insertAt(at, p);
}

void PropertyInstances::assign(Property&& p) {
    std::size_t at = position(p.index);
    if (at != size_ && items()[at].index == p.index)
        items()[at] = std::move(p);
    else
        insertAt(at, std::move(p));
}

void PropertyInstances::erase(const_iterator instance) {
    Property* all = items();
    std::size_t at = static_cast<std::size_t>(instance - all);
    std::move(all + at + 1, all + size_, all + at);
    all[size_ - 1].~Property();
    --size_;
}

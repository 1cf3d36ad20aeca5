#include "properties/PropertyInstances.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

namespace {

bool indexBefore(const StoredProperty& instance, std::uint32_t index) {
    return instance.index < index;
}

// Moves n instances into raw memory at `to` and ends them at `from`.
void relocate(StoredProperty* from, std::size_t n, StoredProperty* to) {
    for (std::size_t i = 0; i < n; ++i) {
        ::new (to + i) StoredProperty(std::move(from[i]));
        from[i].~StoredProperty();
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
    auto* bigger = static_cast<StoredProperty*>(::operator new(n * sizeof(StoredProperty)));
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
    const StoredProperty* at = std::lower_bound(begin(), end(), index, indexBefore);
    return at != end() && at->index == index ? at : end();
}

void PropertyInstances::insertAt(std::size_t at, StoredProperty&& made) {
    if (size_ == capacity_) reserve(std::max<std::size_t>(2 * capacity_, 4));
    StoredProperty* all = items();
    if (at == size_) {
        ::new (all + size_) StoredProperty(std::move(made));
    } else {
        ::new (all + size_) StoredProperty(std::move(all[size_ - 1]));
        std::move_backward(all + at, all + size_ - 1, all + size_);
        all[at] = std::move(made);
    }
    ++size_;
}

void PropertyInstances::assign(StoredProperty&& made) {
    std::size_t at = position(made.index);
    if (at != size_ && items()[at].index == made.index)
        items()[at] = std::move(made);
    else
        insertAt(at, std::move(made));
}

void PropertyInstances::assign(const Property& p) {
    // The new instance is made first: if that throws, nothing has moved.
    assign(StoredProperty(p));
}

void PropertyInstances::assign(Property&& p) {
    assign(StoredProperty(std::move(p)));
}

void PropertyInstances::erase(const_iterator instance) {
    StoredProperty* all = items();
    std::size_t at = static_cast<std::size_t>(instance - all);
    std::move(all + at + 1, all + size_, all + at);
    all[size_ - 1].~StoredProperty();
    --size_;
}

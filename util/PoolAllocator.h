#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "util/BlockPool.h"

// A standard allocator over BlockPool::values() for node containers whose
// nodes are many and small (a set's map of names): a node costs its size
// rounded up to 8 bytes instead of the heap's header and rounding to 16.
// Arrays of more than one element, and everything under AddressSanitizer,
// come from the heap. Stateless: all instances are equal.
template <class T>
class PoolAllocator {
  public:
    using value_type = T;
    static_assert(alignof(T) <= 8, "pool blocks are aligned to 8 bytes");

    PoolAllocator() = default;
    template <class U>
    PoolAllocator(const PoolAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n != 1 || BlockPool::HeapChecked) return std::allocator<T>().allocate(n);
        return static_cast<T*>(BlockPool::values().allocate(sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n != 1 || BlockPool::HeapChecked) return std::allocator<T>().deallocate(p, n);
        BlockPool::releaseValue(p, sizeof(T));
    }

    template <class U>
    bool operator==(const PoolAllocator<U>&) const noexcept {
        return true;
    }
};

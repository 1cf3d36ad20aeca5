#include "util/BlockPool.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#ifdef BLOCK_POOL_ASAN
#include <sanitizer/asan_interface.h>
#define POISON(at, n) ASAN_POISON_MEMORY_REGION(at, n)
#define UNPOISON(at, n) ASAN_UNPOISON_MEMORY_REGION(at, n)
#else
#define POISON(at, n) ((void)(at), (void)(n))
#define UNPOISON(at, n) ((void)(at), (void)(n))
#endif

// A slab starts with this header; its blocks follow. Slabs are aligned to
// their size, so a block's slab is found from the block's address alone.
struct BlockPool::Slab {
    Slab* prev = nullptr;
    Slab* next = nullptr;
    void* free = nullptr;      // released blocks, linked through their first word
    std::uint32_t fresh;       // offset of the first block never given out
    std::uint32_t blockBytes;  // the size of every block of this slab
    std::uint32_t used = 0;
    bool listed = false;  // in its class's list of slabs with a block to give
    const BlockPool* owner;

    Slab(const BlockPool* pool, std::size_t bytes)
        : fresh(static_cast<std::uint32_t>(FirstBlock)),
          blockBytes(static_cast<std::uint32_t>(bytes)),
          owner(pool) {}
    bool full() const { return free == nullptr && fresh + blockBytes > SlabBytes; }
};

namespace {

std::size_t classOf(std::size_t bytes) {
    return (bytes + 7) / 8 - 1;
}

}  // namespace

BlockPool::BlockPool() = default;

BlockPool::Slab* BlockPool::slabOf(void* block) {
    return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(block) & ~(SlabBytes - 1));
}

void BlockPool::refuse(void* block, std::size_t bytes) {
    std::fprintf(stderr, "BlockPool: a block of %zu bytes at %p is not this pool's\n", bytes,
                 block);
    std::abort();
}

BlockPool::~BlockPool() {
    for (Slab* first : open_)
        while (first != nullptr) {
            Slab* slab = first;
            first = slab->next;
            freeSlab(slab);
        }
}

void* BlockPool::allocate(std::size_t bytes) {
    if (bytes > Largest) return ::operator new(bytes);
    if (bytes == 0) bytes = 1;
    const std::size_t c = classOf(bytes);
    std::lock_guard<std::mutex> lock(mutex_);
    Slab* slab = open_[c];
    if (slab == nullptr) open(slab = newSlab(8 * (c + 1)));
    void* block;
    if (slab->free != nullptr) {
        block = slab->free;
        UNPOISON(block, slab->blockBytes);
        slab->free = *static_cast<void**>(block);
    } else {
        block = reinterpret_cast<char*>(slab) + slab->fresh;
        UNPOISON(block, slab->blockBytes);
        slab->fresh += slab->blockBytes;
    }
    ++slab->used;
    if (slab->full()) close(slab);
    return block;
}

void BlockPool::release(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes > Largest) return ::operator delete(block);
    Slab* slab = slabOf(block);
    // A block given back with another size than it was made for, or one the
    // pool never gave, would be linked into a list it does not belong to
    // and handed out again while in use: stop here instead.
    if (slab->owner != this || slab->blockBytes != 8 * (classOf(bytes) + 1)) refuse(block, bytes);
    std::lock_guard<std::mutex> lock(mutex_);
    *static_cast<void**>(block) = slab->free;
    slab->free = block;
    POISON(block, slab->blockBytes);
    if (!slab->listed) open(slab);
    // The last slab of its size with a block to give stays, empty, as the
    // spare (unless the pool is drained); any other goes back once empty.
    if (--slab->used == 0 && (!keepSpare_ || slab->prev != nullptr || slab->next != nullptr))
        freeSlab(slab);
}

void BlockPool::trim() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slab* first : open_)
        for (Slab* slab = first; slab != nullptr;) {
            Slab* next = slab->next;
            if (slab->used == 0) freeSlab(slab);
            slab = next;
        }
}

void BlockPool::drain() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        keepSpare_ = false;
    }
    trim();
}

void BlockPool::freeSlab(Slab* slab) {
    close(slab);
    slab->~Slab();
    ::operator delete(slab, std::align_val_t(SlabBytes));
    --slabs_;
}

std::size_t BlockPool::slabs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slabs_;
}

BlockPool::Slab* BlockPool::newSlab(std::size_t blockBytes) {
    static_assert(sizeof(Slab) <= FirstBlock, "blocks begin past the header");
    void* memory = ::operator new(SlabBytes, std::align_val_t(SlabBytes));
    auto* slab = ::new (memory) Slab(this, blockBytes);
    POISON(reinterpret_cast<char*>(memory) + FirstBlock, SlabBytes - FirstBlock);
    ++slabs_;
    return slab;
}

void BlockPool::open(Slab* slab) {
    Slab*& first = open_[classOf(slab->blockBytes)];
    slab->prev = nullptr;
    slab->next = first;
    if (first != nullptr) first->prev = slab;
    first = slab;
    slab->listed = true;
}

void BlockPool::close(Slab* slab) {
    if (slab->prev != nullptr)
        slab->prev->next = slab->next;
    else
        open_[classOf(slab->blockBytes)] = slab->next;
    if (slab->next != nullptr) slab->next->prev = slab->prev;
    slab->prev = slab->next = nullptr;
    slab->listed = false;
}

namespace {

constexpr std::size_t kValuePools = 8;

}  // namespace

// Built in place and never destroyed. A fork made while another thread holds
// a lock must not leave the child's copy locked for good: every lock is
// taken across it.
struct BlockPool::ValuePools {
    BlockPool pools[kValuePools];

    // Set once the pools are built: drainValues() does not build them.
    static inline std::atomic<ValuePools*> built{nullptr};

    static ValuePools& get() {
        alignas(ValuePools) static unsigned char storage[sizeof(ValuePools)];
        static ValuePools* made = [] {
            auto* all = ::new (storage) ValuePools;
            pthread_atfork([] { get().lockAll(); }, [] { get().unlockAll(); },
                           [] { get().unlockAll(); });
            built.store(all, std::memory_order_release);
            return all;
        }();
        return *made;
    }
    void lockAll() {
        for (BlockPool& pool : pools) pool.mutex_.lock();
    }
    void unlockAll() {
        for (BlockPool& pool : pools) pool.mutex_.unlock();
    }
};

BlockPool& BlockPool::values() {
    static std::atomic<std::size_t> threads{0};
    thread_local std::size_t mine = threads.fetch_add(1, std::memory_order_relaxed) % kValuePools;
    return ValuePools::get().pools[mine];
}

void BlockPool::releaseValue(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes > Largest) return ::operator delete(block);
    const Slab* slab = slabOf(block);
    BlockPool* pools = ValuePools::get().pools;
    for (std::size_t i = 0; i < kValuePools; ++i)
        if (slab->owner == &pools[i]) return pools[i].release(block, bytes);
    refuse(block, bytes);
}

void BlockPool::drainValues() {
    if (ValuePools* all = ValuePools::built.load(std::memory_order_acquire))
        for (BlockPool& pool : all->pools) pool.drain();
}

namespace {

// Destroyed when the module is unloaded, after the objects built after it.
// Values that objects built before it still hold go back later, each slab to
// the heap as they empty it.
struct DrainAtUnload {
    ~DrainAtUnload() { BlockPool::drainValues(); }
} drainAtUnload;

}  // namespace

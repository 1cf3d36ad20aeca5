#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#define BLOCK_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BLOCK_POOL_ASAN 1
#endif
#endif

// Small blocks of a few fixed sizes, carved from slabs of SlabBytes, for
// objects made by the hundred thousand (the value of every property of a set
// read from its stream). A block costs its size rounded up to 8 bytes, where
// the heap adds a header of 8 and rounds up to 16: a 23-byte value's 39-byte
// block takes 40 bytes here and 48 from malloc.
//
// The caller gives the block's size back when it releases it, so a block
// carries no header; blocks over Largest bytes are plain operator new and
// delete. Blocks are aligned to 8 bytes. Any thread may allocate and
// release (one lock per pool, held for a few list operations and while a
// slab is asked of the heap).
//
// A slab whose blocks are all released goes back to the heap, except one per
// size, so that a value made and dropped in a loop does not take and give a
// slab each time: a pool keeps at most 32 spare slabs (512 KB), the value
// pools together at most eight times that, and only for the sizes their
// threads used.
class BlockPool {
  public:
    static constexpr std::size_t Largest = 256;
    static constexpr std::size_t SlabBytes = 16384;
    // Built with AddressSanitizer: it then checks a pool's blocks only for
    // use after release, not for overruns into a neighbour or for leaks, so
    // callers that want those checks go to the heap instead.
#ifdef BLOCK_POOL_ASAN
    static constexpr bool HeapChecked = true;
#else
    static constexpr bool HeapChecked = false;
#endif

    BlockPool();
    // Gives every slab back; every block must have been released by then.
    ~BlockPool();
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    // A block of at least `bytes` (1 or more). Throws std::bad_alloc when the
    // heap has no slab to give.
    void* allocate(std::size_t bytes);
    // Gives back a block from allocate(bytes), with the same `bytes`.
    void release(void* block, std::size_t bytes) noexcept;
    // Slabs the pool holds now, in use or spare.
    std::size_t slabs() const;
    // Gives every empty slab back to the heap, the spares too: the next block
    // of their size takes a slab from the heap again.
    void trim();
    // trim(), and from then on no spare is kept: a slab goes back to the heap
    // as soon as its last block does. For a pool that is about to be left
    // behind (the module unloaded), whose blocks still come back one by one.
    void drain();

    // The pools of property values and set nodes, one for each of a few
    // groups of threads, so that threads reading sets at once do not all
    // queue on one lock: values() is the calling thread's. Never destroyed:
    // values held by static objects are released during exit, after any
    // destructor could run.
    static BlockPool& values();
    // Gives back a block that values() of any thread allocated.
    static void releaseValue(void* block, std::size_t bytes) noexcept;
    // drain() of every value pool. Runs by itself when the module is
    // unloaded (and at exit), so that a module loaded and unloaded again and
    // again does not leave a set of spare slabs behind each time, not even
    // the slabs that values held by static objects empty after it ran.
    static void drainValues();

  private:
    struct Slab;
    static constexpr std::size_t FirstBlock = 48;  // past the slab's header
    static constexpr std::size_t Classes = Largest / 8;

    struct ValuePools;

    static Slab* slabOf(void* block);
    [[noreturn]] static void refuse(void* block, std::size_t bytes);
    Slab* newSlab(std::size_t blockBytes);
    // Unlinks an empty slab and gives it back.
    void freeSlab(Slab* slab);
    void open(Slab* slab);
    void close(Slab* slab);

    mutable std::mutex mutex_;
    // Per size class, the slabs with a block to give, most recently opened
    // first.
    Slab* open_[Classes] = {};
    std::size_t slabs_ = 0;
    bool keepSpare_ = true;
};

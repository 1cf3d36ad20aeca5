#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <new>
#include <random>
#include <thread>
#include <vector>

#include "util/BlockPool.h"

namespace {

struct Block {
    unsigned char* at;
    std::size_t bytes;
    unsigned char mark;
};

// Blocks of every size, filled with a mark of their own, from one thread.
std::vector<Block> fill(BlockPool& pool, unsigned char mark) {
    std::vector<Block> made;
    for (int round = 0; round < 40; ++round)
        for (std::size_t bytes = 1; bytes <= BlockPool::Largest + 16; bytes += 5) {
            auto* at = static_cast<unsigned char*>(pool.allocate(bytes));
            std::memset(at, mark + round, bytes);
            made.push_back({at, bytes, static_cast<unsigned char>(mark + round)});
        }
    return made;
}

bool intact(const Block& b) {
    return std::all_of(b.at, b.at + b.bytes, [&](unsigned char c) { return c == b.mark; });
}

bool allIntact(const std::vector<Block>& blocks) {
    return std::all_of(blocks.begin(), blocks.end(), [](const Block& b) {
        return intact(b) && reinterpret_cast<std::uintptr_t>(b.at) % 8 == 0;
    });
}

void release(BlockPool& pool, const std::vector<Block>& blocks) {
    for (const Block& block : blocks) pool.release(block.at, block.bytes);
}

// Threads allocate and release at once, blocks going back from a thread that
// did not make them and released ones made again: no block overlaps another
// and each stays aligned; once all are back the pool keeps one slab per size
// it served.
TEST(BlockPool, BlocksStayApartAcrossThreadsAndEmptySlabsGoBack) {
    BlockPool pool;
    std::vector<Block> a, b, c;
    std::thread other([&] { b = fill(pool, 100); });
    a = fill(pool, 1);
    other.join();
    ASSERT_TRUE(allIntact(a) && allIntact(b));
    const std::size_t classes = BlockPool::Largest / 8;
    EXPECT_GT(pool.slabs(), classes);
    std::shuffle(a.begin(), a.end(), std::mt19937(1));
    std::shuffle(b.begin(), b.end(), std::mt19937(2));
    std::vector<Block> aHalf(a.begin(), a.begin() + a.size() / 2);
    a.erase(a.begin(), a.begin() + a.size() / 2);
    std::thread freer([&] { release(pool, aHalf); });
    release(pool, b);
    c = fill(pool, 50);
    freer.join();
    ASSERT_TRUE(allIntact(a) && allIntact(c));
    release(pool, a);
    release(pool, c);
    EXPECT_EQ(pool.slabs(), classes);
    // The spare slabs serve the next blocks.
    void* again = pool.allocate(40);
    EXPECT_EQ(pool.slabs(), classes);
    pool.release(again, 40);
    pool.trim();
    EXPECT_EQ(pool.slabs(), 0u);
    // A drained pool (its module unloaded) keeps no spare: the slab of a
    // block given back after the drain goes back with it.
    void* held = pool.allocate(40);
    pool.drain();
    EXPECT_EQ(pool.slabs(), 1u);
    pool.release(held, 40);
    EXPECT_EQ(pool.slabs(), 0u);
}

// Each thread takes value blocks from a pool of its own group; any thread may
// give them back, and they go back to the pool that made them.
TEST(BlockPool, ValueBlocksGoBackToThePoolOfTheThreadThatMadeThem) {
    std::vector<void*> made;
    BlockPool* theirs = nullptr;
    std::size_t before = 0;
    std::thread maker([&] {
        theirs = &BlockPool::values();
        before = theirs->slabs();
        for (int i = 0; i < 1000; ++i) made.push_back(BlockPool::values().allocate(96));
    });
    maker.join();
    EXPECT_NE(theirs, &BlockPool::values());
    EXPECT_GT(theirs->slabs(), before);
    for (void* block : made) BlockPool::releaseValue(block, 96);
    EXPECT_LE(theirs->slabs(), before + 1);
}

// A block given back with a size of another class is refused before it can
// be handed out twice.
TEST(BlockPoolDeathTest, ABlockGivenBackWithTheWrongSizeStopsTheProcess) {
    BlockPool pool;
    void* block = pool.allocate(40);
    EXPECT_DEATH(pool.release(block, 200), "not this pool's");
    pool.release(block, 40);
}

// With the address space spent, allocate throws and leaves the pool whole:
// the blocks handed out keep their bytes, all go back, and once memory is
// freed again a block can be had. In a child process whose address space is
// capped (AddressSanitizer's shadow memory cannot live under such a cap).
TEST(BlockPoolDeathTest, NoSlabToBeHadThrowsAndLeavesThePoolWhole) {
    if (BlockPool::HeapChecked) GTEST_SKIP() << "an address-space cap breaks the sanitizer";
    auto run = [] {
        BlockPool pool;
        std::vector<Block> made;
        made.reserve(1 << 20);
        std::ifstream statm("/proc/self/statm");
        std::size_t pages = 0;
        statm >> pages;
        const rlim_t cap = pages * ::sysconf(_SC_PAGESIZE) + (rlim_t(64) << 20);
        const rlimit limit{cap, cap};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
        bool thrown = false;
        try {
            for (std::size_t i = 0; i < made.capacity(); ++i) {
                auto* at = static_cast<unsigned char*>(pool.allocate(200));
                std::memset(at, static_cast<int>(i % 251), 200);
                made.push_back({at, 200, static_cast<unsigned char>(i % 251)});
            }
        } catch (const std::bad_alloc&) {
            thrown = true;
        }
        const bool whole = thrown && !made.empty() && allIntact(made);
        release(pool, made);
        pool.trim();
        const bool empty = pool.slabs() == 0;
        void* again = pool.allocate(200);
        pool.release(again, 200);
        std::_Exit(whole && empty ? 0 : 1);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

}  // namespace

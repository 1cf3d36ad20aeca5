#include "platform/Symbol.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <new>
#include <vector>

namespace {

// The intern table: open addressing over four-byte slots, at most half full.
// A slot holds a text's number (its place among the texts made, counted from
// one) above a few bits of the text's hash: a probe compares texts only when
// those bits match, and a slot is published with one store. Finding a name
// already interned takes no lock: a slot is published (release) only once
// its text and the text's block are made, and a table only once filled. A
// grown table replaces the old one, which is kept (never freed) for readers
// still looking at it; all tables together take at most twice the live one.
// Texts are never freed either: symbols held by static objects may be used
// during exit.
constexpr unsigned kTagBits = 5;
constexpr std::uint32_t kTagMask = (1u << kTagBits) - 1;

struct Slot {
    std::atomic<std::uint32_t> entry{0};
};

struct Table {
    explicit Table(std::size_t size) : slots(size), mask(size - 1) {}
    std::vector<Slot> slots;
    std::size_t mask;
    std::size_t used = 0;
};

// Interned texts are placed side by side in blocks rather than allocated
// one by one: a name costs the String itself and no allocation header, and
// names interned one after the other (a sorted stream read for the first
// time) sit together when they are looked up again in the same order. A
// block is aligned to its own size, so the block of a text is found from its
// address alone (see neighbourOf).
constexpr std::size_t kTextsPerBlock = 2048;
constexpr std::size_t kBlockBytes = sizeof(String) * kTextsPerBlock;
static_assert((kBlockBytes & (kBlockBytes - 1)) == 0, "blocks are aligned to their size");
// Blocks by number, for readers that take no lock: a fixed table, so that it
// never moves under them. Untouched, its pages cost no memory; a page of it
// serves a million names. 2^26 texts in all, which a slot's number holds.
constexpr std::size_t kMaxBlocks = std::size_t(1) << 15;
static_assert(kMaxBlocks * kTextsPerBlock <= (std::uint32_t(-1) >> kTagBits),
              "every text's number fits in a slot");
std::atomic<String*> blockByNumber[kMaxBlocks];

std::uintptr_t addressOf(const String* text) {
    return reinterpret_cast<std::uintptr_t>(text);
}

struct InternTable {
    std::mutex mutex;  // serialises inserts
    std::atomic<Table*> current{new Table(1024)};
    std::vector<Table*> retired;  // kept reachable, so that no leak is reported
    std::size_t blocks = 0;       // made, in blockByNumber
    std::size_t usedInBlock = kTextsPerBlock;
    // The block being filled and the end of its texts made so far, for
    // readers that take no lock: every other block is full. The end moves
    // into a new block before the block is published.
    std::atomic<std::uintptr_t> lastBlock{0};
    std::atomic<std::uintptr_t> lastBlockEnd{0};

    // Makes a text and gives its number. Called with the mutex held; throws
    // std::bad_alloc when memory or numbers run out.
    std::uint32_t newText(std::string_view text) {
        if (usedInBlock == kTextsPerBlock) {
            if (blocks == kMaxBlocks) throw std::bad_alloc();
            void* block = ::operator new(kBlockBytes, std::align_val_t(kBlockBytes));
            blockByNumber[blocks].store(static_cast<String*>(block), std::memory_order_release);
            ++blocks;
            usedInBlock = 0;
            lastBlockEnd.store(addressOf(static_cast<String*>(block)), std::memory_order_release);
            lastBlock.store(addressOf(static_cast<String*>(block)), std::memory_order_release);
        }
        String* block = blockByNumber[blocks - 1].load(std::memory_order_relaxed);
        const String* made = new (block + usedInBlock++) String(text);
        lastBlockEnd.store(addressOf(made + 1), std::memory_order_release);
        return static_cast<std::uint32_t>((blocks - 1) * kTextsPerBlock + usedInBlock);
    }

    // The text made right after `text`, or null when there is none yet or it
    // lies in another block. Takes no lock.
    const String* neighbourOf(const String* text) const {
        if (text == nullptr) return nullptr;
        std::uintptr_t next = addressOf(text + 1);
        if ((next & (kBlockBytes - 1)) == 0) return nullptr;
        std::uintptr_t block = next & ~(kBlockBytes - 1);
        if (block == lastBlock.load(std::memory_order_acquire) &&
            next >= lastBlockEnd.load(std::memory_order_acquire))
            return nullptr;
        return text + 1;
    }
};

InternTable& table() {
    static InternTable* t = new InternTable;
    return *t;
}

std::size_t hashOf(std::string_view text) {
    return std::hash<std::string_view>{}(text);
}

// The hash bits a slot keeps: the top ones, as the table's index takes the
// low ones.
std::uint32_t tagOf(std::size_t hash) {
    return static_cast<std::uint32_t>(hash >> (8 * sizeof hash - kTagBits)) & kTagMask;
}

// The text of a slot's entry (not empty). The entry was loaded with acquire,
// so its block's number is published too.
const String* textOf(std::uint32_t entry) {
    std::size_t number = (entry >> kTagBits) - 1;
    String* block = blockByNumber[number / kTextsPerBlock].load(std::memory_order_acquire);
    return block + number % kTextsPerBlock;
}

// The slot that holds text (`held`: its text), or the empty slot where it
// would go (`held`: null). A reader must go by `held`, not load the slot
// again: another thread may fill an empty slot with another name meanwhile.
Slot& probe(Table& t, std::string_view text, std::size_t hash, const String*& held) {
    const std::uint32_t tag = tagOf(hash);
    for (std::size_t i = hash & t.mask;; i = (i + 1) & t.mask) {
        Slot& slot = t.slots[i];
        std::uint32_t entry = slot.entry.load(std::memory_order_acquire);
        held = nullptr;
        if (entry == 0) return slot;
        if ((entry & kTagMask) == tag && *(held = textOf(entry)) == text) return slot;
    }
}

// Places a text's entry; the text is not in the table yet.
void place(Table& t, std::uint32_t entry, std::string_view text, std::size_t hash) {
    const String* held;
    Slot& slot = probe(t, text, hash, held);
    slot.entry.store(entry, std::memory_order_release);
    ++t.used;
}

std::uint32_t entryOf(std::uint32_t number, std::size_t hash) {
    return number << kTagBits | tagOf(hash);
}

// Called with the mutex held: a table twice the size, filled, then published.
Table* grow(InternTable& it, Table& old) {
    auto* bigger = new Table(old.slots.size() * 2);
    // The slots keep only part of each hash: it is made again.
    for (Slot& slot : old.slots)
        if (std::uint32_t entry = slot.entry.load(std::memory_order_relaxed)) {
            const String& text = *textOf(entry);
            place(*bigger, entry, text, hashOf(text));
        }
    it.current.store(bigger, std::memory_order_release);
    it.retired.push_back(&old);
    return bigger;
}

const String* internNew(InternTable& it, std::string_view text, std::size_t hash) {
    std::lock_guard<std::mutex> lock(it.mutex);
    Table* t = it.current.load(std::memory_order_relaxed);
    // Another thread may have interned it meanwhile.
    const String* held;
    probe(*t, text, hash, held);
    if (held) return held;
    if (2 * (t->used + 1) > t->slots.size()) t = grow(it, *t);
    const std::uint32_t entry = entryOf(it.newText(text), hash);
    place(*t, entry, text, hash);
    return textOf(entry);
}

const String* intern(std::string_view text) {
    InternTable& it = table();
    // A stored set is read in the order its names were first interned, so
    // the next name is most often the text made after the last one: found
    // there, it costs neither a hash nor a probe of the table (a cache miss
    // per name in a large table).
    thread_local const String* last = nullptr;
    const String* next = it.neighbourOf(last);
    if (next != nullptr && *next == text) return last = next;
    std::size_t hash = hashOf(text);
    const String* held;
    probe(*it.current.load(std::memory_order_acquire), text, hash, held);
    return last = held ? held : internNew(it, text, hash);
}

const String* emptyText() {
    static const String* empty = intern(std::string_view());
    return empty;
}

}  // namespace

Symbol::Symbol() : text_(emptyText()) {}
Symbol::Symbol(const String& text) : Symbol(std::string_view(text)) {}
Symbol::Symbol(std::string_view text) : text_(text.empty() ? emptyText() : intern(text)) {}
Symbol::Symbol(const char* text) : Symbol(std::string_view(text ? text : "")) {}

std::ostream& operator<<(std::ostream& out, Symbol symbol) {
    return out << symbol.text();
}

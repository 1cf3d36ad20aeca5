#include "platform/ChangeJournal.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/JournalContext.h"
#include "host/platform/JournalStore.h"
#include "host/platform/ProcessId.h"

namespace {

// The store, or null with what the call answers in rc: 0 when the journal
// is off, else EIO after noting why (a journal that cannot be reached is a
// failure the tools report, never a silent gap).
JournalStore* store(int& rc) {
    std::string error;
    JournalStore* journal = JournalStore::current(error);
    rc = 0;
    if (journal == nullptr && !JournalStore::disabled()) {
        JournalContext::noteFailure(error);
        rc = EIO;
    }
    return journal;
}

int noted(int rc, const char* step) {
    if (rc != 0)
        JournalContext::noteFailure(std::string("can't ") + step +
                                    " a journal record: " + std::strerror(rc));
    return rc;
}

bool ended(const JournalEntry& entry) {
    if (entry.host != JournalContext::host()) return false;
    return entry.pid > 0 && ::kill(static_cast<pid_t>(entry.pid), 0) != 0 && errno == ESRCH;
}

// Eight bytes as a little-endian number, whatever the host's byte order, so
// hosts sharing one journal agree on digests.
std::uint64_t wordAt(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

std::int64_t nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

// FNV-1a over 8-byte little-endian words in four interleaved lanes (then
// the tail bytes), finished with a 64-bit mix: four lanes keep the
// multiplier busy, so a 100 KB set is read in a few microseconds, and the mix
// spreads the last word's bits.
std::uint64_t journal_digest(const char* bytes, std::size_t length) {
    if (length == 0) return 0;
    constexpr std::uint64_t kPrime = 1099511628211ULL;
    const std::uint64_t seed = 14695981039346656037ULL ^ length;
    std::uint64_t lane[4] = {seed, seed + 1, seed + 2, seed + 3};
    std::size_t i = 0;
    for (; i + 32 <= length; i += 32)
        for (int k = 0; k < 4; ++k) lane[k] = (lane[k] ^ wordAt(bytes + i + 8 * k)) * kPrime;
    std::uint64_t hash = lane[0];
    for (int k = 1; k < 4; ++k) hash = (hash ^ lane[k]) * kPrime;
    for (; i + 8 <= length; i += 8) hash = (hash ^ wordAt(bytes + i)) * kPrime;
    for (; i < length; ++i) hash = (hash ^ static_cast<unsigned char>(bytes[i])) * kPrime;
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    // 0 stays the digest of the empty form.
    return hash == 0 ? 1 : hash;
}

bool journal_enabled() {
    return !JournalStore::disabled();
}

int journal_begin(const JournalSave& save, std::uint64_t& ticket) {
    int rc = 0;
    JournalStore* journal = store(rc);
    if (journal == nullptr) return rc;
    JournalEntry entry;
    entry.timeUs = nowUs();
    entry.actor = JournalContext::actor();
    entry.box = HostPlatform::box();
    entry.program = JournalContext::program();
    entry.pid = ProcessId::current();
    entry.host = JournalContext::host();
    entry.senderBox = JournalContext::senderBox();
    entry.kind = save.kind;
    entry.target = save.target;
    entry.after = save.after;
    entry.changes = save.changes;
    return noted(journal->begin(entry, ticket), "begin");
}

int journal_commit(std::uint64_t ticket) {
    int rc = 0;
    JournalStore* journal = store(rc);
    return journal == nullptr ? rc : noted(journal->end(ticket, true), "commit");
}

int journal_abandon(std::uint64_t ticket) {
    int rc = 0;
    JournalStore* journal = store(rc);
    return journal == nullptr ? rc : noted(journal->end(ticket, false), "drop");
}

int journal_settle(const String& kind, const String& target, std::uint64_t now, bool lockHeld) {
    int rc = 0;
    JournalStore* journal = store(rc);
    if (journal == nullptr) return rc;
    std::vector<JournalEntry> pending;
    rc = journal->pending(kind, target, pending);
    for (const JournalEntry& entry : pending) {
        if (rc != 0) break;
        if (!lockHeld && !ended(entry)) continue;
        HostTrace::record(1, "journal_settle(" + target + ") - record " +
                                 std::to_string(entry.seq) + " of pid " +
                                 std::to_string(entry.pid) +
                                 " left pending: " + (entry.after == now ? "kept" : "dropped"));
        rc = journal->end(entry.seq, entry.after == now);
    }
    return noted(rc, "settle");
}

int journal_record(const JournalSave& save) {
    std::uint64_t ticket = 0;
    int rc = journal_begin(save, ticket);
    return rc != 0 || !journal_enabled() ? rc : journal_commit(ticket);
}

#include "platform/BTreeIndex.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "host/platform/IndexBackend.h"
#include "platform/TraceService.h"

// The platform's descriptors, each naming a backend and that backend's own
// descriptor: a descriptor keeps the backend it was opened on. Each thread
// remembers its last read, which is what writerec_fenced compares with; the
// bytes of that read are also what reade_dvalp hands out.

namespace {

struct Opened {
    IndexBackend* backend = nullptr;  // null: a free slot
    int fd = -1;
    // Which open made the slot: a number closed and given to another index
    // (by another thread, say) must not pass for the one a read went through.
    std::uint64_t opening = 0;
};

struct Table {
    std::mutex mutex;
    std::vector<Opened> opened;
    std::uint64_t openings = 0;
};

Table& table() {
    static Table* t = new Table;
    return *t;
}

struct LastRead {
    bool valid = false;
    int fd = -1;
    std::uint64_t opening = 0;
    std::string key;
    IndexBackend::Record record;
};

thread_local LastRead lastRead;

Opened lookup(int fd) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (fd < 0 || static_cast<std::size_t>(fd) >= t.opened.size()) return {};
    return t.opened[fd];
}

int openIndex(const Path& path, bool create, indx_key_t keyType, int flags, int mode) {
    std::string error;
    IndexBackend::noteOpenError({});
    IndexBackend* backend = IndexBackend::current(error);
    if (backend == nullptr) {
        MC_std_trace() << "B-tree index " << path << ": " << error;
        TraceManip(MC_std_trace(), 1, true);
        IndexBackend::noteOpenError(error, EINVAL);
        errno = EINVAL;
        return -1;
    }
    int inner = backend->open(path, create, keyType, flags, mode);
    if (inner < 0) {
        int e = errno;
        std::string reason = IndexBackend::lastOpenError();
        IndexBackend::noteOpenError(reason.empty() ? std::strerror(e) : reason, e);
        errno = e;
        return -1;
    }
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto slot = std::find_if(t.opened.begin(), t.opened.end(),
                             [](const Opened& o) { return o.backend == nullptr; });
    if (slot == t.opened.end()) slot = t.opened.emplace(t.opened.end());
    *slot = Opened{backend, inner, ++t.openings};
    return static_cast<int>(slot - t.opened.begin());
}

std::string_view keyOf(std::uint16_t keyLength, const char* key) {
    return key ? std::string_view(key, keyLength) : std::string_view();
}

// Whether the thread's last read was of key through this opening of fd.
bool lastReadOf(int fd, const Opened& o, std::string_view key) {
    return lastRead.valid && lastRead.fd == fd && lastRead.opening == o.opening &&
           lastRead.key == key;
}

// Reads the key's record into the thread's last read (a failed read leaves
// none). argumentsOk: the caller's output pointers are usable; checked after
// the descriptor and the key, as the LMDB service always did.
int readLast(int fd, std::uint16_t keyLength, const char* key, bool argumentsOk) {
    std::string_view k = keyOf(keyLength, key);
    Opened o = lookup(fd);
    const bool again = lastReadOf(fd, o, k);
    lastRead.valid = false;
    if (o.backend == nullptr) return BTREE_BAD_DESCRIPTOR;
    if (!argumentsOk) {
        int rc = o.backend->check(o.fd, false, k);
        return rc != BTREE_OK ? rc : BTREE_BAD_ARGUMENT;
    }
    // A set read and then saved reads its record twice in a row: the
    // second read is the first one's copy when nothing was written since.
    if (again && o.backend->unchangedSince(o.fd, k, lastRead.record)) {
        lastRead.valid = true;
        return lastRead.record.found ? BTREE_OK : BTREE_NO_RECORD;
    }
    // The read checks the descriptor and the key first, as check() would.
    int rc = o.backend->read(o.fd, k, lastRead.record);
    if (rc == BTREE_OK || rc == BTREE_NO_RECORD) {
        lastRead.valid = true;
        lastRead.fd = fd;
        lastRead.opening = o.opening;
        lastRead.key.assign(k);
    }
    return rc;
}

// Writes (remove false) or deletes the key's record; fenced, only while it
// is what the thread's last read of it through fd saw.
int change(int fd, std::uint16_t keyLength, const char* key, unsigned long dataLength,
           const char* data, bool fenced, bool remove) {
    Opened o = lookup(fd);
    if (o.backend == nullptr) return BTREE_BAD_DESCRIPTOR;
    std::string_view k = keyOf(keyLength, key);
    if (int rc = o.backend->check(o.fd, true, k)) return rc;
    if (data == nullptr && dataLength > 0) return BTREE_BAD_ARGUMENT;
    bool read = lastReadOf(fd, o, k);
    if (fenced && !read) return BTREE_BAD_ARGUMENT;
    // A read is good for one change: the next needs a fresh one. An
    // unfenced delete makes any read of the descriptor stale.
    lastRead.valid = lastRead.valid && !read && !(remove && lastRead.fd == fd);
    IndexBackend::Record* expected = fenced ? &lastRead.record : nullptr;
    if (remove) return o.backend->remove(o.fd, k, expected);
    return o.backend->write(o.fd, k, std::string_view(data ? data : "", dataLength), expected);
}

}  // namespace

int zrbopen(const Path& path, int flags, int mode) {
    return openIndex(path, false, 0, flags, mode);
}

int creat_index(const Path& path, indx_key_t keyType, int flags, int mode) {
    return openIndex(path, true, keyType, flags, mode);
}

int close_index(int fd) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (fd < 0 || static_cast<std::size_t>(fd) >= t.opened.size() || !t.opened[fd].backend)
        return BTREE_BAD_DESCRIPTOR;
    int rc = t.opened[fd].backend->close(t.opened[fd].fd);
    t.opened[fd] = Opened{};
    if (lastRead.fd == fd) lastRead.valid = false;
    return rc;
}

int reade(int fd, std::uint16_t keyLength, const char* key, unsigned long bufferSize,
          unsigned long* dataLength, char* buffer) {
    bool ok = dataLength != nullptr && (buffer != nullptr || bufferSize == 0);
    if (dataLength) *dataLength = 0;
    int rc = readLast(fd, keyLength, key, ok);
    if (rc == BTREE_OK) {
        const std::string& bytes = lastRead.record.bytes;
        *dataLength = bytes.size();
        std::memcpy(buffer, bytes.data(), std::min<std::size_t>(bufferSize, bytes.size()));
    }
    return rc;
}

int reade_dvalp(int fd, std::uint16_t keyLength, const char* key, unsigned long* dataLength,
                char** data) {
    bool ok = dataLength != nullptr && data != nullptr;
    if (ok) {
        *dataLength = 0;
        *data = nullptr;
    }
    int rc = readLast(fd, keyLength, key, ok);
    if (rc == BTREE_OK) {
        *dataLength = lastRead.record.bytes.size();
        *data = lastRead.record.bytes.data();
    }
    return rc;
}

int writerec(int fd, std::uint16_t keyLength, const char* key, unsigned long dataLength,
             const char* data) {
    return change(fd, keyLength, key, dataLength, data, false, false);
}

int writerec_fenced(int fd, std::uint16_t keyLength, const char* key, unsigned long dataLength,
                    const char* data) {
    return change(fd, keyLength, key, dataLength, data, true, false);
}

int deleterec(int fd, std::uint16_t keyLength, const char* key) {
    return change(fd, keyLength, key, 0, nullptr, false, true);
}

int deleterec_fenced(int fd, std::uint16_t keyLength, const char* key) {
    return change(fd, keyLength, key, 0, nullptr, true, true);
}

int invalidate_key(int fd, std::uint16_t keyLength, const char* key) {
    // Every read asks the backend afresh (LMDB: a new read transaction; etcd:
    // a linearizable read): there is no copy to drop.
    Opened o = lookup(fd);
    if (o.backend == nullptr) return BTREE_BAD_DESCRIPTOR;
    return o.backend->check(o.fd, false, keyOf(keyLength, key));
}

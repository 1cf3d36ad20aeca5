#include "host/platform/FrameJoiningVfs.h"

#include <sqlite3.h>

#include <cstring>

namespace {

constexpr int kFrameHeader = 24;

sqlite3_vfs* base = nullptr;
sqlite3_vfs joining;

// Our part of a WAL file's block; the default VFS's file follows it in the
// same block (szOsFile covers both).
struct JoinFile {
    sqlite3_file head;
    sqlite3_file* real;
    bool holding;
    sqlite3_int64 heldAt;
    unsigned char held[kFrameHeader];
    unsigned char* joined;  // header and page together, sqlite3_malloc'd
    int room;
};

constexpr int kOurPart = (sizeof(JoinFile) + 7) & ~7;

JoinFile* of(sqlite3_file* file) {
    return reinterpret_cast<JoinFile*>(file);
}

sqlite3_file* real(sqlite3_file* file) {
    return of(file)->real;
}

int flush(sqlite3_file* file) {
    JoinFile* f = of(file);
    if (!f->holding) return SQLITE_OK;
    f->holding = false;
    return f->real->pMethods->xWrite(f->real, f->held, kFrameHeader, f->heldAt);
}

// Room in the joining buffer for a header and n bytes; false when memory
// is short.
bool roomFor(JoinFile* f, int n) {
    if (f->room >= kFrameHeader + n) return true;
    auto* bigger = static_cast<unsigned char*>(sqlite3_realloc(f->joined, kFrameHeader + n));
    if (bigger == nullptr) return false;
    f->joined = bigger;
    f->room = kFrameHeader + n;
    return true;
}

int write(sqlite3_file* file, const void* bytes, int n, sqlite3_int64 at) {
    JoinFile* f = of(file);
    if (!f->holding && n == kFrameHeader) {
        std::memcpy(f->held, bytes, kFrameHeader);
        f->heldAt = at;
        f->holding = true;
        return SQLITE_OK;
    }
    // Without room to join them, the two go out as SQLite wrote them.
    if (f->holding && at == f->heldAt + kFrameHeader && n > 0 && roomFor(f, n)) {
        std::memcpy(f->joined, f->held, kFrameHeader);
        std::memcpy(f->joined + kFrameHeader, bytes, static_cast<std::size_t>(n));
        f->holding = false;
        return f->real->pMethods->xWrite(f->real, f->joined, kFrameHeader + n, f->heldAt);
    }
    int rc = flush(file);
    return rc != SQLITE_OK ? rc : f->real->pMethods->xWrite(f->real, bytes, n, at);
}

int close(sqlite3_file* file) {
    JoinFile* f = of(file);
    int flushed = flush(file);
    int rc = f->real->pMethods->xClose(f->real);
    sqlite3_free(f->joined);
    f->joined = nullptr;
    return flushed != SQLITE_OK ? flushed : rc;
}

// Every other call writes a held header first, then is the default's.
#define FORWARD(method, signature, ...)                               \
    int method signature {                                            \
        int rc = flush(file);                                         \
        if (rc != SQLITE_OK) return rc;                               \
        return real(file)->pMethods->method(real(file), __VA_ARGS__); \
    }

FORWARD(xRead, (sqlite3_file * file, void* bytes, int n, sqlite3_int64 at), bytes, n, at)
FORWARD(xTruncate, (sqlite3_file * file, sqlite3_int64 size), size)
FORWARD(xSync, (sqlite3_file * file, int flags), flags)
FORWARD(xFileSize, (sqlite3_file * file, sqlite3_int64* size), size)
FORWARD(xLock, (sqlite3_file * file, int level), level)
FORWARD(xUnlock, (sqlite3_file * file, int level), level)
FORWARD(xCheckReservedLock, (sqlite3_file * file, int* out), out)
FORWARD(xFileControl, (sqlite3_file * file, int op, void* arg), op, arg)
FORWARD(xShmMap, (sqlite3_file * file, int region, int size, int extend, void volatile** out),
        region, size, extend, out)
FORWARD(xShmLock, (sqlite3_file * file, int offset, int n, int flags), offset, n, flags)
FORWARD(xShmUnmap, (sqlite3_file * file, int remove), remove)
#undef FORWARD

int sectorSize(sqlite3_file* file) {
    return real(file)->pMethods->xSectorSize(real(file));
}

int deviceCharacteristics(sqlite3_file* file) {
    return real(file)->pMethods->xDeviceCharacteristics(real(file));
}

void shmBarrier(sqlite3_file* file) {
    flush(file);
    real(file)->pMethods->xShmBarrier(real(file));
}

const sqlite3_io_methods kMethods = {2,
                                     close,
                                     xRead,
                                     write,
                                     xTruncate,
                                     xSync,
                                     xFileSize,
                                     xLock,
                                     xUnlock,
                                     xCheckReservedLock,
                                     xFileControl,
                                     sectorSize,
                                     deviceCharacteristics,
                                     xShmMap,
                                     xShmLock,
                                     shmBarrier,
                                     xShmUnmap,
                                     nullptr,
                                     nullptr};

int open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    if ((flags & SQLITE_OPEN_WAL) == 0) return base->xOpen(base, name, file, flags, outFlags);
    JoinFile* f = of(file);
    f->head.pMethods = nullptr;
    f->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kOurPart);
    f->real->pMethods = nullptr;
    f->holding = false;
    f->joined = nullptr;
    f->room = 0;
    int rc = base->xOpen(base, name, f->real, flags, outFlags);
    // SQLite closes a file whose methods are set, even after a failed open.
    if (f->real->pMethods != nullptr) f->head.pMethods = &kMethods;
    return rc;
}

// The rest is the default VFS's, called with its own object: its calls may
// use their VFS's private data.
int remove(sqlite3_vfs*, const char* name, int syncDir) {
    return base->xDelete(base, name, syncDir);
}
int access(sqlite3_vfs*, const char* name, int flags, int* out) {
    return base->xAccess(base, name, flags, out);
}
int fullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return base->xFullPathname(base, name, n, out);
}
int randomness(sqlite3_vfs*, int n, char* out) {
    return base->xRandomness(base, n, out);
}
int sleepFor(sqlite3_vfs*, int microseconds) {
    return base->xSleep(base, microseconds);
}
int currentTime(sqlite3_vfs*, double* now) {
    return base->xCurrentTime(base, now);
}
int lastError(sqlite3_vfs*, int n, char* out) {
    return base->xGetLastError(base, n, out);
}
int currentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) {
    return base->xCurrentTimeInt64(base, now);
}

const char* registerOnce() {
    base = sqlite3_vfs_find(nullptr);
    if (base == nullptr || base->iVersion < 2 || base->xCurrentTimeInt64 == nullptr) return nullptr;
    joining = sqlite3_vfs{};
    joining.iVersion = 2;
    joining.szOsFile = kOurPart + base->szOsFile;
    joining.mxPathname = base->mxPathname;
    joining.zName = "vm-frame-joining";
    joining.xOpen = open;
    joining.xDelete = remove;
    joining.xAccess = access;
    joining.xFullPathname = fullPathname;
    joining.xRandomness = randomness;
    joining.xSleep = sleepFor;
    joining.xCurrentTime = currentTime;
    joining.xGetLastError = lastError;
    joining.xCurrentTimeInt64 = currentTimeInt64;
    return sqlite3_vfs_register(&joining, 0) == SQLITE_OK ? joining.zName : nullptr;
}

}  // namespace

const char* FrameJoiningVfs::name() {
    static const char* registered = registerOnce();
    return registered;
}

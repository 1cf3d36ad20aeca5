#include "platform/BTreeIndex.h"

#include <fcntl.h>
#include <lmdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "host/platform/FaultInjector.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/IndexFiles.h"
#include "platform/TraceService.h"

// The index service on LMDB. An index file is one LMDB environment opened
// with MDB_NOSUBDIR: the path is the data file and LMDB keeps its lock file
// beside it as "<path>-lock". The environment holds two named databases:
// "records" with the records, "meta" with the key type the index was created
// with. Records live in a named database, not in LMDB's main one, because the
// main database also holds the names of the named databases and a 4-byte
// record key could collide with one of them.
//
// A process opens each index file once (keyed by its canonical host path) and
// keeps the environment open for the rest of its life: descriptors come and
// go, but closing an LMDB environment closes its lock file, which would drop
// the process's locks on that file under any other handle it has on it.
// Environments are opened with MDB_NOTLS so that any thread may run a read
// transaction; each call is one transaction, so nothing of LMDB's is held
// between calls.
//
// The data file is only read through LMDB's mapping (no MDB_WRITEMAP): LMDB
// writes it with pwrite, whose failures it reports. Its lock file is written
// through a mapping, so IndexFiles backs it with storage before LMDB opens it.

namespace {

// Room for a million subscriber records of a few KiB; the file only grows as
// records are written, the rest is address space.
constexpr std::size_t kDefaultMapSize = std::size_t(16) << 30;

const char kRecordsDatabase[] = "records";
const char kMetaDatabase[] = "meta";
const char kKeyTypeKey[] = "key_type";

struct Environment {
    MDB_env* env = nullptr;
    MDB_dbi records = 0;
    unsigned maxKeySize = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

struct Descriptor {
    bool open = false;
    bool writable = false;
    int mode = 0;
    Path path;                           // as the caller named it, for messages
    String file;                         // canonical host path
    Environment* environment = nullptr;  // null in a forked child until first use
};

struct Service {
    std::mutex mutex;
    pid_t pid = ::getpid();
    std::vector<std::unique_ptr<Environment>> opened;  // never closed, see above
    std::map<String, Environment*> byFile;             // this process's, by canonical path
    std::vector<Descriptor> descriptors;
};

Service& service() {
    static Service* s = new Service;
    return *s;
}

void traceFailure(const Path& path, const char* what, int rc) {
    MC_std_trace() << "B-tree index " << path << ": " << what << " failed: " << mdb_strerror(rc);
    TraceManip(MC_std_trace(), 1, true);
}

// The result code of a failed LMDB or system call, traced at level 1.
int failure(const Path& path, const char* what, int rc) {
    traceFailure(path, what, rc);
    bool full = rc == MDB_MAP_FULL || rc == MDB_TXN_FULL || rc == ENOSPC;
    return full ? BTREE_FULL : BTREE_IO_ERROR;
}

// The errno of a failed open: LMDB's own codes are negative.
int openErrno(int rc) {
    if (rc > 0) return rc;
    switch (rc) {
        case MDB_INVALID:
        case MDB_VERSION_MISMATCH:
        case MDB_INCOMPATIBLE:
        case MDB_NOTFOUND:  // an LMDB file without our databases
            return EINVAL;
        case MDB_MAP_FULL:
        case MDB_TXN_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}

// $VM_BTREE_MAPSIZE (bytes) when set, read at each environment open so that a
// test can give one index a small map.
std::size_t mapSize() {
    std::size_t size = kDefaultMapSize;
    if (const char* text = std::getenv("VM_BTREE_MAPSIZE"); text && *text) {
        char* end = nullptr;
        unsigned long long bytes = std::strtoull(text, &end, 10);
        if (*end == '\0' && bytes > 0) size = bytes;
    }
    std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

// Opens the two databases, creating them and the key-type record when asked.
// An existing index keeps the key type it was created with.
int openDatabases(Environment& e, bool create, indx_key_t keyType) {
    MDB_txn* txn = nullptr;
    int rc = mdb_txn_begin(e.env, nullptr, create ? 0 : MDB_RDONLY, &txn);
    if (rc != 0) return rc;
    unsigned flags = create ? MDB_CREATE : 0;
    MDB_dbi meta;
    rc = mdb_dbi_open(txn, kMetaDatabase, flags, &meta);
    if (rc == 0) rc = mdb_dbi_open(txn, kRecordsDatabase, flags, &e.records);
    if (rc == 0 && create) {
        MDB_val key{sizeof kKeyTypeKey - 1, const_cast<char*>(kKeyTypeKey)};
        MDB_val value{sizeof keyType, &keyType};
        rc = mdb_put(txn, meta, &key, &value, MDB_NOOVERWRITE);
        if (rc == MDB_KEYEXIST) rc = 0;
    }
    if (rc != 0) {
        mdb_txn_abort(txn);
        return rc;
    }
    // Committing (even a read transaction) makes the handles usable by later ones.
    return mdb_txn_commit(txn);
}

std::unique_ptr<Environment> openEnvironment(const Path& path, const String& file, bool create,
                                             indx_key_t keyType, int mode, IndexFiles& files) {
    if (int error = files.reserveLock(file, mode)) {
        traceFailure(path, "reserving the lock file", error);
        errno = error;
        return nullptr;
    }
    auto e = std::make_unique<Environment>();
    int rc = mdb_env_create(&e->env);
    if (rc == 0) rc = mdb_env_set_maxdbs(e->env, 2);
    if (rc == 0) rc = mdb_env_set_mapsize(e->env, mapSize());
    if (rc == 0) rc = mdb_env_open(e->env, file.c_str(), MDB_NOSUBDIR | MDB_NOTLS, mode);
    if (rc == 0) rc = openDatabases(*e, create, keyType);
    if (rc != 0) {
        // Not shared yet: no other handle of this process uses its lock file.
        mdb_env_close(e->env);
        traceFailure(path, "open", rc);
        errno = openErrno(rc);
        return nullptr;
    }
    e->maxKeySize = static_cast<unsigned>(mdb_env_get_maxkeysize(e->env));
    return e;
}

// LMDB forbids using an environment in a child of the process that opened
// it. A forked child forgets the inherited environments and reopens each
// index on its first use through a descriptor. The inherited ones are left
// open, not closed: closing their lock-file handles would drop the child's own
// locks on those files once it has reopened them. Called with the mutex held.
void leaveParentEnvironments(Service& s) {
    pid_t now = ::getpid();
    if (now == s.pid) return;
    s.pid = now;
    s.byFile.clear();
    for (Descriptor& d : s.descriptors) d.environment = nullptr;
}

// This process's environment of the index file, opened when needed. An index
// file replaced since it was opened (another inode) gets a fresh environment.
// nullptr with errno set when it cannot be opened. Called with the mutex held.
Environment* environmentFor(Service& s, const Path& path, const String& file, bool create,
                            indx_key_t keyType, int mode, IndexFiles& files) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) return nullptr;
    auto known = s.byFile.find(file);
    if (known != s.byFile.end() && known->second->device == st.st_dev &&
        known->second->inode == st.st_ino)
        return known->second;
    if (!S_ISREG(st.st_mode) || (!create && st.st_size == 0)) {
        // LMDB would take an empty file for a new environment and write to it.
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    std::unique_ptr<Environment> e = openEnvironment(path, file, create, keyType, mode, files);
    if (!e) return nullptr;
    e->device = st.st_dev;
    e->inode = st.st_ino;
    Environment* environment = e.get();
    s.opened.push_back(std::move(e));
    s.byFile[file] = environment;
    return environment;
}

int openIndex(const Path& path, bool create, indx_key_t keyType, int flags, int mode) {
    String host = HostPlatform::hostPath(path);
    if (int error = FaultInjector::check(FaultOp::Open, path.text())) {
        errno = error;
        return -1;
    }
    // An index holds data, never a program.
    mode &= 0666;
    IndexFiles files;
    // Made here rather than by LMDB so that it has a canonical path below.
    if (create && (!HostPlatform::makeParentDirectories(host) || !files.makeData(host, mode)))
        return -1;
    char canonical[PATH_MAX];
    if (::realpath(host.c_str(), canonical) == nullptr) {
        files.removeMade();
        return -1;
    }
    files.canonicalData(canonical);

    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex);
    leaveParentEnvironments(s);
    Environment* environment = environmentFor(s, path, canonical, create, keyType, mode, files);
    if (environment == nullptr) {
        files.removeMade();
        return -1;
    }
    auto slot = std::find_if(s.descriptors.begin(), s.descriptors.end(),
                             [](const Descriptor& d) { return !d.open; });
    if (slot == s.descriptors.end()) slot = s.descriptors.emplace(s.descriptors.end());
    *slot = Descriptor{true, flags == BTREE_READ_WRITE, mode, path, canonical, environment};
    return static_cast<int>(slot - s.descriptors.begin());
}

// What a record call works on, taken from the descriptor table.
struct Target {
    Environment* environment = nullptr;
    Path path;
};

// Checks the descriptor, the right to write and the key; reopens the index in
// a forked child.
int resolve(int fd, bool write, std::uint16_t keyLength, const char* key, Target& target) {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex);
    leaveParentEnvironments(s);
    if (fd < 0 || static_cast<std::size_t>(fd) >= s.descriptors.size() || !s.descriptors[fd].open)
        return BTREE_BAD_DESCRIPTOR;
    Descriptor& d = s.descriptors[fd];
    if (write && !d.writable) return BTREE_READ_ONLY;
    if (d.environment == nullptr) {
        IndexFiles files;
        d.environment = environmentFor(s, d.path, d.file, false, 0, d.mode, files);
        if (d.environment == nullptr) {
            files.removeMade();
            return failure(d.path, "reopen after fork", errno);
        }
    }
    // Longer keys than LMDB's limit are refused rather than digested: the
    // module's keys are 4 bytes.
    if (key == nullptr || keyLength == 0 || keyLength > d.environment->maxKeySize)
        return BTREE_BAD_ARGUMENT;
    target.environment = d.environment;
    target.path = d.path;
    return BTREE_OK;
}

MDB_val keyValue(std::uint16_t keyLength, const char* key) {
    return MDB_val{keyLength, const_cast<char*>(key)};
}

// Runs `use` on the key's record inside a read transaction.
template <typename Use>
int readRecord(const Target& t, std::uint16_t keyLength, const char* key, Use use) {
    if (int error = FaultInjector::check(FaultOp::Read, t.path.text()))
        return failure(t.path, "read", error);
    MDB_txn* txn = nullptr;
    int rc = mdb_txn_begin(t.environment->env, nullptr, MDB_RDONLY, &txn);
    if (rc != 0) return failure(t.path, "read", rc);
    MDB_val k = keyValue(keyLength, key);
    MDB_val value;
    rc = mdb_get(txn, t.environment->records, &k, &value);
    if (rc == 0) use(value);
    mdb_txn_abort(txn);
    if (rc == MDB_NOTFOUND) return BTREE_NO_RECORD;
    return rc == 0 ? BTREE_OK : failure(t.path, "read", rc);
}

// Stores (data != nullptr) or deletes the key's record in one durable write
// transaction; a failed one leaves the record as it was.
int changeRecord(const Target& t, std::uint16_t keyLength, const char* key,
                 unsigned long dataLength, const char* data) {
    const char* what = data ? "write" : "delete";
    if (int error = FaultInjector::check(FaultOp::Write, t.path.text()))
        return failure(t.path, what, error);
    MDB_txn* txn = nullptr;
    int rc = mdb_txn_begin(t.environment->env, nullptr, 0, &txn);
    if (rc != 0) return failure(t.path, what, rc);
    MDB_val k = keyValue(keyLength, key);
    if (data) {
        MDB_val value{dataLength, const_cast<char*>(data)};
        rc = mdb_put(txn, t.environment->records, &k, &value, 0);
    } else {
        rc = mdb_del(txn, t.environment->records, &k, nullptr);
    }
    if (rc != 0) {
        mdb_txn_abort(txn);
        return rc == MDB_NOTFOUND ? BTREE_NO_RECORD : failure(t.path, what, rc);
    }
    rc = mdb_txn_commit(txn);
    return rc == 0 ? BTREE_OK : failure(t.path, what, rc);
}

}  // namespace

int zrbopen(const Path& path, int flags, int mode) {
    return openIndex(path, false, 0, flags, mode);
}

int creat_index(const Path& path, indx_key_t keyType, int flags, int mode) {
    return openIndex(path, true, keyType, flags, mode);
}

int close_index(int fd) {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (fd < 0 || static_cast<std::size_t>(fd) >= s.descriptors.size() || !s.descriptors[fd].open)
        return BTREE_BAD_DESCRIPTOR;
    s.descriptors[fd] = Descriptor{};
    return BTREE_OK;
}

int reade(int fd, std::uint16_t keyLength, const char* key, unsigned long bufferSize,
          unsigned long* dataLength, char* buffer) {
    Target t;
    if (int rc = resolve(fd, false, keyLength, key, t)) return rc;
    if (dataLength == nullptr || (buffer == nullptr && bufferSize > 0)) return BTREE_BAD_ARGUMENT;
    *dataLength = 0;
    return readRecord(t, keyLength, key, [&](const MDB_val& value) {
        *dataLength = value.mv_size;
        std::memcpy(buffer, value.mv_data, std::min<std::size_t>(bufferSize, value.mv_size));
    });
}

int reade_dvalp(int fd, std::uint16_t keyLength, const char* key, unsigned long* dataLength,
                char** data) {
    // LMDB's pointer dies with the transaction; the copy lives until this
    // thread's next reade_dvalp.
    thread_local String record;
    Target t;
    if (int rc = resolve(fd, false, keyLength, key, t)) return rc;
    if (dataLength == nullptr || data == nullptr) return BTREE_BAD_ARGUMENT;
    *dataLength = 0;
    *data = nullptr;
    return readRecord(t, keyLength, key, [&](const MDB_val& value) {
        record.assign(static_cast<const char*>(value.mv_data), value.mv_size);
        *dataLength = record.size();
        *data = record.data();
    });
}

int writerec(int fd, std::uint16_t keyLength, const char* key, unsigned long dataLength,
             const char* data) {
    Target t;
    if (int rc = resolve(fd, true, keyLength, key, t)) return rc;
    if (data == nullptr && dataLength > 0) return BTREE_BAD_ARGUMENT;
    return changeRecord(t, keyLength, key, dataLength, data ? data : "");
}

int deleterec(int fd, std::uint16_t keyLength, const char* key) {
    Target t;
    if (int rc = resolve(fd, true, keyLength, key, t)) return rc;
    return changeRecord(t, keyLength, key, 0, nullptr);
}

int invalidate_key(int fd, std::uint16_t keyLength, const char* key) {
    // Every read is a fresh LMDB read transaction, which sees the last
    // committed write of any process: there is no copy to drop.
    Target t;
    return resolve(fd, false, keyLength, key, t);
}

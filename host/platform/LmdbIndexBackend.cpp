#include "host/platform/LmdbIndexBackend.h"

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
#include "host/platform/HexText.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/IndexFiles.h"
#include "host/platform/LmdbReadTransaction.h"
#include "host/platform/ProcessId.h"
#include "platform/TraceService.h"

// The index service on LMDB. An index file is one LMDB environment opened
// with MDB_NOSUBDIR: the path is the data file and LMDB keeps its lock file
// beside it as "<path>-lock". The records live in LMDB's main database, and
// one named database, "vm-index-meta", holds the key type the index was
// created with and marks the file as an index. Its name is a key of the main
// database too, so that one key is refused as a record key. Records are in
// the main database because a named one costs every write a page more: the
// main database's entry for it changes with each commit.
//
// Index files made before kept their records in a named database "records"
// beside "meta" (the key type); they are read and written as they are.
//
// A process opens each index file once (keyed by its canonical host path) and
// keeps the environment open for the rest of its life: descriptors come and
// go, but closing an LMDB environment closes its lock file, which would drop
// the process's locks on that file under any other handle it has on it.
// Environments are opened with MDB_NOTLS so that any thread may run a read
// transaction; each call is one transaction. Between calls a thread keeps
// only its last read transaction, reset (LmdbReadTransaction): no snapshot
// is held, only a reader slot.
//
// The data file is only read through LMDB's mapping (no MDB_WRITEMAP): LMDB
// writes it with pwrite, whose failures it reports. A writable mapping would
// save those calls but turn a full disk into a SIGBUS. Its lock file is written
// through a mapping, so IndexFiles backs it with storage before LMDB opens it.

namespace {

// Room for a million subscriber records of a few KiB; the file only grows as
// records are written, the rest is address space.
constexpr std::size_t kDefaultMapSize = std::size_t(16) << 30;

const char kMarkDatabase[] = "vm-index-meta";
const char kEarlierRecordsDatabase[] = "records";
const char kEarlierMetaDatabase[] = "meta";
const char kKeyTypeKey[] = "key_type";

struct Environment {
    MDB_env* env = nullptr;
    MDB_dbi records = 0;
    bool recordsInMain = false;  // false: the earlier layout, no key reserved
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
    pid_t pid = ProcessId::current();
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

// Finds the records' database of an index made in either layout; makes a
// new index's mark when asked. The mark is looked for first: in the current
// layout "records" may well be a record's key. MDB_NOTFOUND when the file
// holds neither (an LMDB file that is not an index).
int findRecords(MDB_txn* txn, Environment& e, bool create, MDB_dbi& meta) {
    int rc = mdb_dbi_open(txn, kMarkDatabase, 0, &meta);
    if (rc == MDB_NOTFOUND) {
        rc = mdb_dbi_open(txn, kEarlierRecordsDatabase, 0, &e.records);
        if (rc == 0) return mdb_dbi_open(txn, kEarlierMetaDatabase, 0, &meta);
        if (rc != MDB_NOTFOUND || !create) return rc;
        rc = mdb_dbi_open(txn, kMarkDatabase, MDB_CREATE, &meta);
    }
    e.recordsInMain = rc == 0;
    return rc == 0 ? mdb_dbi_open(txn, nullptr, 0, &e.records) : rc;
}

// Opens the databases, creating them and the key-type record when asked.
// An existing index keeps its layout and the key type it was created with.
int openDatabases(Environment& e, bool create, indx_key_t keyType) {
    MDB_txn* txn = nullptr;
    int rc = mdb_txn_begin(e.env, nullptr, create ? 0 : MDB_RDONLY, &txn);
    if (rc != 0) return rc;
    MDB_dbi meta;
    rc = findRecords(txn, e, create, meta);
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
    // Reader slots that dead processes left (a reading thread keeps one
    // between reads) would otherwise fill the table for good.
    int dead = 0;
    if (rc == 0) mdb_reader_check(e->env, &dead);
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
    pid_t now = ProcessId::current();
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

// What a record call works on, taken from the descriptor table. The path
// the descriptor was opened with is fetched only for a message or an injected
// fault: copying it on every call would cost an allocation.
struct Target {
    Environment* environment = nullptr;
    int fd = -1;

    Path path() const {
        Service& s = service();
        std::lock_guard<std::mutex> lock(s.mutex);
        return static_cast<std::size_t>(fd) < s.descriptors.size() ? s.descriptors[fd].path
                                                                   : Path();
    }
};

// The errno an injected fault gives this call, or 0.
int injected(FaultOp op, const Target& t) {
    return FaultInjector::armed() ? FaultInjector::check(op, t.path().text()) : 0;
}

// Checks the descriptor, the right to write and the key; reopens the index in
// a forked child.
int resolve(int fd, bool write, std::string_view key, Target& target) {
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
    if (key.data() == nullptr || key.empty() || key.size() > d.environment->maxKeySize)
        return BTREE_BAD_ARGUMENT;
    if (d.environment->recordsInMain && key == std::string_view(kMarkDatabase))
        return BTREE_BAD_ARGUMENT;
    target.environment = d.environment;
    target.fd = fd;
    return BTREE_OK;
}

MDB_val keyValue(std::string_view key) {
    return MDB_val{key.size(), const_cast<char*>(key.data())};
}

std::string_view bytesOf(const MDB_val& value) {
    return {static_cast<const char*>(value.mv_data), value.mv_size};
}

// Whether the record at the cursor (rc: how it was looked up) is still the
// one expected. Checked inside the write transaction: LMDB has one writer at
// a time, so nothing can change the record between this check and the put.
bool stillAsRead(int rc, const MDB_val& value, const IndexBackend::Record& expected) {
    if (rc == MDB_NOTFOUND) return !expected.found;
    return rc == 0 && expected.found && bytesOf(value) == expected.bytes;
}

int stale(const Path& path, std::string_view key) {
    MC_std_trace() << "B-tree index " << path << ": the record of key " << hexBytes(key)
                   << " changed since it was read; not written";
    TraceManip(MC_std_trace(), 1, true);
    errno = ESTALE;
    return BTREE_IO_ERROR;
}

// Stores (data != nullptr) or deletes the key's record in one durable write
// transaction; a failed one leaves the record as it was.
int changeRecord(const Target& t, std::string_view key, const char* data, std::size_t dataLength,
                 const IndexBackend::Record* expected) {
    const char* what = data ? "write" : "delete";
    if (int error = injected(FaultOp::Write, t)) return failure(t.path(), what, error);
    MDB_txn* txn = nullptr;
    MDB_cursor* cursor = nullptr;
    int rc = mdb_txn_begin(t.environment->env, nullptr, 0, &txn);
    if (rc == 0) rc = mdb_cursor_open(txn, t.environment->records, &cursor);
    if (rc != 0) {
        if (txn) mdb_txn_abort(txn);
        return failure(t.path(), what, rc);
    }
    // One descent of the tree finds the record for the check and the change.
    // The lookup's key is its own: LMDB points it at the stored key.
    MDB_val k = keyValue(key), sought = k, held;
    int found = mdb_cursor_get(cursor, &sought, &held, MDB_SET_KEY);
    if (expected && !stillAsRead(found, held, *expected)) {
        mdb_txn_abort(txn);
        return stale(t.path(), key);
    }
    if (found != 0 && found != MDB_NOTFOUND) {
        rc = found;
    } else if (data) {
        MDB_val value{dataLength, const_cast<char*>(data)};
        rc = mdb_cursor_put(cursor, &k, &value, found == 0 ? MDB_CURRENT : 0);
    } else {
        rc = found == 0 ? mdb_cursor_del(cursor, 0) : MDB_NOTFOUND;
    }
    if (rc != 0) {
        mdb_txn_abort(txn);
        return rc == MDB_NOTFOUND ? BTREE_NO_RECORD : failure(t.path(), what, rc);
    }
    rc = mdb_txn_commit(txn);
    return rc == 0 ? BTREE_OK : failure(t.path(), what, rc);
}

}  // namespace

int LmdbIndexBackend::open(const Path& path, bool create, indx_key_t keyType, int flags, int mode) {
    return openIndex(path, create, keyType, flags, mode);
}

int LmdbIndexBackend::close(int fd) {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (fd < 0 || static_cast<std::size_t>(fd) >= s.descriptors.size() || !s.descriptors[fd].open)
        return BTREE_BAD_DESCRIPTOR;
    s.descriptors[fd] = Descriptor{};
    return BTREE_OK;
}

int LmdbIndexBackend::check(int fd, bool write, std::string_view key) {
    Target t;
    return resolve(fd, write, key, t);
}

int LmdbIndexBackend::read(int fd, std::string_view key, Record& record) {
    // Emptied, not replaced: the thread's last read keeps its bytes' room.
    record.found = false;
    record.bytes.clear();
    record.revision = 0;
    Target t;
    if (int rc = resolve(fd, false, key, t)) return rc;
    if (int error = injected(FaultOp::Read, t)) return failure(t.path(), "read", error);
    int rc;
    {
        LmdbReadTransaction txn(t.environment->env);
        if (txn.rc() != 0) return failure(t.path(), "read", txn.rc());
        MDB_val k = keyValue(key);
        MDB_val value;
        rc = mdb_get(txn.txn(), t.environment->records, &k, &value);
        // LMDB's pointer dies with the transaction: the record is copied out.
        if (rc == 0) record.bytes.assign(bytesOf(value));
        record.revision = static_cast<std::int64_t>(mdb_txn_id(txn.txn()));
    }
    record.found = rc == 0;
    if (rc == MDB_NOTFOUND) return BTREE_NO_RECORD;
    return rc == 0 ? BTREE_OK : failure(t.path(), "read", rc);
}

bool LmdbIndexBackend::unchangedSince(int fd, std::string_view key, const Record& record) {
    Target t;
    if (FaultInjector::armed() || record.revision == 0 || resolve(fd, false, key, t) != BTREE_OK)
        return false;
    // The newer of LMDB's two meta pages names the last commit. A page that
    // another process's commit is writing may read torn, as a mix of its old
    // number (the read's minus one) and its new one (plus one): neither
    // matches the read's number in the lowest byte, so a torn page never
    // passes for it, and until the page is whole the other one still names
    // the read's commit, which is then still the last one finished.
    MDB_envinfo info;
    return mdb_env_info(t.environment->env, &info) == 0 &&
           info.me_last_txnid == static_cast<std::size_t>(record.revision);
}

int LmdbIndexBackend::write(int fd, std::string_view key, std::string_view data,
                            const Record* expected) {
    Target t;
    if (int rc = resolve(fd, true, key, t)) return rc;
    return changeRecord(t, key, data.data() ? data.data() : "", data.size(), expected);
}

int LmdbIndexBackend::remove(int fd, std::string_view key, const Record* expected) {
    Target t;
    if (int rc = resolve(fd, true, key, t)) return rc;
    return changeRecord(t, key, nullptr, 0, expected);
}

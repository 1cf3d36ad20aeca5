#include "host/platform/EtcdIndexBackend.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "host/platform/ProcessId.h"
#include "platform/TraceService.h"

namespace {

void trace(const std::string& message) {
    MC_std_trace() << message;
    TraceManip(MC_std_trace(), 1, true);
}

// The mod revision a fenced change compares with: 0 matches a key that does
// not exist.
std::int64_t revisionOf(const IndexBackend::Record* expected) {
    if (!expected) return EtcdIndexStore::kUnfenced;
    return expected->found ? expected->revision : 0;
}

}  // namespace

EtcdIndexBackend::EtcdIndexBackend(EtcdIndexUrl url) : url_(std::move(url)) {}

EtcdIndexStore* EtcdIndexBackend::store() {
    pid_t now = ProcessId::current();
    if (store_ && pid_ != now) inherited_.push_back(std::move(store_));
    if (!store_) {
        std::string error;
        store_ = EtcdIndexStore::open(url_, error);
        if (!store_) {
            trace("etcd index: " + error);
            noteOpenError("etcd index: " + error);
        }
        pid_ = now;
    }
    return store_.get();
}

// Traces what the store said went wrong; a stale write also sets errno, so
// that a caller with only the result code can tell it from a broken cluster.
int EtcdIndexBackend::failed(int rc) {
    if (rc == BTREE_OK || rc == BTREE_NO_RECORD) return rc;
    trace(EtcdIndexStore::lastError());
    if (EtcdIndexStore::lastWasStale()) errno = ESTALE;
    return rc;
}

int EtcdIndexBackend::open(const Path& path, bool create, indx_key_t keyType, int flags, int) {
    std::lock_guard<std::mutex> lock(mutex_);
    EtcdIndexStore* s = store();
    if (s == nullptr) {
        errno = EIO;
        return -1;
    }
    indx_key_t existing = 0;
    int rc = create ? s->createIndex(path.text(), keyType) : s->indexKeyType(path.text(), existing);
    if (rc != BTREE_OK) {
        if (rc != BTREE_NO_RECORD) {
            failed(rc);
            noteOpenError(EtcdIndexStore::lastError());
        }
        errno = rc == BTREE_NO_RECORD ? ENOENT : rc == BTREE_FULL ? ENOSPC : EIO;
        return -1;
    }
    auto slot = std::find_if(descriptors_.begin(), descriptors_.end(),
                             [](const Descriptor& d) { return !d.open; });
    if (slot == descriptors_.end()) slot = descriptors_.emplace(descriptors_.end());
    *slot = Descriptor{true, flags == BTREE_READ_WRITE, path.text()};
    return static_cast<int>(slot - descriptors_.begin());
}

int EtcdIndexBackend::close(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd < 0 || static_cast<std::size_t>(fd) >= descriptors_.size() || !descriptors_[fd].open)
        return BTREE_BAD_DESCRIPTOR;
    descriptors_[fd] = Descriptor{};
    return BTREE_OK;
}

int EtcdIndexBackend::resolve(int fd, bool write, std::string_view key, std::string& path,
                              EtcdIndexStore*& store) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd < 0 || static_cast<std::size_t>(fd) >= descriptors_.size() || !descriptors_[fd].open)
        return BTREE_BAD_DESCRIPTOR;
    if (write && !descriptors_[fd].writable) return BTREE_READ_ONLY;
    if (key.data() == nullptr || key.empty()) return BTREE_BAD_ARGUMENT;
    store = this->store();
    if (store == nullptr) return BTREE_IO_ERROR;
    path = descriptors_[fd].path;
    return BTREE_OK;
}

int EtcdIndexBackend::check(int fd, bool write, std::string_view key) {
    std::string path;
    EtcdIndexStore* s = nullptr;
    return resolve(fd, write, key, path, s);
}

// The store is used outside the mutex: its gateway serialises its own calls,
// and a slow cluster must not hold up opens and closes.
int EtcdIndexBackend::read(int fd, std::string_view key, Record& record) {
    record = Record{};
    std::string path;
    EtcdIndexStore* s = nullptr;
    if (int rc = resolve(fd, false, key, path, s)) return rc;
    EtcdIndexStore::Record found;
    int rc = failed(s->read(path, key, found));
    record.found = rc == BTREE_OK;
    record.bytes = std::move(found.bytes);
    record.revision = found.revision;
    return rc;
}

int EtcdIndexBackend::write(int fd, std::string_view key, std::string_view data,
                            const Record* expected) {
    std::string path;
    EtcdIndexStore* s = nullptr;
    if (int rc = resolve(fd, true, key, path, s)) return rc;
    return failed(s->write(path, key, data, revisionOf(expected)));
}

int EtcdIndexBackend::remove(int fd, std::string_view key, const Record* expected) {
    std::string path;
    EtcdIndexStore* s = nullptr;
    if (int rc = resolve(fd, true, key, path, s)) return rc;
    return failed(s->remove(path, key, revisionOf(expected)));
}

#include "properties/BTreeProperties.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <istream>
#include <iterator>
#include <limits>
#include <ostream>

#include "platform/FileSystem.h"
#include "platform/Trace.h"
#include "platform/TraceService.h"
#include "properties/MemoryInput.h"
#include "properties/SaveJournal.h"

namespace {

std::uint16_t keyLength(const BTreeProperties::keyInfo& key) {
    return static_cast<std::uint16_t>(key.key.size());
}

// How many decimal digits a record starts with: its change counter.
std::size_t counterDigits(std::string_view record) {
    std::size_t digits = 0;
    while (digits < record.size() && record[digits] >= '0' && record[digits] <= '9') ++digits;
    return digits;
}

// The counter as operator>> reads it, without a stream: a record's counter
// is read before every save and by every change check.
std::uint32_t counterOf(std::string_view record) {
    std::uint32_t counter = 0;
    for (char digit : record.substr(0, counterDigits(record)))
        counter = counter * 10 + static_cast<std::uint32_t>(digit - '0');
    return counter;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const BTreeProperties::BTreeDataPrefix& prefix) {
    return out << prefix.counter;
}

std::istream& operator>>(std::istream& in, BTreeProperties::BTreeDataPrefix& prefix) {
    prefix.counter = 0;
    for (int c = in.peek(); c >= '0' && c <= '9'; c = in.peek()) {
        prefix.counter = prefix.counter * 10 + static_cast<std::uint32_t>(c - '0');
        in.get();
    }
    return in;
}

BTreeProperties::BTreeProperties() = default;

BTreeProperties::BTreeProperties(const Symbol& name) : Properties(name) {}

BTreeProperties::BTreeProperties(const BTreeProperties& other)
    : Properties(other),
      key_(other.key_),
      index_(other.index_),
      indexMissing_(other.indexMissing_) {}

BTreeProperties& BTreeProperties::operator=(const BTreeProperties& other) {
    Properties::operator=(other);
    key_ = other.key_;
    index_ = other.index_;
    indexMissing_ = other.indexMissing_;
    return *this;
}

BTreeProperties::~BTreeProperties() = default;

bool BTreeProperties::reinit() {
    return Properties::reinit();
}

bool BTreeProperties::reinit(const Path& path, keyInfo& key) {
    bool missing = false;
    if (key.fd < 0) {
        if (openBTree(path, false) < 0 && !indexMissing_) return false;
        missing = indexMissing_;
        key.fd = key_.fd;
    }
    // A kind's reinit unbinds the set as well as emptying it.
    reinit();
    index_ = path;
    indexMissing_ = missing;
    bool result = get_from_btree(key, true);
    modified_ = false;
    return result;
}

bool BTreeProperties::isOwner(bool refresh) {
    if (myPBox == 0) setMyPbox();
    if (refresh) {
        // The record just refreshed is the one the set's puts look up, so
        // they need not check the defaults file again.
        setCachedKnown(&getKnown());
    }
    const std::uint16_t owner = knownRecord().pbox;
    return owner == 0 || owner == myPBox;
}

bool BTreeProperties::unbind(bool keep, indx_key_t keyType, std::int32_t sharedFd) {
    bool result = keep || BTreeProperties::reinit();
    key_.keyType = keyType;
    key_.fd = sharedFd;
    index_ = Path();
    indexMissing_ = false;
    return result;
}

bool BTreeProperties::bind(const Path& path, std::uint32_t number, std::int32_t& sharedFd) {
    keyInfo key = key_;
    key.key.assign(reinterpret_cast<const char*>(&number), sizeof number);
    bool result = reinit(path, key);
    sharedFd = key_.fd;
    return result;
}

std::uint32_t BTreeProperties::numberIn(const PropertiesID& key) {
    std::uint32_t number;
    std::memcpy(&number, key.bytes, sizeof number);
    return number;
}

Properties::PropertiesID BTreeProperties::keyOf(std::uint32_t number) {
    PropertiesID key;
    std::memcpy(key.bytes, &number, sizeof number);
    return key;
}

int BTreeProperties::openBTree(const Path& path, bool create) {
    bool owner = isOwner(true);
    int flags = owner ? BTREE_READ_WRITE : BTREE_READ;
    int fd = zrbopen(path, flags, kIndexMode);
    // An empty file is a store whose creation never finished (a crash or a
    // full disk): it holds no records either.
    struct stat info;
    indexMissing_ =
        fd < 0 && (errno == ENOENT || (errno == EINVAL && FileSystem::stat(path, &info) == 0 &&
                                       S_ISREG(info.st_mode) && info.st_size == 0));
    if (fd < 0 && create && owner) {
        fd = creat_index(path, key_.keyType, flags, kIndexMode);
        indexMissing_ = false;
    }
    key_.fd = fd;
    if (fd < 0 && !indexMissing_) error_ = CANT_OPEN;
    return fd;
}

int BTreeProperties::unopened() const {
    if (indexMissing_) return BTREE_NO_RECORD;
    error_ = CANT_OPEN;
    return BTREE_BAD_DESCRIPTOR;
}

int BTreeProperties::getBTreeDataPrefix(const keyInfo& key, BTreeDataPrefix& prefix,
                                        unsigned long& length) const {
    if (key.fd < 0) return unopened();
    char digits[16];
    length = 0;
    int rc = reade(key.fd, keyLength(key), key.key.data(), sizeof digits, &length, digits);
    if (rc == BTREE_OK)
        prefix.counter =
            counterOf(std::string_view(digits, std::min<unsigned long>(length, sizeof digits)));
    return rc;
}

int BTreeProperties::getBTreeDataPrefix(const keyInfo& key, BTreeDataPrefix& prefix) const {
    unsigned long length;
    return getBTreeDataPrefix(key, prefix, length);
}

int BTreeProperties::getBTreeData(const keyInfo& key, unsigned long& length, char*& data) const {
    if (key.fd < 0) return unopened();
    return reade_dvalp(key.fd, keyLength(key), key.key.data(), &length, &data);
}

int BTreeProperties::storedRecord(const keyInfo& key, BTreeDataPrefix& prefix,
                                  std::string_view& stored) const {
    unsigned long length = 0;
    char* data = nullptr;
    int rc = getBTreeData(key, length, data);
    stored = rc == BTREE_OK ? std::string_view(data, length) : std::string_view();
    if (rc == BTREE_OK) prefix.counter = counterOf(stored);
    return rc;
}

void BTreeProperties::putCounter(StreamText& text, std::uint32_t counter) {
    char digits[std::numeric_limits<std::uint32_t>::digits10 + 1];
    const std::size_t length =
        static_cast<std::size_t>(std::to_chars(digits, std::end(digits), counter).ptr - digits);
    // The room before the stream nearly always holds the digits: then the
    // record is made without copying the stream.
    if (text.start >= length) {
        text.start -= length;
        text.bytes.replace(text.start, length, digits, length);
    } else {
        text.bytes.replace(0, text.start, digits, length);
        text.start = 0;
    }
}

std::string_view BTreeProperties::streamOf(std::string_view record) {
    return record.substr(counterDigits(record));
}

bool BTreeProperties::get_from_btree(const keyInfo& key, bool replace) {
    if (key.fd != key_.fd || key.key != key_.key) modified_ = true;
    // Read into an empty set, the set is what the record holds.
    const bool fresh = holdsNone() && journal_enabled();
    unsigned long length = 0;
    char* data = nullptr;
    int rc = getBTreeData(key, length, data);
    if (rc == BTREE_NO_RECORD) {
        key_ = key;
        if (fresh) matchStore(0);
        return true;
    }
    if (rc != BTREE_OK) {
        MC_std_trace() << "BTreeProperties::get_from_btree() - reade(" << key.fd << ","
                       << keyLength(key) << ",key,dataSize,...) returns "
                       << static_cast<std::int16_t>(rc) << ", data_len =" << length << oops;
        return false;
    }
    MemoryInput::Lease lease(data, length);
    MemoryInput& in = lease.stream();
    BTreeDataPrefix prefix;
    in >> prefix;
    if (!obtain(in, replace)) return false;
    if (fresh) matchStore(journal_digest(data, length));
    modified_ = true;
    key_ = key;
    key_.status = prefix.counter;
    return true;
}

bool BTreeProperties::createIndex() {
    if (index_.empty()) {
        error_ = CANT_OPEN;
        return false;
    }
    if (openBTree(index_, true) >= 0) return true;
    int error = errno;
    MC_std_trace() << "BTreeProperties::save() - can't create the index " << index_ << ": "
                   << std::strerror(error) << oops;
    // The set's error names the system's: a full disk reads as ENOSPC.
    error_ = OS_SYSTEM_ERROR;
    errno = error;
    return false;
}

bool BTreeProperties::obtain(bool replace) {
    return get_from_btree(key_, replace);
}

bool BTreeProperties::underlierChanged() const {
    BTreeDataPrefix prefix;
    return getBTreeDataPrefix(key_, prefix) != BTREE_OK || prefix.counter != key_.status;
}

std::int32_t BTreeProperties::estimateLength() {
    BTreeDataPrefix prefix;
    unsigned long length;
    if (getBTreeDataPrefix(key_, prefix, length) != BTREE_OK) return -1;
    return static_cast<std::int32_t>(
        std::min<unsigned long>(length, std::numeric_limits<std::int32_t>::max()));
}

bool BTreeProperties::dropCopy() {
    // Without the index this process holds no copy to drop.
    if (key_.fd < 0 && indexMissing_) return true;
    int rc = invalidate_key(key_.fd, keyLength(key_), key_.key.data());
    if (rc == BTREE_OK) return true;
    MC_std_trace() << "invalidate_key(" << key_.fd << "," << keyLength(key_) << ", key) fails w/"
                   << rc << oops;
    return false;
}

bool BTreeProperties::readBeforeSave(const keyInfo& key, bool journaled, BTreeDataPrefix& prefix,
                                     std::string_view& stored) {
    // With a journal the whole record is read: the journal records what the
    // fenced write replaces.
    int rc = journaled ? storedRecord(key, prefix, stored) : getBTreeDataPrefix(key, prefix);
    if (rc == BTREE_NO_RECORD) prefix.counter = 0;
    if (rc == BTREE_OK || rc == BTREE_NO_RECORD) return true;
    // Writing counter 1 over a record that could not be read would hide
    // the write from every process that holds a copy.
    if (rc != BTREE_BAD_DESCRIPTOR) {
        error_ = OS_SYSTEM_ERROR;
        errno = rc;
    }
    return false;
}

int BTreeProperties::storeFenced(const keyInfo& key, std::string_view data) const {
    // Fenced on the counter read before: another owner's write in between
    // makes this one fail (errno ESTALE) instead of silently undoing it, a
    // delete of an emptied set as much as a write.
    int rc = holdsNone() ? deleterec_fenced(key.fd, keyLength(key), key.key.data())
                         : writerec_fenced(key.fd, keyLength(key), key.key.data(), data.size(),
                                           data.data());
    const int writeError = errno;
    if (holdsNone() && rc == BTREE_NO_RECORD) rc = BTREE_OK;
    // Above trace level 2 a write is traced in detail; a delete only when it
    // fails.
    if (rc != BTREE_OK || (!holdsNone() && MC_current_trace_level() > 2))
        MC_std_trace() << "BTreeProperties::save() - rc=" << static_cast<std::int16_t>(rc)
                       << (holdsNone() ? " for deleterec(" : " for writerec(") << key.fd << ","
                       << keyLength(key) << "," << key.key << "," << data.size() << "," << data
                       << ")" << verbose;
    errno = writeError;
    return rc;
}

bool BTreeProperties::saveThem() {
    if (!isOwner(false)) return dropCopy();
    if (key_.fd < 0) {
        // An empty set of a missing index is already what the index says.
        if (indexMissing_ && holdsNone()) {
            modified_ = false;
            return true;
        }
        if (!createIndex()) return false;
    }
    keyInfo key = key_;
    // Asked once: each answer is a walk of the environment.
    const bool journaled = journal_enabled();
    BTreeDataPrefix prefix;
    std::string_view stored;
    if (!readBeforeSave(key, journaled, prefix, stored)) return false;
    StreamText text;
    if (!holdsNone()) {
        ++prefix.counter;
        text = streamText();
        putCounter(text, prefix.counter);
    }
    const std::string_view data = holdsNone() ? std::string_view() : text.view();
    // Digests serve the journal only.
    const std::uint64_t afterDigest = journaled ? journal_digest(data.data(), data.size()) : 0;
    SaveJournal journal(*this, std::to_string(numberIn(myKey())),
                        {streamOf(stored),
                         journaled ? journal_digest(stored.data(), stored.size()) : 0, afterDigest},
                        false);
    errno = 0;
    int rc = storeFenced(key, data);
    int writeError = errno;
    journal.finish(rc == BTREE_OK);
    if (rc == BTREE_OK && journaled) matchStore(afterDigest);
    if (rc == BTREE_OK && holdsNone()) modified_ = false;
    if (rc == BTREE_OK) return true;
    // The index's failure codes are errno values (ENOSPC for a full index).
    error_ = OS_SYSTEM_ERROR;
    errno = rc == BTREE_IO_ERROR && writeError == ESTALE ? ESTALE : rc;
    return false;
}

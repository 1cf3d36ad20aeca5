#include "properties/FileProperties.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/FileSystem.h"
#include "platform/Pause.h"
#include "platform/Trace.h"
#include "properties/LockedFile.h"
#include "properties/MemoryInput.h"
#include "properties/SaveJournal.h"

namespace {

const char kReadRelease[] = "get_from_file: blocking to fcntl prop file";
const char kReadAcquire[] = "get_from_file: unblocking after fcntl for prop";
const char kWriteRelease[] = "write_to_file: blocking to fcntl prop file";
const char kWriteAcquire[] = "write_to_file: unblocking after fcntl prop file";

Path directoryOf(const Path& path) {
    std::size_t slash = path.text().rfind('/');
    if (slash == String::npos) return Path(".");
    return Path(slash == 0 ? String("/") : path.text().substr(0, slash));
}

String baseOf(const Path& path) {
    std::size_t slash = path.text().rfind('/');
    return slash == String::npos ? path.text() : path.text().substr(slash + 1);
}

// One name per file: only the holder of the file's exclusive lock uses it,
// so a name found there is a killed writer's leftover.
Path temporaryFor(const Path& target) {
    return directoryOf(target) / ("." + baseOf(target) + ".tmp");
}

// The replacement takes the owner and group of the file it replaces. Where
// this process may not give them back (EPERM), the save is refused: handing
// the file to the saver would lock its owner or group out.
bool keepOwner(int fd, const Path& path, const struct stat& original) {
    struct stat made;
    if (FileSystem::fstat(fd, &made) != 0) return false;
    if (made.st_uid == original.st_uid && made.st_gid == original.st_gid) return true;
    if (FileSystem::fchown(fd, original.st_uid, original.st_gid) == 0) return true;
    int error = errno;
    MC_std_trace() << "FileProperties::saveThem(" << path
                   << ") - cannot give the new file the owner " << original.st_uid << " and group "
                   << original.st_gid << " of the file it replaces: " << std::strerror(error)
                   << "; not saved" << oops;
    errno = error;
    return false;
}

// Writes bytes to a fresh file beside target, syncs it and renames it over
// target. The new file keeps the owner, group and mode of `original`, the
// file it replaces, or gets mode 0664 when that file was only just created.
// False with errno set; target is then untouched.
bool replaceFile(const Path& target, std::string_view bytes, const struct stat& original,
                 bool created) {
    Path temporary = temporaryFor(target);
    mode_t mode = created ? 0664 : original.st_mode & 07777;
    int fd = FileSystem::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    // Owner first: a change of owner clears the set-id bits fchmod gives.
    bool written = fd >= 0 && (created || keepOwner(fd, target, original)) &&
                   FileSystem::fchmod(fd, mode) == 0 &&
                   FileSystem::write(fd, bytes.data(), bytes.size()) >= 0 &&
                   FileSystem::fsync(fd) == 0;
    int error = errno;
    if (fd >= 0 && FileSystem::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && FileSystem::rename(temporary, target) == 0) {
        FileSystem::syncDirectory(directoryOf(target));
        return true;
    }
    if (written) error = errno;
    if (fd >= 0) FileSystem::unlink(temporary);
    errno = error;
    return false;
}

// A save gives the path a new file; the file's other hard links keep the old
// contents. Said at level 1, since the administrator who linked it will look.
void traceOtherNames(const Path& path, const struct stat& info) {
    if (info.st_nlink > 1)
        MC_std_trace() << "FileProperties::saveThem(" << path << ") - the file has "
                       << info.st_nlink - 1
                       << " other hard link(s); they keep the contents saved before" << oops;
}

void traceLockFailure(const char* operation, const char* what, const Path& path, int error) {
    MC_std_trace() << "Properties::" << operation << "(" << path << "), setting " << what
                   << " returns: " << error << "/" << std::strerror(error) << oops;
    tsleep(1);
}

}  // namespace

FileProperties::FileProperties(const Symbol& name) : Properties(name) {}

FileProperties::FileProperties(const Path& path) {
    reinit(path);
}

FileProperties::FileProperties(knownInfo& info) : Properties(info) {}

FileProperties::FileProperties(const FileProperties& other)
    : Properties(other), path_(other.path_), status_(other.status_), seen_(other.seen_) {}

FileProperties& FileProperties::operator=(const FileProperties& other) {
    Properties::operator=(other);
    path_ = other.path_;
    status_ = other.status_;
    seen_ = other.seen_;
    return *this;
}

FileProperties::~FileProperties() = default;

bool FileProperties::reinit() {
    bool result = Properties::reinit();
    if (result) status_ = 0;
    return result;
}

bool FileProperties::reinit(const Path& path) {
    reinit();
    bool result = get_from_file(path, true);
    modified_ = false;
    return result;
}

FileProperties::Version FileProperties::versionOf(const struct stat& info) {
    if (info.st_size == 0) return Version{};
    auto nanoseconds = [](const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; };
    return Version{info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtim),
                   nanoseconds(info.st_ctim)};
}

bool FileProperties::get_from_file(const Path& path, bool replace) {
    if (path != path_) modified_ = true;
    // Read into an empty set, the set is what the store holds.
    const bool fresh = holdsNone() && journal_enabled();
    LockedFile file;
    LockedFile::Outcome outcome = file.open(path, LockedFile::Shared, kReadRelease, kReadAcquire);
    if (outcome == LockedFile::MISSING || outcome == LockedFile::OPEN_FAILED) {
        path_ = path;
        seen_ = Version{};
        if (fresh) matchStore(0);
        return true;
    }
    if (outcome == LockedFile::NOT_REGULAR) {
        // A FIFO or a directory at a property file's path is a mistake to
        // report, not an empty set that a save would then replace.
        MC_std_trace() << "FileProperties::get_from_file(" << path << ") - not a regular file"
                       << oops;
        error_ = OS_SYSTEM_ERROR;
        errno = EINVAL;
        return false;
    }
    if (outcome == LockedFile::UNLOCKED)
        traceLockFailure("get_from_file", "rdlock", path, file.lockError());
    struct stat info = file.info();
    if (!readLocked(file.fd(), info.st_size, replace, fresh)) return false;
    file.close();
    path_ = path;
    modified_ = true;
    status_ = static_cast<PropertiesStatus>(info.st_mtime);
    seen_ = versionOf(info);
    return true;
}

namespace {

// Reads fd from its offset to its end into bytes, growing it in large steps
// when the file grew since its size was taken. The buffer is not cleared
// first: every byte used has just been read into it. Returns the number of
// bytes read, or -1 with errno set.
ssize_t readToEnd(int fd, std::unique_ptr<char[]>& bytes, std::size_t capacity) {
    std::size_t done = 0;
    for (;;) {
        if (done == capacity) {
            std::size_t larger = capacity + std::max<std::size_t>(8192, capacity / 2);
            std::unique_ptr<char[]> more(new char[larger]);
            std::memcpy(more.get(), bytes.get(), done);
            bytes = std::move(more);
            capacity = larger;
        }
        ssize_t n = FileSystem::read(fd, bytes.get() + done, capacity - done);
        if (n < 0) return -1;
        if (n == 0) return static_cast<ssize_t>(done);
        done += static_cast<std::size_t>(n);
    }
}

std::size_t capacityFor(off_t size) {
    return static_cast<std::size_t>(size > 0 ? size : 0) + 1;
}

}  // namespace

// One read of the whole file, then the stream is parsed from memory.
bool FileProperties::readLocked(int fd, off_t size, bool replace, bool fresh) {
    std::size_t capacity = capacityFor(size);
    std::unique_ptr<char[]> bytes(new char[capacity]);
    ssize_t done = readToEnd(fd, bytes, capacity);
    if (done < 0) {
        error_ = OS_SYSTEM_ERROR;
        return false;
    }
    std::size_t length = static_cast<std::size_t>(done);
    if (length != 0) {  // an empty file is an empty set
        MemoryInput in(bytes.get(), length);
        if (!obtain(in, replace)) return false;
    }
    if (fresh) matchStore(journal_digest(bytes.get(), length));
    return true;
}

bool FileProperties::obtain(bool replace) {
    return get_from_file(path_, replace);
}

bool FileProperties::underlierChanged() const {
    struct stat info;
    return FileSystem::watchedStat(path_, &info) != 0 ||
           static_cast<PropertiesStatus>(info.st_mtime) != status_;
}

std::int32_t FileProperties::estimateLength() {
    struct stat info;
    if (path_.empty() || FileSystem::stat(path_, &info) != 0) return -1;
    if (info.st_size > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(info.st_size);
}

Properties* FileProperties::factory(const PropertiesID& key) const {
    return new FileProperties(Path(key.text()));
}

Symbol FileProperties::myFactoryName() const {
    return factoryName;
}

Properties::PropertiesID FileProperties::myKey() const {
    return PropertiesID(path_.text());
}

Properties::knownInfo& FileProperties::getKnown() {
    static knownInfo none;
    return none;
}

bool FileProperties::saveThem() {
    return write(false) == SAVED;
}

FileProperties::SaveOutcome FileProperties::saveIfUnchanged() {
    return write(true);
}

FileProperties::SaveOutcome FileProperties::write(bool onlyIfUnchanged) {
    // A rename over a symbolic link would replace the link with a plain
    // file; the administrator who linked the file elsewhere wants the target
    // rewritten.
    Path target;
    LockedFile file;
    LockedFile::Outcome outcome =
        FileSystem::resolve(path_, target) != 0
            ? LockedFile::OPEN_FAILED
            : file.open(target, LockedFile::Exclusive, kWriteRelease, kWriteAcquire);
    if (outcome == LockedFile::UNLOCKED)
        traceLockFailure("write_to_file", "write lock", path_, file.lockError());
    if (outcome != LockedFile::OPEN_FAILED && outcome != LockedFile::NOT_REGULAR) {
        if (onlyIfUnchanged && versionOf(file.info()) != seen_) return STALE;
        FileSystem::unlink(temporaryFor(target));
        if (writeLocked(target, file)) return SAVED;
    }
    int error = errno;
    MC_std_trace() << "FileProperties::saveThem(" << path_ << ") - " << std::strerror(error)
                   << oops;
    error_ = OS_SYSTEM_ERROR;
    errno = error;
    return FAILED;
}

bool FileProperties::writeLocked(const Path& target, const LockedFile& file) {
    const bool empty = holdsNone();
    StreamText text;
    if (!empty) text = streamText();
    std::string_view after = empty ? std::string_view() : text.view();
    // The stored form is read under the same lock, so the journal records
    // exactly what this save replaces, in the order the saves happened.
    std::unique_ptr<char[]> stored;
    ssize_t storedLength = 0;
    if (journal_enabled()) {
        std::size_t capacity = capacityFor(file.info().st_size);
        stored.reset(new char[capacity]);
        storedLength = readToEnd(file.fd(), stored, capacity);
        if (storedLength < 0) storedLength = 0;
    }
    std::string_view before(stored.get(), static_cast<std::size_t>(storedLength));
    const std::uint64_t afterDigest = journal_digest(after.data(), after.size());
    SaveJournal journal(*this, path_.text(),
                        {before, journal_digest(before.data(), before.size()), afterDigest}, true);
    bool saved;
    if (empty) {
        modified_ = false;
        saved = FileSystem::unlink(target) == 0 || errno == ENOENT;
    } else {
        traceOtherNames(target, file.info());
        saved = replaceFile(target, after, file.info(), file.created());
    }
    int error = errno;
    journal.finish(saved);
    if (saved && journal_enabled()) matchStore(afterDigest);
    errno = error;
    return saved;
}

void FileProperties::makeKnowns(knownInfo& info, const Path& defaults) {
    // The known set is always made here, so it is always a FileProperties.
    if (info.knowns == nullptr) info.knowns = new FileProperties(info);
    auto* knowns = static_cast<FileProperties*>(info.knowns);
    if ((!knowns->holdsNone() || info.count == 0) && knowns->loadedFrom(defaults)) return;
    initKnowns(info);
    knowns->get_from_file(defaults, true);
    knowns->modified_ = false;
}

bool FileProperties::loadedFrom(const Path& path) const {
    if (path_ != path) return false;
    struct stat info;
    if (FileSystem::watchedStat(path, &info) == 0)
        return static_cast<PropertiesStatus>(info.st_mtime) == status_;
    // Still no file, as at the last read, and the set untouched since: a
    // rebuild would give the same set, so a kind without a defaults file
    // costs one stat per set rather than a failed open and a rebuild.
    return errno == ENOENT && seen_ == Version{} && !modified_;
}

Properties::knownInfo& FileProperties::kindKnowns(knownInfo*& record, const knownInfo& initial,
                                                  const Path& defaults) {
    if (record == nullptr) record = new knownInfo(initial);
    makeKnowns(*record, defaults);
    return *record;
}

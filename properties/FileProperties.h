#pragma once

#include <sys/types.h>

#include "platform/Path.h"
#include "properties/Properties.h"

class LockedFile;

// A property set whose contents live in one text file, in the set's text
// stream. Many processes share such files: a read holds a shared lock on the
// whole file, a write an exclusive one, each waited for with the run token
// given up (see LockedFile).
//
// A write never changes the file in place: under the exclusive lock the new
// stream goes to a fresh file beside it, which is synced and renamed over the
// path (through a symbolic link, over the link's target), so a writer killed
// at any moment leaves either the old or the new contents. An empty set
// removes the file. A missing or empty file reads as an empty set.
class CFGADM_EXPORT FileProperties : public Properties {
  public:
    using Properties::obtain;
    using Properties::reinit;

    // A prototype registered in the factory registry under `name`; no path.
    explicit FileProperties(const Symbol& name);
    // The set stored at path, read at once (see reinit(Path)).
    explicit FileProperties(const Path& path);
    // An empty known set of the kind `info` describes, with no path.
    explicit FileProperties(knownInfo& info);
    FileProperties(const FileProperties& other);
    FileProperties& operator=(const FileProperties& other);
    ~FileProperties() override;

    // Empties the set; the status becomes 0.
    bool reinit() override;
    // Empties the set, reads it from path and clears the modified flag.
    // Returns the read's result.
    bool reinit(const Path& path);
    // Reads the file at path into the set (replace: the file's instances win
    // over held ones) and binds the set to it. A missing file adds nothing
    // and succeeds. False with the error code set when the contents are bad;
    // the binding is then unchanged.
    virtual bool get_from_file(const Path& path, bool replace);

    bool obtain(bool replace) override;
    // True when the file cannot be stat'ed or its modification time differs
    // from the one seen at the last read.
    bool underlierChanged() const override;
    PropertiesStatus getStatus() const override { return status_; }
    Properties* factory(const PropertiesID& key) const override;
    Symbol myFactoryName() const override;
    // The path, cut to 1023 bytes.
    PropertiesID myKey() const override;
    void putStatus(const PropertiesStatus& status) override { status_ = status; }
    // Writes the set to its file (removes the file when the set is empty).
    // False with OS_SYSTEM_ERROR (and errno) when the new file cannot be
    // made, written, synced or renamed; the old file is then untouched.
    bool saveThem() override;
    bool underlierKnown() const override { return !path_.empty(); }
    knownInfo& getKnown() override;
    // The file's size, or -1 without a path or a file.
    std::int32_t estimateLength() override;

    // Saves only when the file is still the one this set last read (same
    // file, same size and times to the nanosecond, or still absent), judged
    // under the exclusive lock. STALE: another writer came first; nothing
    // was written. For read-change-save cycles that must not lose updates.
    enum SaveOutcome { SAVED, STALE, FAILED };
    SaveOutcome saveIfUnchanged();

    const Path& path() const { return path_; }

    // Loads the known set of a kind from its fixed table and its defaults
    // file, or leaves it as it is when the file has not changed since.
    static void makeKnowns(knownInfo& info, const Path& defaults);
    // A kind's getKnown(): creates the kind's record from `initial` on first
    // use, then loads or refreshes it from the defaults file (makeKnowns).
    static knownInfo& kindKnowns(knownInfo*& record, const knownInfo& initial,
                                 const Path& defaults);

    static const Symbol factoryName;

  protected:
    // An empty set with no path (the kinds' own constructors start here).
    FileProperties() = default;

    // What identifies one version of the file: a rewrite gives a new file,
    // and a missing or empty file is the same as no file.
    struct Version {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long long modified = 0;  // nanoseconds
        long long changed = 0;   // nanoseconds
        friend bool operator==(const Version&, const Version&) = default;
    };
    static Version versionOf(const struct stat& info);
    // Whether a reread of path may be skipped: the set was read from path and
    // the file keeps the modification time of that read, or the file is
    // still missing (or empty) and the set has not been changed since. One
    // stat; false when the stat fails otherwise.
    bool loadedFrom(const Path& path) const;

    Path path_;
    PropertiesStatus status_ = 0;
    Version seen_;

  private:
    SaveOutcome write(bool onlyIfUnchanged);
    // fresh: the set was empty, and matches the store once read.
    bool readLocked(int fd, off_t size, bool replace, bool fresh);
    // Writes the set (or removes the file of an empty set) while `file`
    // holds the exclusive lock of target, journaling the change; false with
    // errno set when the store was not written.
    bool writeLocked(const Path& target, const LockedFile& file);
};

#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "platform/BTreeIndex.h"
#include "platform/Path.h"
#include "properties/Properties.h"

// A property set whose contents live in one record of a B-tree index file
// that many processes share. The record holds a change counter in decimal
// digits, immediately followed by the set's text stream. Only the kind's
// owner box writes records, each write adding 1 to the counter; any other
// process hands its update to the owner (Properties::save) and here only
// drops its cached copy of the record. A process tells that its copy is stale
// by comparing the record's counter with the one it read (underlierChanged).
// The owner's write is fenced on the counter it read just before: when
// another owner process wrote in between, the save fails with
// OS_SYSTEM_ERROR and errno ESTALE, and the record keeps the other write;
// the caller reads again, reapplies its change and saves again.
//
// The index calls run under the run token; none of them gives it up. The
// kinds (COSProperties, SubscriberProperties) supply the key and index path.
class CFGADM_EXPORT BTreeProperties : public Properties {
  public:
    using Properties::obtain;
    using Properties::reinit;

    // Where a set's record is: the open index, its key type, the key bytes
    // (at most 65535) and the counter last read (0 before any read).
    struct keyInfo {
        std::int32_t fd = -1;
        indx_key_t keyType = -1;
        String key;
        PropertiesStatus status = 0;
    };

    // The change counter at the start of a record.
    struct BTreeDataPrefix {
        std::uint32_t counter = 0;
    };

    BTreeProperties();
    // A prototype registered under `name`; not bound to any index.
    explicit BTreeProperties(const Symbol& name);
    BTreeProperties(const BTreeProperties& other);
    BTreeProperties& operator=(const BTreeProperties& other);
    ~BTreeProperties() override;

    bool reinit() override;
    // Opens the index at path when key.fd is below 0 (storing the new
    // descriptor in key), empties the set, reads the key's record and clears
    // the modified flag. A missing index reads as an empty set and is not
    // created (key.fd stays below 0). False when the index cannot be opened
    // (CANT_OPEN) or the record cannot be read.
    bool reinit(const Path& path, keyInfo& key);
    // Opens the index read-write on the kind's owner box, read-only elsewhere.
    // A missing index is created only when `create` is set on the owner box.
    // Returns the descriptor (also kept in the set), or a negative number:
    // with errno ENOENT for a missing index left missing, else with the error
    // code CANT_OPEN and errno telling why.
    int openBTree(const Path& path, bool create = false);
    // Reads the key's record into the set (replace: the record's instances
    // win) and binds the set to the key. A missing record adds nothing and
    // succeeds. False when the index fails (traced) or the stream is bad.
    virtual bool get_from_btree(const keyInfo& key, bool replace);
    bool obtain(bool replace) override;

    // The counter at the start of the key's record and the record's whole
    // length. Returns the index's result (0, 2 no record, other failures);
    // when key.fd is below 0: 2 if the set's index is missing, else 9 with
    // the error code CANT_OPEN.
    int getBTreeDataPrefix(const keyInfo& key, BTreeDataPrefix& prefix,
                           unsigned long& length) const;
    int getBTreeDataPrefix(const keyInfo& key, BTreeDataPrefix& prefix) const;
    // The whole record: data points at bytes the index service owns until
    // its next call. Result codes as above.
    int getBTreeData(const keyInfo& key, unsigned long& length, char*& data) const;

    bool underlierKnown() const override { return key_.fd >= 0 || indexMissing_; }
    // False only when the record's counter can be read and equals the one
    // this set read.
    bool underlierChanged() const override;
    std::int32_t estimateLength() override;
    PropertiesStatus getStatus() const override { return key_.status; }
    void putStatus(const PropertiesStatus& status) override { key_.status = status; }
    // On the owner box: writes the record with the counter one up (deletes it
    // when the set is empty), creating a missing index first. Elsewhere: only
    // invalidates the key. False when the index fails, with OS_SYSTEM_ERROR
    // and errno (ENOSPC for a full index or disk).
    bool saveThem() override;

    const keyInfo& key() const { return key_; }

  protected:
    // Whether this process writes the kind's records itself. refresh: the
    // kind's known record is refreshed from its defaults file first (one
    // look at the file) and serves the set's later puts; otherwise the
    // record the set already uses answers, since the defaults file never
    // moves a kind's owner box.
    bool isOwner(bool refresh);
    // What the numbered kinds share. unbind: empties the set unless keep,
    // then takes the kind's key type and shared descriptor; true when keep,
    // else the emptying's result. bind: reads the record keyed by the
    // number's 4 bytes from the index at path (opening it when the shared
    // descriptor is not open) and stores the set's descriptor back into
    // sharedFd for the kind's next set.
    bool unbind(bool keep, indx_key_t keyType, std::int32_t sharedFd);
    bool bind(const Path& path, std::uint32_t number, std::int32_t& sharedFd);
    // The number held in a key's first 4 bytes, and a key holding it.
    static std::uint32_t numberIn(const PropertiesID& key);
    static PropertiesID keyOf(std::uint32_t number);

    keyInfo key_;

  private:
    // Data files, never programs; the umask applies.
    static constexpr int kIndexMode = 0664;

    // Creates and opens the index for a save on the owner box.
    bool createIndex();
    // What a read without a descriptor answers: no record in a missing
    // index, else a bad descriptor (CANT_OPEN).
    int unopened() const;
    // Reads the key's whole record (valid until this thread's next index
    // call) and its prefix; empty when there is no record.
    int storedRecord(const keyInfo& key, BTreeDataPrefix& prefix, std::string_view& stored) const;
    // The set's stream in a stored record: what follows the counter.
    static std::string_view streamOf(std::string_view record);
    // Makes text's view the record: the counter's digits, then the stream.
    static void putCounter(StreamText& text, std::uint32_t counter);
    // A save off the owner box: drops this process's copy of the record.
    bool dropCopy();
    // The record's counter (0 without a record) and, when journaled, its
    // bytes, read before a save. False when the index fails: OS_SYSTEM_ERROR
    // with the index's code in errno (a bad descriptor sets nothing).
    bool readBeforeSave(const keyInfo& key, bool journaled, BTreeDataPrefix& prefix,
                        std::string_view& stored);
    // Writes data as the key's record (deletes it for an empty set), fenced
    // on the counter read before; traces a failure, keeping the write's
    // errno (ESTALE when overtaken). A delete of a missing record counts as
    // done.
    int storeFenced(const keyInfo& key, std::string_view data) const;

    Path index_;                 // where the set's index is, once bound
    bool indexMissing_ = false;  // the index did not exist when last opened
};

CFGADM_EXPORT std::ostream& operator<<(std::ostream& out,
                                       const BTreeProperties::BTreeDataPrefix& prefix);
// Reads the longest run of decimal digits (none: 0), modulo 2^32.
CFGADM_EXPORT std::istream& operator>>(std::istream& in, BTreeProperties::BTreeDataPrefix& prefix);

#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string_view>

#include "platform/Export.h"
#include "platform/Regex.h"
#include "platform/Symbol.h"
#include "properties/Property.h"
#include "properties/PropertyInstances.h"
#include "util/PoolAllocator.h"

class Path;
class RecordWriter;

// A set of properties keyed by name and index, with access-controlled
// reading, iteration, writing and removal, and its text stream. It is also the
// base of every stored kind of set: subclasses supply where the contents come
// from and go to through the storage operations (obtain, saveThem, ...).
//
// Every access operation names the access class of the one it acts for and
// answers with a result code; a refusal leaves the set unchanged. Writing a new
// property is checked against the kind's known properties (the known set of
// the kind's knownInfo). Names are visited in the order of their text and the
// indexes of a name in ascending order, so every process writes a given set as
// the same bytes. Not locked: one thread at a time (under the run token).
class CFGADM_EXPORT Properties {
  public:
    enum GetResult { GET_OK = 0, GET_NO_SUCH_PROPERTY = 1, GET_NO_PERMISSION = 2 };
    enum NextResult {
        NEXT_OK = 0,
        NEXT_END = 1,
        NEXT_NO_SUCH_PROPERTY = 2,
        NEXT_NO_PERMISSION = 3
    };
    enum PutResult {
        PUT_OK = 0,
        PUT_NO_PERMISSION = 1,
        PUT_NO_ATTRIBUTE_PERMISSION = 2,
        PUT_IS_SERVER_KNOWN = 3
    };
    enum RemoveResult { REMOVE_OK = 0, REMOVE_NO_SUCH_PROPERTY = 1, REMOVE_NO_PERMISSION = 2 };

    // The outcome of the last failed read or save.
    enum PropertiesError {
        NO_ERROR = 0,
        CANT_OPEN = 1,           // the stream to read is not good; save() finds no store
        CANT_PARSE_VERSION = 2,  // no version line could be read
        UNKNOWN_VERSION = 3,     // the version line names a version other than 2
        CANT_PARSE_FILE = 4,     // no count line, or a bad property record
        OS_SYSTEM_ERROR = 5      // a system call failed (errno tells which)
    };

    // The key of a set: 1024 bytes whose content belongs to the kind (a path
    // for file-backed sets, a record number for B-tree sets).
    struct PropertiesID {
        char bytes[1024] = {};
        PropertiesID() = default;
        // The text, NUL-padded; at most 1023 bytes are kept.
        explicit PropertiesID(const String& text);
        // The bytes up to the first NUL.
        String text() const;
    };

    // A stamp of the stored form as last seen (a file time, a record counter).
    using PropertiesStatus = std::uint32_t;

    // One entry of a kind's fixed table of known properties.
    struct knownEntry {
        const Symbol* name;
        PropertyAttributes::ValueType type;
        bool privilegedWrite;
        bool trustedWrite;
    };

    // A kind's known-property record: its known set (null until the store
    // creates it), its fixed table and its owner box (0: every process writes
    // sets of the kind itself).
    struct knownInfo {
        Properties* knowns = nullptr;
        const knownEntry* table = nullptr;
        std::uint32_t count = 0;
        std::uint16_t pbox = 0;
    };

    Properties();
    // An empty known set of the kind `info` describes (info.knowns should
    // point at it, so that it recognises itself).
    explicit Properties(knownInfo& info);
    // A prototype: registers itself in the factory registry under `name`,
    // replacing an earlier registration. Meant for static objects.
    explicit Properties(const Symbol& name);
    Properties(const Properties& other);
    Properties& operator=(const Properties& other);
    // Releases the contents; nothing is saved.
    virtual ~Properties();

    // Empties the set and resets error, modified, version (2) and known.
    virtual bool reinit();

    // The access operations: they read p's name and index and write results
    // back into p (see the result enums).
    virtual int get(Property& p, PropertyAttributes::AccessType access);
    virtual int get_next(Property& p, PropertyAttributes::AccessType access, bool same_name);
    virtual int put(Property& p, PropertyAttributes::AccessType access);
    virtual int remove(Property& p, PropertyAttributes::AccessType access);

    // Storage operations, implemented by the stores.
    // Re-reads the set from its store (replace: stored values win).
    virtual bool obtain(bool replace) = 0;
    // Whether the stored form changed since the set last read it, or cannot
    // be examined.
    virtual bool underlierChanged() const = 0;
    virtual PropertiesStatus getStatus() const = 0;
    // A new set of this kind for key, owned by the caller; null here.
    virtual Properties* factory(const PropertiesID& key) const;
    virtual Symbol myFactoryName() const = 0;
    virtual PropertiesID myKey() const = 0;
    virtual void putStatus(const PropertiesStatus& status) = 0;
    // Writes the set to its own store; false with the error code set on failure.
    virtual bool saveThem() = 0;
    // Whether the set has a store to write to.
    virtual bool underlierKnown() const = 0;
    // The kind's known-property record, its known set already created.
    virtual knownInfo& getKnown() = 0;
    // The length of the stored form when the store knows it, else -1.
    virtual std::int32_t estimateLength();

    // Removes every property, without checks; sets modified.
    void empty();
    void set_version(unsigned long version);
    // Number of properties (instances) over all names (a walk of the names).
    std::size_t count() const;
    // Whether the set holds no property, without counting them.
    bool holdsNone() const;
    // The length of the stored text form: from the store when unmodified and
    // known, else computed without formatting the set; 0 for an empty set.
    long length();

    // Copies the properties of source into this set, without access checks:
    // all (replace) or only those whose name and index are not held; only the
    // forwardable ones when asked.
    void merge(const Properties& source, bool replace, bool forwardable_only);
    // Copies this set's forwardable properties into destination, over any
    // instance with the same name and index.
    void forward(Properties& destination) const;

    // Writes the text stream, in one write and a flush (a value held in a
    // file is copied from its file); true when the output stream has not
    // failed.
    bool save(std::ostream& out) const;
    // Reads a text stream into the set, adding to what it holds (replace:
    // the stream's instance wins over a held one with the same name and
    // index). False with the error code set on failure; what was read before
    // the failure stays. Never reserves memory for a claimed count or length.
    bool obtain(std::istream& in, bool replace);
    // Reads one header line (empty lines before it are skipped) and returns
    // the decimal number of the given subexpression, or -1.
    static long get_long(std::istream& in, const Regex& expression, int subexpression);

    // Stores the set: through its own store, or, when the kind belongs to
    // another processor box, by handing it to that box (blocks until the
    // owner answers; the run token is kept). False with the error code set.
    bool save();

    // The kind's known-property record this set keeps (null until the set
    // first needs it), and its replacement. Only for code that refreshes a
    // kind's record from outside the set (the administration forms).
    knownInfo* cachedKnown() const { return known_; }
    void setCachedKnown(knownInfo* record) { known_ = record; }

    PropertiesError getError() const { return error_; }
    bool isModified() const { return modified_; }
    unsigned long getVersion() const { return version_; }

    static String error_name(PropertiesError error);
    // Asks the platform which processor box this process runs on.
    static void setMyPbox();
    // Rebuilds the known set of info from its fixed table.
    static void initKnowns(knownInfo& info);
    // A new set of the kind registered under name, for key; null when no
    // prototype has that name. The caller owns the result.
    static Properties* factory(const Symbol& name, const PropertiesID& key);
    // Whether a prototype is registered under name. Interns nothing, so a
    // name from an untrusted peer can be checked before it becomes a Symbol.
    static bool registered(const String& name);

    static std::uint16_t myPBox;

  protected:
    friend class SaveJournal;
    using Instances = PropertyInstances;

    // Fetches the known record on first use.
    knownInfo& knownRecord();
    bool isKnownSet();
    // The known set's lowest-index instance of name, or null.
    const StoredProperty* knownProperty(Symbol name);
    bool holds(Symbol name, std::uint32_t index) const;
    // Stores a copy of p under its name and index; sets modified.
    void store(const Property& p);
    // The text stream save(std::ostream&) writes, formatted in memory in one
    // walk of the set: the stream is bytes[start...]; what lies before start
    // is scratch room that the headers did not need.
    struct StreamText {
        String bytes;
        std::size_t start = 0;
        std::string_view view() const { return std::string_view(bytes).substr(start); }
    };
    StreamText streamText() const;

    // Nodes from the value pool: a set of a hundred thousand names saves
    // the heap's header on each.
    std::map<Symbol, Instances, std::less<Symbol>,
             PoolAllocator<std::pair<const Symbol, Instances>>>
        properties_;

    // The copies changed since the set last matched its store, as they were
    // then (empty: not held), kept while the set can follow its changes:
    // from a read of the store into an empty set, or a save, until the set
    // is copied, emptied or read into again, or too many copies changed. A
    // save of a set whose store is still as matched journals its change from
    // these instead of reading the stored form back.
    using Originals = std::map<std::pair<Symbol, std::uint32_t>, std::optional<Property>>;
    Originals originals_;
    bool tracking_ = false;
    std::uint64_t matchedDigest_ = 0;  // of the stored form matched (journal_digest)
    void matchStore(std::uint64_t digest) {
        originals_.clear();
        tracking_ = true;
        matchedDigest_ = digest;
    }
    void stopTracking() {
        originals_.clear();
        tracking_ = false;
    }
    // Keeps the copy name#index as it is now, before a change, when tracked.
    void touch(Symbol name, std::uint32_t index);
    // Mutable: the const questions a store answers (has the record changed?)
    // record why they could not answer.
    mutable PropertiesError error_ = NO_ERROR;
    bool modified_ = false;
    unsigned long version_ = 0;
    knownInfo* known_ = nullptr;

  private:
    // obtain's records, after its headers: at most n of them.
    bool obtainRecords(std::istream& in, long n, bool replace);
    void write(RecordWriter& writer) const;
    // Formats every record; returns how many.
    std::size_t writeRecords(RecordWriter& writer) const;
    // The characters the records take in the text stream, empty lines included.
    std::size_t recordsLength() const;
    int putNew(Property& p, PropertyAttributes::AccessType access);
    int removeAll(Property& p, PropertyAttributes::AccessType access);
    int removeName(Property& p, PropertyAttributes::AccessType access);
    bool saveRemote(std::uint16_t owner);
    // Writes the set's text stream to the hand-off file at temporary. False,
    // with the error code and errno set, when it could not be written whole;
    // the caller removes the file either way.
    bool writeHandOff(const Path& temporary);

    static std::map<Symbol, Properties*>* factoryDB;

    // The length of the last text formatted, so that the next one of a set
    // of about the same size is made in one block without a sizing walk.
    mutable std::size_t textHint_ = 0;
};

CFGADM_EXPORT std::ostream& operator<<(std::ostream& out, const Properties& set);

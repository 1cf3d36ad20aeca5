#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Path.h"
#include "platform/String.h"
#include "platform/Symbol.h"
#include "properties/PropertyAttributes.h"

class Properties;
// CLI11 costs seconds of compile in every unit that includes it: the
// console's units that use this class never parse a command line.
namespace CLI {
class App;
}

// The property set a "vmcfg props" command works on, chosen on its command
// line: a plain property file by its platform path (positional FILE), or
// exactly one of --system (the system set), --message PATH (a message's
// property file), --cos N (class of service N) or --subscriber N (subscriber
// N). It reads the chosen set as the set's own kind, so edits go through the
// kind's known properties and its save path, and it tells the edit which way
// the set is stored: in a file (FILE, --system, --message) or in a B-tree
// record written by the kind's owner box (--cos, --subscriber).
class PropsTarget {
  public:
    enum Kind { NONE, FILE, SYSTEM, MESSAGE, COS, SUBSCRIBER };

    // Registers the target options on command, bound to this object (which
    // must outlive the parse). Several commands may share it: only the
    // parsed one sets anything.
    void addOptions(CLI::App* command);
    // After the parse. The command's positional words start with FILE when
    // they are one more than the command's own (`own`); it is taken from
    // them. True when exactly one target was given; otherwise says so on err.
    bool choose(std::vector<String>& words, std::size_t own, std::ostream& err);
    // The same choice without a command line (for the console): a kind and
    // its argument (a platform path for FILE and MESSAGE, a number for COS
    // and SUBSCRIBER, nothing for SYSTEM). False with the reason in error
    // for a path of no or too many bytes, a number out of range, or NONE.
    bool choose(Kind kind, const String& argument, String& error);
    Kind kind() const;

    // Whether the set lives in a file (and is a FileProperties).
    bool fileBacked() const;
    // The platform path of a file-backed set.
    Path filePath() const;
    // The set as messages name it ("class of service 7", a file's path).
    String describe() const;
    // The lock file under "/vm/run" that serialises vmcfg's edits of a
    // B-tree set: one per kind and key.
    Path lockPath() const;

    // How the change journal files the set: the kind's factory name (empty
    // for FILE, whose path may hold a set of any kind) and the key (a
    // platform path, or the record number in decimal).
    String journalKind() const;
    String journalKey() const;
    // The kind a reader of the set's history asks for: empty for every set
    // in a file, whose path alone names it (the system set saved by its path
    // is filed under the plain file kind).
    String journalQueryKind() const;
    // The choice that names the set a journal record was filed under; false
    // with the reason in error for a kind that no property edit reaches (a
    // feature switch).
    bool chooseJournaled(const String& kind, const String& key, String& error);
    // Settles the set's journal records left pending by writers that ended
    // between their write and its record: those matching what is stored now
    // join the history, the others go. Only records of writers known to be
    // gone are touched, so a live writer's save is never decided here.
    // Returns 0 or an errno value; a journal that is off is not a failure.
    int settleJournal() const;

    // Reads the set. A file set whose file is missing is empty when
    // mayBeMissing or for --system; otherwise, and for a file that cannot be
    // read, null with exit status 2. Bad contents or an index that cannot be
    // read: null with exit status 1. The reason goes to err.
    std::unique_ptr<Properties> open(bool mayBeMissing, std::ostream& err, int& status) const;

    // The attributes the set's kind gives a known name (the name's first
    // instance in the kind's known set), if the kind knows the name.
    static std::optional<PropertyAttributes> knownAttributes(Properties& set, const Symbol& name);

  private:
    std::unique_ptr<Properties> openFile(bool mayBeMissing, std::ostream& err, int& status) const;
    std::unique_ptr<Properties> openRecord(std::ostream& err, int& status) const;

    std::optional<String> file_;
    bool system_ = false;
    std::optional<String> message_;
    std::optional<unsigned long> cos_;
    std::optional<long> subscriber_;
};

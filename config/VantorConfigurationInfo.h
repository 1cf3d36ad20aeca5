#pragma once

#include <map>
#include <vector>

#include "config/VantorConfigurationInfoDB.h"
#include "platform/Export.h"
#include "platform/Path.h"
#include "platform/String.h"
#include "platform/Symbol.h"

// Reader of a configuration-parameter file: named parameters whose value
// depends on precedence types declared in the file (see ConfigurationParser
// for the syntax). A key is looked up through the types in the order of their
// declaration; the first type that has the key supplies its value.
//
// Sharing: a reader built with debug level 0 ("quiet") attaches to the one
// shared instance of its file, which parsed the file the first time any quiet
// reader asked for it; later quiet readers on the same path cost one map
// lookup and read nothing (changes to the file, the environment or command
// output after that first parse are not seen). A failed shared parse is not
// reused: the next quiet reader on the path parses again. A reader with a
// non-zero debug level parses the file itself, with diagnostics on standard
// error, and never touches the shared instances.
//
// Nothing throws; failures are messages on standard error and an
// initialized() of false. Lookups still answer from whatever a failed parse
// stored. Not thread-safe: the shared map and instances are process-wide and
// unguarded, so call only while holding the run token. Nothing here gives the
// token up: a command in the file runs while the token is held.
class CFGADM_EXPORT VantorConfigurationInfo {
  public:
    // Selects the constructor of shared instances.
    struct Dummy {};
    using Slots = std::vector<VantorConfigurationInfoDB*>;

    // Attaches to file, or to defaultConfigurationFile() when file is empty;
    // with neither, writes "doInitialize(): file required" and stays empty.
    VantorConfigurationInfo(const Path& file, unsigned long debugLevel);
    // The same with no file: during construction the default file is this
    // class's (empty), so this reader ends uninitialised.
    explicit VantorConfigurationInfo(unsigned long debugLevel);
    // A shared instance: parses file quietly and, when the parse succeeds,
    // enters itself in singletonMap. Shared instances are never deleted.
    VantorConfigurationInfo(const Path& file, Dummy);
    // Deletes the slots' records of a reader that parsed for itself; a
    // delegating reader leaves its shared instance alone.
    virtual ~VantorConfigurationInfo();
    VantorConfigurationInfo(const VantorConfigurationInfo&) = delete;
    VantorConfigurationInfo& operator=(const VantorConfigurationInfo&) = delete;

    // The file to use when none is given: the empty path here.
    virtual Path defaultConfigurationFile() const;

    // Looks key up through the slots in order. On true, value is the
    // parameter's value, type the name of the precedence type that supplied it
    // and typeValue that type's resolved value. On false the outputs are left
    // as they were.
    bool configGet(const Symbol& key, String& value, Symbol& type, Symbol& typeValue) const;
    // The resolved value of a declared precedence type; empty when undeclared.
    String paramValue(const Symbol& type) const;

    // Parses file into this reader (adds to its types and slots). True when the
    // file could be opened, no line was in error and at least one pair was
    // stored.
    bool parse_file(const Path& file);

    // Whether the parse backing this reader (its own or the shared one)
    // succeeded.
    bool isInitialized() const { return initialized; }
    unsigned long getDebugLevel() const { return debugLevel; }
    // The precedence types in slot order, as the backing parse built them (the
    // shared instance's when this reader delegates). Owned by the reader that
    // parsed; valid while that reader lives (shared instances live until the
    // process ends). For inspection tools.
    const Slots& precedenceSlots() const;

  protected:
    // Chooses the file and attaches this reader to a parse: the shared one at
    // debug level 0, its own otherwise.
    void doInitialize(const Path& file);

  private:
    friend class ConfigurationParser;

    std::map<Symbol, VantorConfigurationInfoDB*> types;
    Slots slots;
    unsigned slotCount = 0;
    VantorConfigurationInfo* shared = nullptr;
    unsigned long debugLevel = 0;
    bool initialized = false;

    // The shared instance of every successfully parsed file; an entry may be
    // null while no parse of the path has succeeded. Never destroyed.
    static std::map<Path, VantorConfigurationInfo*>& singletonMap;
};

// Looks key up in info and reads the value as a T. Only short is provided.
template <class T>
bool configGet(const VantorConfigurationInfo& info, const Symbol& key, T& out, String& source);

// Reads a decimal short from the value of key (leading blanks skipped, text
// after the number ignored). out is assigned only when a number in the range
// of short was read. source becomes "type=typeValue" of the supplying
// precedence type, or "=" when the key was not found. Returns whether the key
// was found, whether or not its value read as a number.
template <>
CFGADM_EXPORT bool configGet<short>(const VantorConfigurationInfo& info, const Symbol& key,
                                    short& out, String& source);

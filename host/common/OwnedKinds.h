#pragma once

#include <cstdint>
#include <vector>

#include "platform/String.h"
#include "properties/Properties.h"

// The kinds of property set whose records a processor box stores for every
// other box (the kinds with that owner box), and the keys it accepts for
// them: the record numbers the tools accept (RecordNumbers), in the key's
// first 4 bytes, with nothing after them. File kinds have no owner box:
// every process writes them itself, so an owner daemon never does.
//
// Built once at start-up (it asks the factory registry which kinds exist,
// a module call: under the run token, or before any thread runs module
// code); a plain value afterwards, safe to read from any thread.
class OwnedKinds {
  public:
    explicit OwnedKinds(std::uint16_t box);

    bool empty() const { return owned_.empty(); }
    // The names of the owned kinds, separated by ", ".
    String names() const;
    // The names of every registered kind that some box owns: the kinds whose
    // sets are handed off to an owner, and so name hand-off files.
    const std::vector<String>& handedOff() const { return handedOff_; }

    // 0 when this box stores a set of kind `name` for `key`; otherwise the
    // errno of the refusal: EPERM a kind this box does not own (another
    // box's, or a file kind; an unregistered name is the caller's to
    // refuse first), ERANGE a record number outside the accepted range,
    // EINVAL key bytes after the record number.
    int refusal(const String& name, const Properties::PropertiesID& key) const;

  private:
    struct Kind {
        String name;
        std::uint32_t maxNumber;
    };
    std::vector<Kind> owned_;
    std::vector<String> handedOff_;
};

#pragma once

#include "platform/Path.h"
#include "properties/Properties.h"

// A property set kept whole in one platform file, for vmcfg's inspection
// commands: read with load(), written back with save() through a temporary
// file and a rename, so a failed write never leaves a half file. No known
// properties and no owner box; no lock (vmcfg is not a platform process).
class PropertyFile : public Properties {
  public:
    using Properties::obtain;

    explicit PropertyFile(Path path);

    // Reads the file into an empty set. A missing file reads as an empty set
    // when allowMissing; otherwise false with the error code set (CANT_OPEN
    // with errno for a file that cannot be opened).
    bool load(bool allowMissing);

    bool obtain(bool replace) override;
    bool underlierChanged() const override { return false; }
    PropertiesStatus getStatus() const override { return 0; }
    Symbol myFactoryName() const override { return Symbol("PropertyFile"); }
    PropertiesID myKey() const override { return PropertiesID(path_.text()); }
    void putStatus(const PropertiesStatus&) override {}
    bool saveThem() override;
    bool underlierKnown() const override { return !path_.empty(); }
    knownInfo& getKnown() override { return kind_; }

  private:
    Path path_;
    knownInfo kind_;
};

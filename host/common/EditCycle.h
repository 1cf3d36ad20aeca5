#pragma once

#include <functional>
#include <iosfwd>

class Properties;
class PropsTarget;
class RemoteSaveWatch;

// One "vmcfg props" edit of a set: read it, apply a change, save it, so that
// edits of one set by several vmcfg processes at once lose no update.
// - A set in a file is saved only if the file is still the one read
//   (FileProperties::saveIfUnchanged); when another writer came first, the set
//   is read again and the change applied again, up to maxTries times.
// - A set in a B-tree record is saved through Properties::save(), which hands
//   it to the kind's owner box unless this process is that box; the owner
//   replaces the whole record. The cycle holds the set's EditLock from before
//   the read until the save returns, which orders vmcfg edits of that set
//   among themselves (not against other platform processes). The owner's
//   write is fenced on the counter it read: a save that another owner
//   process overtook fails with ESTALE, and the set is read again and the
//   change applied again, up to maxTries times.
class EditCycle {
  public:
    // Applies the change to a freshly read set: 0 to have it saved, any other
    // value is the exit status of a refusal (nothing is saved). It may run
    // more than once.
    using Change = std::function<int(Properties&)>;
    static constexpr int maxTries = 100;

    // mayBeMissing (put): a missing file reads as an empty set, and the save
    // makes it (and its directory), instead of failing with exit status 2
    // (see PropsTarget::open).
    EditCycle(const PropsTarget& target, bool mayBeMissing);

    // A dry run reads the set and applies the change once, then saves
    // nothing: no directory, lock file or record is made or written.
    void setDryRun(bool dryRun);

    // Runs the cycle; returns the exit status (0 saved, 1 refused or not
    // saved, 2 unreadable file). Reasons go to err.
    int run(const Change& change, std::ostream& err) const;

  private:
    int runOnFile(const Change& change, std::ostream& err) const;
    int runOnRecord(const Change& change, std::ostream& err) const;
    // Says why a save failed; error is errno as the save left it, watch
    // what the trace said during a save that may have gone to the owner.
    void reportFailure(Properties& set, int error, const RemoteSaveWatch* watch,
                       std::ostream& err) const;

    const PropsTarget& target_;
    bool mayBeMissing_;
    bool dryRun_ = false;
};

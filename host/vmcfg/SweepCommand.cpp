#include "host/vmcfg/SweepCommand.h"

#include <ostream>

#include "host/common/HandoffSweep.h"
#include "host/common/JsonText.h"
#include "host/common/OwnedKinds.h"

namespace {

const char* kindOf(const HandoffSweep::Removal& r) {
    return r.value ? "value" : "hand-off";
}

const char* reasonOf(const HandoffSweep::Removal& r) {
    return r.gone ? "process gone" : "over an hour old";
}

}  // namespace

SweepCommand::SweepCommand(CLI::App& app) {
    command_ = app.add_subcommand("sweep", "Remove the files dead processes left in /vm/tmp");
    command_->add_flag("--dry-run", dryRun_, "List what would be removed; remove nothing");
    command_->footer("Removes the hand-off files of senders that are gone (after " +
                     std::to_string(HandoffSweep::deadSenderAge.count()) +
                     " s) or that are over an hour old, and the value files of processes that "
                     "are gone, as vmpropd does every " +
                     std::to_string(HandoffSweep::interval.count()) +
                     " s: for hosts where no box runs vmpropd.");
}

bool SweepCommand::selected() const {
    return command_->parsed();
}

int SweepCommand::run(const GlobalOptions& options, std::ostream& out, std::ostream&) {
    // Box 0 owns nothing: only the list of kinds handed to an owner is used.
    const HandoffSweep sweep(OwnedKinds(0).handedOff());
    const std::vector<HandoffSweep::Removal> removed = sweep.run(dryRun_);
    if (options.json) {
        nlohmann::json files = nlohmann::json::array();
        for (const HandoffSweep::Removal& r : removed)
            files.push_back({{"file", r.name},
                             {"kind", kindOf(r)},
                             {"bytes", r.bytes},
                             {"pid", r.pid},
                             {"reason", reasonOf(r)}});
        out << jsonText({{"removed", files}, {"dry_run", dryRun_}});
        return 0;
    }
    for (const HandoffSweep::Removal& r : removed)
        out << (dryRun_ ? "would remove " : "removed ") << kindOf(r) << " file /vm/tmp/" << r.name
            << " (" << r.bytes << " bytes, pid " << r.pid << ", " << reasonOf(r) << ")\n";
    if (removed.empty()) out << "nothing to remove in /vm/tmp\n";
    return 0;
}

#include "host/vmcfg/InitCommand.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <vector>

#include "host/common/JsonText.h"
#include "host/vmcfg/DemoContent.h"
#include "platform/FileSystem.h"

namespace {

const char* const kDirectories[] = {"/VM/config", "/VM/orvex/sd/sdata", "/vm/tmp", "/vm/log",
                                    "/vm/run"};

}  // namespace

InitCommand::InitCommand(CLI::App& app) {
    command_ = app.add_subcommand("init", "Make the platform directories (and sample contents)");
    command_->add_flag("--demo", demo_,
                       "Also write sample defaults files and property sets of each kind");
    command_->add_flag("--dry-run", dryRun_, "List what would be made; make nothing");
}

bool InitCommand::selected() const {
    return command_->parsed();
}

int InitCommand::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<String> created;
    bool ok = true;
    for (const char* directory : kDirectories) {
        if (FileSystem::exists(Path(directory))) continue;
        if (dryRun_) {
            created.push_back(String("directory ") + directory);
            continue;
        }
        if (!FileSystem::makeDirectories(Path(directory))) {
            err << "vmcfg: can't make " << directory << ": " << std::strerror(errno) << std::endl;
            ok = false;
            break;
        }
        created.push_back(String("directory ") + directory);
    }
    if (ok && demo_ && dryRun_)
        created.push_back("the sample contents (--demo)");
    else if (ok && demo_)
        ok = DemoContent::write(created, err);
    if (options.json) {
        out << jsonText({{"created", created}, {"ok", ok}, {"dry_run", dryRun_}});
    } else {
        for (const String& what : created)
            out << (dryRun_ ? "would create " : "created ") << what << "\n";
        if (created.empty() && ok) out << "nothing to create: everything is in place\n";
    }
    return ok ? 0 : 1;
}

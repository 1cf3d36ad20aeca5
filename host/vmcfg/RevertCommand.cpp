#include "host/vmcfg/RevertCommand.h"

#include <strings.h>
#include <unistd.h>

#include <istream>
#include <ostream>

#include "host/common/AccessRights.h"
#include "host/common/JournalRevert.h"
#include "host/common/JsonText.h"
#include "host/common/TerminalText.h"

RevertCommand::RevertCommand(CLI::App& app) {
    command_ = app.add_subcommand("revert", "Undo one change-journal record");
    command_->add_option("seq", seq_, "The record's number (vmcfg history)")->required();
    command_->add_flag("--yes,-y", yes_, "Do not ask: the revert is confirmed");
    command_->add_flag("--force", force_, "Revert copies that changed since the record too");
    command_->add_flag("--dry-run", dryRun_, "Show what would change; write nothing");
    command_->add_option("--access", access_, "Access class acted for")->capture_default_str();
    command_->footer(
        "Exit status: 0 reverted; 1 refused, not confirmed or not saved; 2 bad usage "
        "or nothing to revert; 3 reverted but not recorded in the journal.");
}

bool RevertCommand::selected() const {
    return command_->parsed();
}

int RevertCommand::confirmation(std::istream& in, std::ostream& out, std::ostream& err) const {
    if (yes_) return 0;
    if (!isatty(STDIN_FILENO)) {
        err << "vmcfg: revert asks for confirmation and standard input is not a terminal: "
               "give --yes"
            << std::endl;
        return 2;
    }
    out << "Revert record " << seq_ << "? [y/N] " << std::flush;
    String answer;
    if (std::getline(in, answer) &&
        (strcasecmp(answer.c_str(), "y") == 0 || strcasecmp(answer.c_str(), "yes") == 0))
        return 0;
    err << "vmcfg: not confirmed; nothing reverted" << std::endl;
    return 1;
}

int RevertCommand::run(const GlobalOptions& options, std::istream& in, std::ostream& out,
                       std::ostream& err) {
    JournalRevert::Options wanted;
    if (!parseAccessClass(access_, wanted.access)) {
        err << "vmcfg: --access: unknown access class '" << terminalText(access_) << "'"
            << std::endl;
        return 2;
    }
    if (seq_.empty() || seq_.size() > 19 || seq_.find_first_not_of("0123456789") != String::npos) {
        err << "vmcfg: revert: '" << terminalText(seq_) << "' is not a record number" << std::endl;
        return 2;
    }
    wanted.force = force_;
    wanted.dryRun = true;
    auto say = [&](const JournalRevert::Result& result) {
        if (result.status != 0)
            err << "vmcfg: " << result.words << std::flush;
        else if (options.json)
            out << jsonText({{"record", std::stoull(seq_)},
                             {"dry_run", wanted.dryRun},
                             {"changes", result.rows}});
        else
            out << result.words << std::flush;
        return result.status;
    };
    JournalRevert::Result preview = JournalRevert::run(std::stoull(seq_), wanted);
    // The preview is the whole answer of a dry run, or of a revert refused.
    if (preview.status != 0 || dryRun_) return say(preview);
    // Shown before the question; with --yes the outcome alone says it.
    if (!options.json && !yes_) out << preview.words << std::flush;
    if (int refused = confirmation(in, options.json ? err : out, err)) return refused;
    wanted.dryRun = false;
    return say(JournalRevert::run(std::stoull(seq_), wanted));
}

// vmcfg: the administration program of the configuration module. Global
// options set up the stand-in platform; each command group lives in its own
// unit. The groups that send requests to the forms (FormCommands for "form"
// and "shell", KnownCommands for "known", FeatureCommands for "features")
// load the module as the server does; those that call its functions
// directly (InitCommand, ParamCommands, PropsCommands, AddressCommands,
// MessageCommands) are in the commands library that ModuleCommands loads
// after the module. IndexCommands ("index") asks the platform's index
// service only. vmcfg itself links nothing of the module.

#include <CLI/CLI.hpp>
#include <iostream>
#include <sstream>
#include <string_view>

#include "config_adm_version.h"
#include "host/common/PlatformCommands.h"
#include "host/common/PlatformRoot.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/JournalContext.h"
#include "host/platform/RunTokenHolder.h"
#include "host/vmcfg/CommandsLibrary.h"
#include "host/vmcfg/FailureReport.h"
#include "host/vmcfg/FeatureCommands.h"
#include "host/vmcfg/FormCommands.h"
#include "host/vmcfg/GlobalOptions.h"
#include "host/vmcfg/IndexCommands.h"
#include "host/vmcfg/KnownCommands.h"
#include "host/vmcfg/ModuleCommands.h"

namespace {

// Whether the line asks for a group's help, which the commands library
// prints: help needs no platform root.
bool asksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (word == "--") return false;
        if (word == "--help" || word == "-h") return true;
    }
    return false;
}

void applyGlobals(const GlobalOptions& options) {
    findPlatformCommandsBesideThisProgram();
    PlatformRoot::settle(options.root);
    if (options.box) HostPlatform::setBox(static_cast<std::uint16_t>(*options.box));
    if (options.traceLevel) HostTrace::setLevel(*options.traceLevel);
}

String versionText() {
    String text = std::string("vmcfg (config_adm) ") + CFGADM_VERSION + "\nmodule libconfig_adm ";
    ModuleCommands commands;
    return text + (commands.load(std::cerr) ? commands.moduleVersion() : String("not loaded"));
}

// The library's groups are declared so that the line parses and --help
// lists them; their own options (and their --help) the library parses.
void declareLibraryGroups(CLI::App& app) {
    for (const auto& group : kLibraryGroups) {
        CLI::App* command = app.add_subcommand(group.name, group.description);
        command->allow_extras()->set_help_flag();
    }
}

// For a line of one of the library's groups, the exit status after the
// library's own parse found it wrong; -1 when it is good, or is vmcfg's, or
// the library cannot be loaded (what is wrong with it is said when the line
// runs).
int libraryLineRefused(const CLI::App& app, int argc, char** argv) {
    for (const auto& group : kLibraryGroups)
        if (app.got_subcommand(group.name)) {
            ModuleCommands commands;
            std::ostringstream ignored;
            return commands.load(ignored) ? commands.check(argc, argv) : -1;
        }
    return -1;
}

// The exit status for a line that parsed but cannot run here (0: it can),
// with the reason on err.
int lineRefused(const CLI::App& app, const GlobalOptions& options, int argc, char** argv,
                std::ostream& err) {
    // A mistyped root must not read as an empty platform, nor have a put
    // make a new tree there: only init works on a directory not made by it.
    if (!app.got_subcommand("init") && !asksForHelp(argc, argv) && !PlatformRoot::initialised()) {
        err << "vmcfg: " << HostPlatform::root() << ": not a platform root; run vmcfg init"
            << std::endl;
        return 2;
    }
    if (options.valueOnly() && !app.got_subcommand("param") && !app.got_subcommand("props")) {
        err << "vmcfg: -o value prints one value: props show --name NAME, param get KEY"
            << std::endl;
        return 2;
    }
    return 0;
}

// A change that was saved but left out of the change journal is not a
// success: the history would silently lack it. Exit status 3 says so.
int unrecorded(int status) {
    if (JournalContext::failures() == 0 || status != 0) return status;
    std::cerr << "vmcfg: warning: the change was saved but not recorded in the journal: "
              << JournalContext::lastFailure() << std::endl;
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vmcfg: administration of the configuration module"};
    GlobalOptions options;
    app.set_version_flag("--version", versionText);
    app.footer(
        "Exit status 3 (of a command that otherwise succeeded): the change was saved but "
        "not recorded in the change journal; a warning says why.");
    options.addTo(app);
    app.require_subcommand(1);
    declareLibraryGroups(app);
    FormCommands forms(app);
    KnownCommands known(app);
    FeatureCommands features(app);
    IndexCommands index(app);
    GlobalOptions::acceptAnywhere(app);
    if (std::optional<int> ended = GlobalOptions::parse(app, argc, argv)) return *ended;
    options.settle();
    // A library group's options are the library's to parse; its JSON is
    // asked for all the same when loading the library fails.
    FailureReport report(options.json || GlobalOptions::jsonAsked(argc, argv), std::cout,
                         std::cerr);
    applyGlobals(options);
    // A mistyped command is told first: "run vmcfg init" would not help.
    if (!PlatformRoot::initialised() && !asksForHelp(argc, argv))
        if (int status = libraryLineRefused(app, argc, argv); status >= 0) return status;
    if (int status = lineRefused(app, options, argc, argv, report.err()))
        return report.finish(status);
    RunTokenHolder token;
    std::ostream &out = report.out(), &err = report.err();
    if (forms.selected()) return unrecorded(report.finish(forms.run(options, std::cin, out, err)));
    if (known.selected()) return unrecorded(report.finish(known.run(options, out, err)));
    if (features.selected())
        return unrecorded(report.finish(features.run(options, std::cin, out, err)));
    if (index.selected()) return report.finish(index.run(options, out, err));
    ModuleCommands commands;
    if (!commands.load(err)) return report.finish(4);
    // The library reports its own failures.
    return unrecorded(commands.run(argc, argv));
}

#include "host/vmcfg/CommandsLibrary.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "config_adm_version.h"
#include "host/vmcfg/AddressCommands.h"
#include "host/vmcfg/FailureReport.h"
#include "host/vmcfg/GlobalOptions.h"
#include "host/vmcfg/HistoryCommands.h"
#include "host/vmcfg/InitCommand.h"
#include "host/vmcfg/MessageCommands.h"
#include "host/vmcfg/ParamCommands.h"
#include "host/vmcfg/PropsCommands.h"
#include "host/vmcfg/PropsExchange.h"
#include "host/vmcfg/PropsWatch.h"
#include "host/vmcfg/RevertCommand.h"
#include "host/vmcfg/SweepCommand.h"

namespace {

// vmcfg has applied the global options already (root, box, trace level):
// they are parsed again here for the output format and so that the same
// command line is accepted. Without run, stops after the parse (-1: good).
int parseAndRun(int argc, char** argv, bool run) {
    CLI::App app{"vmcfg: administration of the configuration module"};
    GlobalOptions options;
    options.addTo(app);
    app.require_subcommand(1);
    InitCommand init(app);
    ParamCommands param(app);
    PropsCommands props(app);
    PropsExchange exchange(props.group());
    PropsWatch watch(props.group());
    HistoryCommands history(app);
    RevertCommand revert(app);
    AddressCommands address(app);
    MessageCommands message(app);
    SweepCommand sweep(app);
    GlobalOptions::acceptAnywhere(app);
    if (std::optional<int> ended = GlobalOptions::parse(app, argc, argv)) return *ended;
    if (!run) return -1;
    options.settle();
    FailureReport report(options.json, std::cout, std::cerr);
    std::ostream &out = report.out(), &err = report.err();
    int status = 2;
    if (options.valueOnly() && !param.selected() && !props.selected() && !exchange.selected())
        err << "vmcfg: -o value prints one value: props show --name NAME, param get KEY"
            << std::endl;
    else if (init.selected())
        status = init.run(options, out, err);
    else if (param.selected())
        status = param.run(options, out, err);
    else if (exchange.selected())
        status = exchange.run(options, std::cin, out, err);
    else if (watch.selected())
        status = watch.run(options, out, err);
    else if (history.selected())
        status = history.run(options, out, err);
    else if (revert.selected())
        status = revert.run(options, std::cin, out, err);
    else if (props.selected())
        status = props.run(options, out, err);
    else if (address.selected())
        status = address.run(options, out, err);
    else if (message.selected())
        status = message.run(options, out, err);
    else if (sweep.selected())
        status = sweep.run(options, out, err);
    else
        err << "vmcfg: no command given" << std::endl;
    return report.finish(status);
}

}  // namespace

int vmcfg_module_commands(int argc, char** argv) {
    return parseAndRun(argc, argv, true);
}

int vmcfg_module_check(int argc, char** argv) {
    return parseAndRun(argc, argv, false);
}

const char* vmcfg_module_version() {
    return config_adm_version();
}

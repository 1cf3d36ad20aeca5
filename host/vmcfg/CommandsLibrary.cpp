#include "host/vmcfg/CommandsLibrary.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "config_adm_version.h"
#include "host/vmcfg/AddressCommands.h"
#include "host/vmcfg/GlobalOptions.h"
#include "host/vmcfg/InitCommand.h"
#include "host/vmcfg/MessageCommands.h"
#include "host/vmcfg/ParamCommands.h"
#include "host/vmcfg/PropsCommands.h"

// vmcfg has applied the global options already (root, box, trace level):
// they are parsed again here for the output format and so that the same
// command line is accepted.
int vmcfg_module_commands(int argc, char** argv) {
    CLI::App app{"vmcfg: administration of the configuration module"};
    GlobalOptions options;
    options.addTo(app);
    app.require_subcommand(1);
    InitCommand init(app);
    ParamCommands param(app);
    PropsCommands props(app);
    AddressCommands address(app);
    MessageCommands message(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    if (init.selected()) return init.run(options, std::cout, std::cerr);
    if (param.selected()) return param.run(options, std::cout, std::cerr);
    if (props.selected()) return props.run(options, std::cout, std::cerr);
    if (address.selected()) return address.run(options, std::cout, std::cerr);
    if (message.selected()) return message.run(options, std::cout, std::cerr);
    std::cerr << "vmcfg: no command given" << std::endl;
    return 2;
}

const char* vmcfg_module_version() {
    return config_adm_version();
}

// vmcfg: the administration program of the configuration module. Global
// options set up the stand-in platform; each command group lives in its own
// unit (InitCommand for "init", ParamCommands for "param", PropsCommands
// for "props", AddressCommands for "address", MessageCommands for "message",
// FormCommands for "form" and "shell", KnownCommands for "known",
// FeatureCommands for "features", IndexCommands for "index").

#include <CLI/CLI.hpp>
#include <iostream>

#include "config_adm_version.h"
#include "host/common/PlatformCommands.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/RunTokenHolder.h"
#include "host/vmcfg/AddressCommands.h"
#include "host/vmcfg/FeatureCommands.h"
#include "host/vmcfg/FormCommands.h"
#include "host/vmcfg/GlobalOptions.h"
#include "host/vmcfg/IndexCommands.h"
#include "host/vmcfg/InitCommand.h"
#include "host/vmcfg/KnownCommands.h"
#include "host/vmcfg/MessageCommands.h"
#include "host/vmcfg/ParamCommands.h"
#include "host/vmcfg/PropsCommands.h"

namespace {

void applyGlobals(const GlobalOptions& options) {
    findPlatformCommandsBesideThisProgram();
    if (options.root) HostPlatform::setRoot(*options.root);
    if (options.box) HostPlatform::setBox(static_cast<std::uint16_t>(*options.box));
    if (options.traceLevel) HostTrace::setLevel(*options.traceLevel);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vmcfg: administration of the configuration module"};
    GlobalOptions options;
    app.set_version_flag("--version", [] {
        return std::string("vmcfg (config_adm) ") + CFGADM_VERSION + "\nmodule libconfig_adm " +
               config_adm_version();
    });
    app.add_option("--root", options.root, "Platform root directory (default: / or $VM_ROOT)");
    app.add_flag("--json", options.json, "Machine-readable output (JSON)");
    app.add_option("--box", options.box, "Processor box number of this process")
        ->check(CLI::Range(0, 65535));
    app.add_option("--trace-level", options.traceLevel, "Platform trace level")
        ->check(CLI::Range(0, 9));
    app.require_subcommand(1);
    InitCommand init(app);
    ParamCommands param(app);
    PropsCommands props(app);
    AddressCommands address(app);
    MessageCommands message(app);
    FormCommands forms(app);
    KnownCommands known(app);
    FeatureCommands features(app);
    IndexCommands index(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    applyGlobals(options);
    RunTokenHolder token;
    if (init.selected()) return init.run(options, std::cout, std::cerr);
    if (param.selected()) return param.run(options, std::cout, std::cerr);
    if (props.selected()) return props.run(options, std::cout, std::cerr);
    if (address.selected()) return address.run(options, std::cout, std::cerr);
    if (message.selected()) return message.run(options, std::cout, std::cerr);
    if (forms.selected()) return forms.run(options, std::cin, std::cout, std::cerr);
    if (known.selected()) return known.run(options, std::cout, std::cerr);
    if (features.selected()) return features.run(options, std::cin, std::cout, std::cerr);
    if (index.selected()) return index.run(options, std::cout, std::cerr);
    std::cerr << "vmcfg: no command given" << std::endl;
    return 2;
}

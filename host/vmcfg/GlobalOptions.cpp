#include "host/vmcfg/GlobalOptions.h"

#include <iostream>
#include <string_view>

#include "host/common/UsageError.h"
#include "host/vmcfg/FailureReport.h"

void GlobalOptions::addTo(CLI::App& app) {
    app.add_option("--root", root,
                   "Platform root directory (default: $VM_ROOT, else VM_ROOT= in the platform's "
                   "defaults file, else /)");
    app.add_flag("--json", json, "Machine-readable output (JSON); the same as -o json");
    app.add_option("-o,--output", output,
                   "Output: text, json, or value (the bytes only; props show --name, param get)")
        ->transform(CLI::IsMember({"text", "json", "value"}, CLI::ignore_case));
    app.add_option("--box", box, "Processor box number of this process")
        ->check(CLI::Range(0, 65535));
    app.add_option("--trace-level", traceLevel, "Platform trace level")->check(CLI::Range(0, 9));
}

void GlobalOptions::settle() {
    if (json) output = "json";
    json = output == "json";
}

void GlobalOptions::acceptAnywhere(CLI::App& app) {
    for (CLI::App* command : app.get_subcommands({})) {
        // A command that takes every word itself (the library's groups, whose
        // options the library parses; a raw form request) must not hand them up.
        if (command->get_allow_extras() || command->get_prefix_command()) continue;
        command->fallthrough();
        acceptAnywhere(*command);
    }
}

bool GlobalOptions::jsonAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (word == "--") return false;
        if (word == "--json" || word == "-ojson" || word == "--output=json") return true;
        if ((word == "-o" || word == "--output") && i + 1 < argc &&
            std::string_view(argv[i + 1]) == "json")
            return true;
    }
    return false;
}

std::optional<int> GlobalOptions::parse(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // help or version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        String words = UsageError::describe(app, e, "vmcfg");
        std::cerr << words << std::endl;
        // JSON names no program, as for every other failure: "props: ...".
        if (jsonAsked(argc, argv))
            std::cout << FailureReport::object(words.substr(words[5] == ':' ? 7 : 6), 2);
        return 2;
    }
    return std::nullopt;
}

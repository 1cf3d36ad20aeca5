#include "host/vmcfg/GlobalOptions.h"

#include <algorithm>
#include <iostream>
#include <string_view>
#include <vector>

#include "host/vmcfg/FailureReport.h"

namespace {

// Edits (insert, delete, replace, swap two neighbours) from a to b.
std::size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// The command of `group` that `word` most likely meant: within two edits,
// or the only one it begins; empty when none is close.
String nearest(const CLI::App& group, const String& word) {
    String best, only;
    std::size_t bestDistance = 3, starting = 0;
    for (const CLI::App* command : group.get_subcommands({})) {
        std::vector<String> names = command->get_aliases();
        names.insert(names.begin(), command->get_name());
        for (const String& name : names) {
            if (std::size_t d = distance(word, name); d < bestDistance) {
                bestDistance = d;
                best = command->get_name();
            }
            if (name.rfind(word, 0) == 0 && only != command->get_name()) {
                only = command->get_name();
                ++starting;
            }
        }
    }
    return !best.empty() ? best : starting == 1 ? only : String();
}

}  // namespace

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
        String words = usageError(app, e);
        std::cerr << words << std::endl;
        // JSON names no program, as for every other failure: "props: ...".
        if (jsonAsked(argc, argv))
            std::cout << FailureReport::object(words.substr(words[5] == ':' ? 7 : 6), 2);
        return 2;
    }
    return std::nullopt;
}

String GlobalOptions::usageError(const CLI::App& app, const CLI::ParseError& error) {
    const CLI::App* command = &app;
    String path = "vmcfg";
    for (std::vector<const CLI::App*> chosen = command->get_subcommands({});;) {
        auto parsed = std::find_if(chosen.begin(), chosen.end(),
                                   [](const CLI::App* c) { return c->parsed(); });
        if (parsed == chosen.end()) break;
        command = *parsed;
        path += " " + command->get_name();
        chosen = command->get_subcommands({});
    }
    String help = "; see '" + path + " --help'";
    if (command->get_require_subcommand_min() == 0 || command->get_subcommands().size() > 0)
        return path + ": " + error.what() + help;
    // A word no command took may have been handed up to the groups above.
    for (const String& word : app.remaining(true)) {
        if (word.empty() || word[0] == '-') continue;
        String guess = nearest(*command, word);
        return path + ": '" + word + "' is not a command" +
               (guess.empty() ? String() : " (did you mean '" + guess + "'?)") + help;
    }
    String names;
    for (const CLI::App* each : command->get_subcommands({}))
        names += (names.empty() ? "" : ", ") + each->get_name();
    return path + ": a command is needed: " + names + help;
}

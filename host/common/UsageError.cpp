#include "host/common/UsageError.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>
#include <string_view>
#include <vector>

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

String UsageError::describe(const CLI::App& app, const CLI::Error& error, const String& program) {
    const CLI::App* command = &app;
    String path = program;
    for (std::vector<const CLI::App*> chosen = command->get_subcommands({});;) {
        auto parsed = std::find_if(chosen.begin(), chosen.end(),
                                   [](const CLI::App* c) { return c->parsed(); });
        if (parsed == chosen.end()) break;
        command = *parsed;
        path += " " + command->get_name();
        chosen = command->get_subcommands({});
    }
    String help = "; see '" + path + " --help'";
    // Only a group's missing command is said in words of our own; any other
    // error, even inside such a group, is CLI11's.
    if (command->get_require_subcommand_min() == 0 ||
        dynamic_cast<const CLI::RequiredError*>(&error) == nullptr)
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

int UsageError::report(const CLI::App& app, const CLI::Error& error, const String& program,
                       std::ostream& err) {
    if (error.get_exit_code() == 0) return app.exit(error);
    err << describe(app, error, program) << std::endl;
    return 2;
}

#pragma once

#include <CLI/CLI.hpp>
#include <optional>

#include "platform/String.h"

// The options of vmcfg that apply to every command group. They are accepted
// anywhere on the line: before the group, or after any of its commands.
struct GlobalOptions {
    // Host directory under which platform paths live; unset: see PlatformRoot.
    std::optional<String> root;
    // Machine-readable output (JSON on standard output): --json or -o json.
    bool json = false;
    // -o text|json|value; "value" prints only the bytes asked for (props show
    // --name, param get), as `git config --get` does.
    String output = "text";
    std::optional<int> box;
    std::optional<int> traceLevel;

    // Declares these options on vmcfg's command line (both vmcfg and its
    // commands library parse the same line).
    void addTo(CLI::App& app);
    // After the parse: makes json and output agree.
    void settle();
    bool valueOnly() const { return output == "value"; }

    // Lets every command of app, at any depth, pass the options it does not
    // know to the group above, so that global options work after a command.
    static void acceptAnywhere(CLI::App& app);
    // Whether argv asks for JSON output, for failures found before the parse
    // completes.
    static bool jsonAsked(int argc, char** argv);
    // Parses argv into app. An exit status when the parse ends the run: 0
    // once help or the version is printed; 2 for bad usage, said on standard
    // error and, when argv asks for JSON, as a failure object on standard
    // output. Nothing when the command is to run.
    static std::optional<int> parse(CLI::App& app, int argc, char** argv);
};

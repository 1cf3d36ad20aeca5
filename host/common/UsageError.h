#pragma once

#include <iosfwd>

#include "platform/String.h"

namespace CLI {
class App;
class Error;
}  // namespace CLI

// What a program says when its command line does not parse: one line,
// "PROGRAM [COMMAND...]: " what is wrong "; see 'PROGRAM [COMMAND...] --help'",
// naming the deepest command given. In a group that needs a command, a word
// that names none gets the nearest command's name when one is within two
// edits of it or the only one it begins ("did you mean 'show'?"), and a
// missing command gets the list of them.
class UsageError {
  public:
    static String describe(const CLI::App& app, const CLI::Error& error, const String& program);
    // For a failed parse of app: help or the version asked for is printed
    // (status 0); anything else is described on err (status 2).
    static int report(const CLI::App& app, const CLI::Error& error, const String& program,
                      std::ostream& err);
};

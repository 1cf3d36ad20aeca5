#pragma once

#include <optional>

#include "platform/String.h"

// The platform root of a host program (vmcfg, vmpropd, vmadmd, mkgf_act),
// chosen once at start-up, in this order: the --root option, $VM_ROOT, the
// VM_ROOT= line of the platform's defaults file, "/". The defaults file is
// $VM_DEFAULTS_FILE when set, else the one installed with the program:
// /etc/default/vmplatform for a program installed under /usr (or /),
// PREFIX/etc/default/vmplatform for one under another PREFIX; a program run
// from its build tree has none. A missing or unreadable defaults file, or
// one without the line, is no error: the next choice applies.
class PlatformRoot {
  public:
    // Sets the chosen root (HostPlatform::setRoot, so that the commands the
    // module runs get it through $VM_ROOT) and only then starts the trace
    // log under it. Returns the root.
    static String settle(const std::optional<String>& option);
    // The defaults file this program reads (it may not exist); empty: none.
    static String defaultsFile();
    // The last VM_ROOT= value of a file in the shell's KEY=VALUE form
    // (an "export " prefix and one pair of quotes are allowed).
    static std::optional<String> rootFromFile(const String& file);
    // Whether the root in force holds the platform's "/VM/config" directory
    // ("vmcfg init" makes it).
    static bool initialised();
};

#pragma once

#include "platform/String.h"

// Runs the built vmcfg program (found through $CFGADM_BUILD_DIR, else next to
// the test executable) on a platform root and collects what it did, and finds
// the other built programs.
class VmcfgRunner {
  public:
    struct Outcome {
        int status = -1;  // exit status; -1 when it did not exit normally
        String out;
        String err;
    };

    // The path of the built program `name` (it may not exist).
    static String program(const String& name);
    // vmcfg's path.
    static String binary();
    // Runs "vmcfg --root ROOT ARGUMENTS" (arguments as shell words); the
    // output files live under scratch (a host directory).
    static Outcome run(const String& root, const String& arguments, const String& scratch);
};

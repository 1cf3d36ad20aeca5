#pragma once

#include "platform/String.h"
#include "tests/testing/PlatformFixture.h"

// Finds the built programs: through $CFGADM_BUILD_DIR, else next to the test
// executable.
class VmcfgRunner {
  public:
    struct Outcome {
        int status = -1;  // exit status; -1 when it did not exit normally
        String out;
        String err;
    };

    // The path of the built program `name` (it may not exist).
    static String program(const String& name);
};

// A fresh platform root for the built programs to run on.
class VmcfgFixture : public PlatformFixture {
  protected:
    // Runs "PROGRAM --root ROOT ARGUMENTS" (arguments as shell words) and
    // collects what it did; its output files are "/stdout" and "/stderr".
    VmcfgRunner::Outcome run(const String& arguments, const String& program = "vmcfg") const;
    // Runs "env ENVIRONMENT PROGRAM ARGUMENTS" with no --root added
    // (ENVIRONMENT: env's operands, e.g. "-u VM_ROOT VM_DEFAULTS_FILE=F").
    VmcfgRunner::Outcome runWith(const String& environment, const String& arguments,
                                 const String& program = "vmcfg") const;
};

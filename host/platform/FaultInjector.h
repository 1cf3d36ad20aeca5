#pragma once

#include "platform/String.h"

// The file and process calls of the platform layer that a test can make fail.
enum class FaultOp {
    Open,
    Read,
    Write,
    Seek,
    Stat,
    Access,
    Unlink,
    Truncate,
    Fchmod,
    Lock,
    Rename,
    Fsync,
    Mkdir,
    Popen
};

// Makes chosen platform-layer calls fail with a chosen errno, so that tests
// reach the module's failure paths (as an error-injecting Env does). A rule
// names the call, an errno, a text that the call's platform path must contain
// (empty: any path), how many matching calls to let through first, and how
// many to fail after that (-1: all). Thread-safe; rules last until clear().
class FaultInjector {
  public:
    static void add(FaultOp op, int error, const String& pathContains = String(), int skip = 0,
                    int times = 1);
    static void clear();
    // The errno a call should fail with, or 0 to let it run. Called by the
    // stand-in's file layer for every call.
    static int check(FaultOp op, const String& platformPath);
    // Whether any rule is in force: a caller whose path costs something to
    // name may skip check() when none is.
    static bool armed();
    // How many calls the rules have failed since the last clear().
    static int injected();
};

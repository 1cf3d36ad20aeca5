#pragma once

#include <cstdint>

#include "platform/Path.h"
#include "platform/String.h"

// The host's settings of the stand-in platform, chosen once by the program
// that hosts the module (or by a test fixture):
// - the platform root: the directory under which absolute platform paths
//   ("/VM/config/...", "/vm/tmp") live; "/" unless set, or $VM_ROOT;
// - this process's processor box number: 1 unless set, or $VM_BOX; box 0
//   makes the identity service fail.
// Setters are meant for start-up, before module code runs. setRoot also sets
// $VM_ROOT, so the commands the module runs work on the same root.
class HostPlatform {
  public:
    static void setRoot(const String& directory);
    static const String& root();
    static void setBox(std::uint16_t box);
    static std::uint16_t box();
    // Whether Process::popen runs its command (the default). Off, every
    // command reads as one that printed nothing, and none is started: a
    // configuration file's $(...) terms can be checked without running them.
    static void setCommandsRun(bool run);
    static bool commandsRun();

    // Where a platform path lives on this machine: the path is normalised
    // (see normalPath), its links are followed inside the root as a chroot
    // follows them (see RootResolver), and the result is placed under the
    // root. The answer holds no link, so host calls on it stay inside the
    // root; a tail that does not exist yet is kept as named. A path whose
    // links loop gets a name too long for any call to accept.
    static String hostPath(const Path& path);
    // A platform path as an absolute path without ".", "..", or empty
    // components; ".." stops at "/", and a relative path starts at "/".
    static String normalPath(const String& path);
    // mkdir -p of the directory that holds `hostFile` (a host path).
    static bool makeParentDirectories(const String& hostFile);
    // mkdir -p of a host directory.
    static bool makeDirectories(const String& hostDirectory);
};

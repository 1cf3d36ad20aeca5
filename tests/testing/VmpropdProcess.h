#pragma once

#include <cstdint>
#include <vector>

#include "tests/testing/ChildProgram.h"

// Runs the built vmpropd program (found as VmcfgRunner finds programs) on a
// platform root; it is ready once it prints its listening line. The daemon's
// standard error goes to "<root>/<outputName>" (or to outputName itself when
// it is absolute).
class VmpropdProcess : public ChildProgram {
  public:
    explicit VmpropdProcess(String outputName = "vmpropd.out") : outputName_(outputName) {}

    // True once the daemon listens (see ChildProgram::start); `extra`:
    // further arguments of the daemon.
    bool start(const String& root, std::uint16_t box, int traceLevel = 2,
               const std::vector<String>& extra = {});

  private:
    String outputName_;
};

#include "tests/testing/VmpropdProcess.h"

#include "tests/testing/VmcfgRunner.h"

bool VmpropdProcess::start(const String& root, std::uint16_t box, int traceLevel) {
    return ChildProgram::start({VmcfgRunner::program("vmpropd"), "--root", root, "--box",
                                std::to_string(box), "--trace-level", std::to_string(traceLevel)},
                               outputName_[0] == '/' ? outputName_ : root + "/" + outputName_);
}

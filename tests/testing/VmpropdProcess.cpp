#include "tests/testing/VmpropdProcess.h"

#include "tests/testing/VmcfgRunner.h"

bool VmpropdProcess::start(const String& root, std::uint16_t box, int traceLevel,
                           const std::vector<String>& extra) {
    std::vector<String> argv = {VmcfgRunner::program("vmpropd"), "--root", root, "--box",
                                std::to_string(box), "--trace-level", std::to_string(traceLevel)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return ChildProgram::start(argv, outputName_[0] == '/' ? outputName_ : root + "/" + outputName_);
}

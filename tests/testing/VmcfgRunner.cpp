#include "tests/testing/VmcfgRunner.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

String slurp(const String& hostFile) {
    std::ifstream in(hostFile, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

String VmcfgRunner::program(const String& name) {
    const char* dir = std::getenv("CFGADM_BUILD_DIR");
    std::filesystem::path base =
        dir ? std::filesystem::path(dir)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (base / name).string();
}

String VmcfgRunner::binary() {
    return program("vmcfg");
}

VmcfgRunner::Outcome VmcfgRunner::run(const String& root, const String& arguments,
                                      const String& scratch) {
    String out = scratch + "/stdout", err = scratch + "/stderr";
    String command = binary() + " --root '" + root + "' " + arguments + " >" + out + " 2>" + err;
    int status = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = slurp(out);
    outcome.err = slurp(err);
    return outcome;
}

#include "tests/testing/VmcfgRunner.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

String VmcfgRunner::program(const String& name) {
    const char* dir = std::getenv("CFGADM_BUILD_DIR");
    std::filesystem::path base =
        dir ? std::filesystem::path(dir)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (base / name).string();
}

VmcfgRunner::Outcome VmcfgFixture::run(const String& arguments, const String& program) const {
    return runWith("", "--root '" + root_ + "' " + arguments, program);
}

VmcfgRunner::Outcome VmcfgFixture::runWith(const String& environment, const String& arguments,
                                           const String& program) const {
    String command = "env " + environment + " '" + VmcfgRunner::program(program) + "' " +
                     arguments + " >'" + root_ + "/stdout' 2>'" + root_ + "/stderr'";
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile("/stdout"), readFile("/stderr")};
}

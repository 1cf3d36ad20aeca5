#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/testing/VmcfgRunner.h"

namespace {

namespace fs = std::filesystem;

class VmcfgLoading : public VmcfgFixture {};

// The module's static objects trace while they are built, before a program
// has chosen its root: at level 9 nothing may reach the host's own
// "/vm/log/trace.log", and what is traced lands in the root's log.
TEST_F(VmcfgLoading, TracesStayUnderTheRoot) {
    const char* const hostLog = "/vm/log/trace.log";
    struct stat before {};
    bool existed = ::stat(hostLog, &before) == 0;
    bool hostTreeExisted = fs::exists("/vm");
    fs::create_directory(root_ + "/home");
    String environment = "-u VM_ROOT --chdir=/ HOME=" + root_ + "/home VM_TRACE_LEVEL=9";
    const struct {
        const char* program;
        String arguments;
        const char* logged;  // in the root's log afterwards; null: no check
    } runs[] = {
        {"vmcfg", "--version", nullptr},
        {"vmpropd", "--version", nullptr},
        {"vmadmd", "--version", nullptr},
        {"vmcfg", "--root " + root_ + " init", "Config_Adm_Data()"},
        {"mkgf_act", "--root " + root_, "mkgf_act: active features: none"},
    };
    for (const auto& r : runs) {
        VmcfgRunner::Outcome o = runWith(environment, r.arguments, r.program);
        EXPECT_EQ(o.status, 0) << r.program << " " << r.arguments << "\n" << o.err;
        if (r.logged) {
            EXPECT_NE(readFile("/vm/log/trace.log").find(r.logged), String::npos) << r.program;
        }
    }
    struct stat after {};
    bool exists = ::stat(hostLog, &after) == 0;
    EXPECT_EQ(exists, existed) << hostLog << " was created outside the root";
    if (exists && !existed) fs::remove(hostLog);
    if (!hostTreeExisted) fs::remove_all("/vm");  // made by the programs just run
    if (exists && existed) {
        EXPECT_EQ(after.st_size, before.st_size) << hostLog << " was written to";
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
}

// A byte copy of the module elsewhere is a module of its own: vmcfg must
// load that one, not one it carries, and fail when the named one is missing.
TEST_F(VmcfgLoading, FormCommandsLoadTheModuleNamed) {
    ASSERT_EQ(run("init --demo").status, 0);
    String copy = root_ + "/copy/libconfig_adm.so";
    fs::create_directory(root_ + "/copy");
    fs::copy_file(VmcfgRunner::program("libconfig_adm.so"), copy);
    writeFile("/requests", "1 list COS\n");
    const struct {
        String arguments;
        int status;
        const char* shows;  // in standard output, or standard error on failure
    } cases[] = {
        {"shell --module " + copy + " <" + hostPath("/requests"), 0, "COS Greeting Length"},
        {"known list cos --module " + copy, 0, "COS Greeting Length"},
        {"form --module " + copy + " 1 list COS", 0, "COS Greeting Length"},
        {"features --module " + copy, 0, "Tandem Mailbox?"},
        {"shell --module " + root_ + "/none.so <" + hostPath("/requests"), 4,
         "can't load the module"},
        {"known list cos --module " + root_ + "/none.so", 4, "can't load the module"},
    };
    for (const auto& c : cases) {
        VmcfgRunner::Outcome o = run(c.arguments);
        EXPECT_EQ(o.status, c.status) << c.arguments << "\n" << o.err;
        EXPECT_NE((c.status == 0 ? o.out : o.err).find(c.shows), String::npos)
            << c.arguments << "\n"
            << o.out << o.err;
    }
}

}  // namespace

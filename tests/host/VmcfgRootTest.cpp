#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/testing/VmcfgRunner.h"

namespace {

namespace fs = std::filesystem;

class VmcfgRoot : public VmcfgFixture {
  protected:
    // A platform root under the test's directory whose parameter file names it.
    String makeRoot(const String& name) const {
        writeFile("/" + name + "/VM/config/config_params",
                  "precedence global default\nglobal default : which=" + name + "\n");
        return root_ + "/" + name;
    }
};

// Without --root and $VM_ROOT, the defaults file's VM_ROOT= line decides.
TEST_F(VmcfgRoot, ComesFromTheOptionTheEnvironmentThenTheDefaultsFile) {
    String fromFile = makeRoot("file"), fromEnvironment = makeRoot("env"),
           fromOption = makeRoot("option");
    writeFile("/defaults", "# comment\nVM_ROOT=/elsewhere\nexport VM_ROOT=\"" + fromFile + "\"\n");
    String defaults = "VM_DEFAULTS_FILE=" + hostPath("/defaults");
    const struct {
        String environment;
        String arguments;
        const char* which;
    } cases[] = {
        {"-u VM_ROOT " + defaults, "param get which", "file"},
        {"VM_ROOT=" + fromEnvironment + " " + defaults, "param get which", "env"},
        {"VM_ROOT=" + fromEnvironment + " " + defaults, "--root " + fromOption + " param get which",
         "option"},
        {"-u VM_ROOT " + defaults, "--json features", "\"row\":0"},
    };
    for (const auto& c : cases) {
        VmcfgRunner::Outcome o = runWith(c.environment, c.arguments);
        EXPECT_EQ(o.status, 0) << c.environment << " " << c.arguments << "\n" << o.err;
        EXPECT_NE(o.out.find(c.which), String::npos) << c.arguments << "\n" << o.out;
    }
}

// Only init works on a directory that is not a platform root, and nothing is
// made there otherwise.
TEST_F(VmcfgRoot, EveryCommandButInitRefusesANonRoot) {
    fs::create_directory(root_ + "/empty");
    const char* const commands[] = {"props show --system",
                                    "props put --system Colour blue",
                                    "props put /VM/config/x A b",
                                    "param get max_ports",
                                    "known list cos",
                                    "features",
                                    "form 2 get SYSTEM x",
                                    "shell </dev/null",
                                    "address build 1",
                                    "message props 200001"};
    for (const char* name : {"missing", "empty"}) {
        String root = root_ + "/" + name;
        for (const char* command : commands) {
            VmcfgRunner::Outcome o = runWith("", "--root " + root + " " + command);
            EXPECT_EQ(o.status, 2) << name << ": " << command << "\n" << o.out << o.err;
            EXPECT_EQ(o.err, "vmcfg: " + root + ": not a platform root; run vmcfg init\n")
                << command;
        }
    }
    // A group's help needs no root.
    VmcfgRunner::Outcome help = runWith("", "--root " + root_ + "/missing props --help");
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_NE(help.out.find("Usage"), String::npos) << help.out;
    EXPECT_FALSE(fs::exists(root_ + "/missing"));
    EXPECT_TRUE(fs::is_empty(root_ + "/empty"));
    VmcfgRunner::Outcome made = runWith("", "--root " + root_ + "/empty init");
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_TRUE(fs::is_directory(root_ + "/empty/VM/config"));
}

}  // namespace

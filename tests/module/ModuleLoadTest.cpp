// The module as the administration server sees it: the built libconfig_adm.so
// loaded with dlopen (nothing of the module is linked into this test), its
// objects found by name, its registry walked, a request driven through it,
// and its load and unload order as the framework saw them.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

#include "host/platform/AdmServer.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/RunTokenHolder.h"

namespace {

std::string modulePath() {
    const char* dir = std::getenv("CFGADM_BUILD_DIR");
    std::filesystem::path base =
        dir ? std::filesystem::path(dir)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (base / "libconfig_adm.so").string();
}

class ModuleLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "cfgadm-load-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        HostPlatform::setRoot(root_);
        AdmJournal::clear();
        std::string error;
        ASSERT_TRUE(module_.load(modulePath(), error)) << error;
    }
    void TearDown() override {
        module_.unload();
        HostPlatform::setRoot("/");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::string root_;
    AdmModule module_;
};

TEST_F(ModuleLoad, FormsRegister2Then1Then3TheDataObjectLastAndUnloadReverses) {
    EXPECT_EQ(AdmJournal::events(),
              (std::vector<std::string>{"form 2 registered with 4", "form 1 registered with 4",
                                        "form 3 registered with 4",
                                        "data Configuration built with 3 forms"}));
    ASSERT_NE(module_.data(), nullptr);
    EXPECT_STREQ(module_.data()->application(), "Configuration");
    EXPECT_EQ(module_.data()->forms(), module_.forms());
    std::vector<std::pair<int, int>> entries;
    for (const Adm_Forms* e = module_.forms(); e != nullptr; e = e->next)
        entries.emplace_back(e->number, e->kind);
    EXPECT_EQ(entries, (std::vector<std::pair<int, int>>{{2, 4}, {1, 4}, {3, 4}}));
    AdmJournal::clear();
    module_.unload();
    EXPECT_EQ(AdmJournal::events(),
              (std::vector<std::string>{"data Configuration destroyed", "form 3 left",
                                        "form 1 left", "form 2 left"}));
}

TEST_F(ModuleLoad, RequestsRunThroughTheRegistry) {
    RunTokenHolder token;
    Buffer buffer;
    buffer.set_field(0, "system");
    buffer.set_field(1, "QRT SYSTEM supported languages");
    AdmAnswer a = adm_request(*module_.form(2), AdmOp::get, buffer);
    EXPECT_EQ((std::vector<int>{a.result, a.rval, a.ecode, a.field_no}),
              (std::vector<int>{0, 2, 0, -1}));
    EXPECT_EQ(buffer.reply_field(0), "SYSTEM");
    EXPECT_EQ(buffer.reply_field(1), "QRT SYSTEM supported languages");
    buffer.clear();
    buffer.set_field(0, "SYSTEM");
    a = adm_request(*module_.form(1), AdmOp::list, buffer);
    EXPECT_EQ((std::vector<int>{a.result, a.ecode}), (std::vector<int>{0, 0}));
    EXPECT_EQ(buffer.reply_field(1), "QRT SYSTEM supported languages");
    // What form 1 does not override is the framework's.
    a = adm_request(*module_.form(1), AdmOp::rem, buffer);
    EXPECT_EQ((std::vector<int>{a.result, a.rval, a.ecode}),
              (std::vector<int>{1023, 3, ADM_NOT_SUPPORTED}));
}

}  // namespace

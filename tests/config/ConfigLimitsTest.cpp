#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "config/ConfigurationFile.h"
#include "tests/config/ConfigFixture.h"

#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
#define CONFIG_LIMITS_SANITIZED
#endif

namespace {

using Clock = std::chrono::steady_clock;

class ConfigLimits : public ConfigFixture {};

TEST_F(ConfigLimits, TermsWithoutBlanksTakeLinearTime) {
    setenv("CFG_LIMITS_X", "ab", 1);
    std::vector<double> seconds;
    for (std::size_t size : {64u << 10, 256u << 10, 1u << 20}) {
        String terms, resolved;
        while (terms.size() < size) terms += "${CFG_LIMITS_X}", resolved += "ab";
        Path path = writeConfig("precedence big " + terms + "\nprecedence g x\ng x : k=" + terms);
        auto start = Clock::now();
        VantorConfigurationInfo info(path, 0);
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        EXPECT_EQ(info.paramValue(Symbol("big")), resolved);
        EXPECT_EQ(lookup(info, "k"), resolved);
#if !defined(CONFIG_LIMITS_SANITIZED) && defined(NDEBUG)
        ASSERT_LT(seconds.back(), 2.0) << size << "-byte lines";
#endif
    }
#if !defined(CONFIG_LIMITS_SANITIZED)
    EXPECT_LT(seconds[2], 8 * seconds[1] + 0.25) << "256 KiB: " << seconds[1] << " s";
#endif
}

TEST_F(ConfigLimits, LinesOverTheLimitAreParseErrors) {
    const std::size_t limit = ConfigurationFile::lineLimit;
    const struct {
        std::size_t length;
        const char* end;
    } cases[] = {{limit, "\n"}, {limit + 1, "\n"}, {3 * limit + 70001, "\n"}, {limit + 1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + (*c.end ? " bytes" : " bytes, unterminated"));
        String line = "g x : k=" + String(c.length - 8, 'v');
        String after = *c.end ? "g x : after=2\n" : "";
        String err;
        auto info = readQuietly("precedence g x\ng x : before=1\n" + line + c.end + after, err);
        bool refused = c.length > limit;
        String report = "@ Can't parse line longer than 4194304 bytes on line:  3, line is:\n";
        EXPECT_EQ(err, refused ? report + line.substr(0, 256) + "...\n" : "");
        EXPECT_EQ(lookup(*info, "k"), refused ? "<absent>" : line.substr(8));
        EXPECT_EQ(lookup(*info, "after"), *c.end ? "2" : "<absent>");
        EXPECT_EQ(info->isInitialized(), !refused);
    }
}

TEST_F(ConfigLimits, OnlyRegularFilesAreRead) {
    std::jthread release = fifoAndDevice();
    writeFile("/VM/config/a_directory/inner", "x");
    for (auto [name, reason] : {std::pair<String, String>{"/VM/config/fifo", "not a regular file"},
                                {"/VM/config/device", "not a regular file"},
                                {"/VM/config/absent", "errno=2 (No such file or directory)"},
                                {"/VM/config/a_directory", "errno=21 (Is a directory)"}}) {
        StderrCapture capture;
        VantorConfigurationInfo info(Path(name), 0);
        EXPECT_EQ(capture.text(), "Can't open Configuration File:  " + name + ", " + reason + "\n");
        EXPECT_FALSE(info.isInitialized());
        EXPECT_TRUE(info.precedenceSlots().empty());
    }
}

}  // namespace

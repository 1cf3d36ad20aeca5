#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "config/ConfigurationFile.h"
#include "config/ConfigurationParser.h"
#include "platform/RegexIterator.h"
#include "tests/config/ConfigFixture.h"
#include "tests/testing/VmcfgRunner.h"

#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
#define CONFIG_LIMITS_SANITIZED
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Opens the FIFO for writing once ten seconds have passed, which lets go a
// reader stuck opening it: a test then fails instead of hanging.
std::jthread fifoRelease(const String& fifo) {
    return std::jthread([fifo](std::stop_token stop) {
        for (auto deadline = Clock::now() + 10s; !stop.stop_requested();
             std::this_thread::sleep_for(20ms))
            if (Clock::now() > deadline) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    });
}

// Gives each test a FIFO "/VM/config/fifo" and a device "/VM/config/device".
class ConfigLimits : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        std::filesystem::create_directories(hostPath("/VM/config"));
        ASSERT_EQ(mkfifo(hostPath("/VM/config/fifo").c_str(), 0600), 0);
        std::filesystem::create_symlink("/dev/null", hostPath("/VM/config/device"));
    }
};

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

TEST(GluedTerms, FoundAsOneIterationOverTheWholeTextFindsThem) {
    const String alphabet = "ab$$${}()\\ \t";
    Regex termRegex(ConfigurationParser::precedenceExpressionRE);
    std::mt19937 random(4321);
    for (int round = 0; round < 20000 && !HasFailure(); ++round) {
        String text, whole, found;
        for (std::size_t i = random() % 24; i > 0; --i)
            text += alphabet[random() % alphabet.size()];
        auto describe = [](const RegexMatch& m, String& to) {
            to += "|";
            for (std::size_t i : {3, 5, 6})
                if (m.matched(i)) to += std::to_string(i) + ":" + m.str(i);
            return true;
        };
        RegexIterator terms(termRegex, text);
        for (RegexMatch match; terms.next(match);) describe(match, whole);
        ConfigurationParser::forEachTerm(text,
                                         [&](const RegexMatch& m) { return describe(m, found); });
        EXPECT_EQ(found, whole) << "'" << text << "'";
    }
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
    std::jthread release = fifoRelease(hostPath("/VM/config/fifo"));
    for (String name : {"/VM/config/fifo", "/VM/config/device"}) {
        StderrCapture capture;
        VantorConfigurationInfo info(Path(name), 0);
        EXPECT_EQ(capture.text(),
                  "Can't open Configuration File:  " + name + ", not a regular file\n");
        EXPECT_FALSE(info.isInitialized());
    }
}

TEST_F(ConfigLimits, ParamCommandsAnswerAlike) {
    writeFile("/VM/config/config_params",
              "precedence g x\ng x : esc=a\x1b]0;t\x07z del=\x7f c1=\xc2\x9b bad=\xff\xc3 "
              "utf8=\xc3\xa9\xe2\x80\x94 tab=(a\tb)\n");
    writeFile("/VM/config/bad", "precedence g x\ng x : k=1\nnot a parameter line\n");
    std::jthread release = fifoRelease(hostPath("/VM/config/fifo"));
    const struct {
        const char* arguments;
        int status;
        const char* out;  // nullptr: not compared
    } cases[] = {
        {"param get esc", 0, "a\\x1b]0;t\\x07z (g=x)\n"},
        {"param get del", 0, "\\x7f (g=x)\n"},
        {"param get c1", 0, "\\xc2\\x9b (g=x)\n"},
        {"param get bad", 0, "\\xff\\xc3 (g=x)\n"},
        {"param get utf8", 0, "\xc3\xa9\xe2\x80\x94 (g=x)\n"},
        {"param get tab", 0, "a\\x09b (g=x)\n"},
        {"param check --debug -1", 2, ""},
        {"param check --file /VM/config/none", 2, ""},
        {"param check --file /VM/config", 2, ""},
        {"param check --file /VM/config/fifo", 2, ""},
        {"param get k --file /VM/config/fifo", 2, ""},
        {"param types --file /VM/config/device", 2, ""},
        {"param explain k --file /VM/config/device", 2, ""},
        {"param get k --file /VM/config/bad", 1, "1 (g=x)\n"},
        {"param types --file /VM/config/bad", 1, "0 g=x\n"},
        {"param explain k --file /VM/config/bad", 1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        VmcfgRunner::Outcome outcome = VmcfgRunner::run(root_, c.arguments, root_);
        EXPECT_EQ(outcome.status, c.status);
        if (c.out) {
            EXPECT_EQ(outcome.out, c.out);
        }
    }
}

}  // namespace

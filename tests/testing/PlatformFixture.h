#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>

#include "host/platform/RunTokenHolder.h"
#include "platform/Path.h"
#include "tests/testing/TraceCapture.h"

// Gives each test a fresh, empty platform root (removed afterwards), the run
// token, trace level 3 captured in `traces`, box 1 and no injected faults.
class PlatformFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Where a platform path lives on this machine.
    String hostPath(const Path& path) const;
    // Writes bytes to a platform path (creating directories); reads them back.
    void writeFile(const Path& path, const String& bytes) const;
    String readFile(const Path& path) const;
    // Waits up to timeoutMs for the file at a platform path to hold `text`
    // (a daemon's log line, say); true once it does.
    bool awaitText(const Path& path, const String& text, int timeoutMs = 10000) const;
    // Names of the files in a platform directory (empty when it is missing).
    std::vector<String> listDirectory(const Path& directory) const;
    // The permission bits of a platform path (0 when it is missing).
    mode_t modeOf(const Path& path) const;
    // Sets a platform path's access and modification times, failing the test
    // when it cannot.
    void setMtime(const Path& path, time_t seconds) const;

    String root_;
    std::unique_ptr<TraceCapture> traces;
    std::unique_ptr<RunTokenHolder> token_;
};

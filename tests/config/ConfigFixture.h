#pragma once

#include <iostream>
#include <sstream>
#include <thread>

#include "config/VantorConfigurationInfo.h"
#include "tests/testing/VmcfgRunner.h"

// Collects what is written to std::cerr while it lives.
class StderrCapture {
  public:
    StderrCapture() : previous_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~StderrCapture() { std::cerr.rdbuf(previous_); }
    String text() const { return buffer_.str(); }

  private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

// Readers share parses process-wide by platform path, so every file a test
// writes gets a path no other test uses.
class ConfigFixture : public VmcfgFixture {
  protected:
    // Writes content to a fresh platform path and returns the path.
    Path writeConfig(const String& content) const;
    // A quiet reader on a fresh file; err receives what the parse wrote, with
    // the file's path written as "@".
    std::unique_ptr<VantorConfigurationInfo> readQuietly(const String& content, String& err) const;
    // Makes a FIFO "/VM/config/fifo" and a device "/VM/config/device". The
    // thread opens the FIFO for writing after ten seconds, which lets go a
    // reader stuck opening it: a test then fails instead of hanging.
    std::jthread fifoAndDevice() const;
};

// The value of key, or "<absent>".
String lookup(const VantorConfigurationInfo& info, const String& key);
// The precedence types in slot order, as "type=value" words.
String types(const VantorConfigurationInfo& info);
// Every parameter of every slot, as "type:key=value" lines in slot order.
String dump(const VantorConfigurationInfo& info);

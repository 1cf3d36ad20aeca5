#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "host/platform/HostTrace.h"

// Collects the trace messages recorded while it lives.
class TraceCapture : public TraceSink {
  public:
    TraceCapture() { HostTrace::addSink(this); }
    ~TraceCapture() override { HostTrace::removeSink(this); }

    void message(int level, const String& text) override;
    std::vector<std::pair<int, String>> messages() const;
    // Whether a message at `level` contains `text`.
    bool contains(int level, const String& text) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<int, String>> messages_;
};

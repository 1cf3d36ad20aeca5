#pragma once

#include "platform/Path.h"
#include "platform/String.h"

// Receives every trace message that is recorded (level at or below the
// current trace level). Tests implement it to assert on messages.
class TraceSink {
  public:
    virtual ~TraceSink() = default;
    virtual void message(int level, const String& text) = 0;
};

// The host's control of the trace service. A recorded message becomes one
// line "time pid level text" in the trace log (by default the platform path
// "/vm/log/trace.log" under the platform root, opened on first use; a log
// that cannot be opened is skipped) and, when asked, on standard error.
// Sinks get the bare text. Thread-safe.
// No log file is opened before the host program has settled its root
// (startLog or setLogFile): code that runs before that (static objects of
// the module, option parsing) has its lines kept in memory, the first 1000,
// and written to the log when it starts; later ones are counted in one line.
class HostTrace {
  public:
    static void setLevel(int level);
    static int level();
    static void setStderr(bool on);
    // The root is settled: the log may open under it, and lines kept so far
    // are written to it.
    static void startLog();
    // The log's platform path; the empty path turns the log off (and drops
    // the lines kept so far). Also starts the log.
    static void setLogFile(const Path& path);
    // The sink is not owned and must be removed before it is destroyed.
    static void addSink(TraceSink* sink);
    static void removeSink(TraceSink* sink);
    // Records one finished message (what TraceManip does).
    static void record(int level, const String& text);
};

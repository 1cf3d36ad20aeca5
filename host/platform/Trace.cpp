#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <vector>

#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "platform/TraceService.h"

namespace {

struct TraceState {
    std::mutex mutex;
    std::atomic<int> level{1};
    bool toStderr = false;
    Path logPath = "/vm/log/trace.log";
    std::ofstream log;
    bool logTried = false;
    // Until the host has settled its root no log file is touched: lines wait
    // here, at most kPendingLines of them, the later ones only counted.
    bool started = false;
    std::vector<String> pending;
    std::size_t dropped = 0;
    std::vector<TraceSink*> sinks;
};

constexpr std::size_t kPendingLines = 1000;

TraceState& state() {
    static TraceState* s = [] {
        auto* created = new TraceState;
        if (const char* level = std::getenv("VM_TRACE_LEVEL")) created->level = std::atoi(level);
        return created;
    }();
    return *s;
}

String stamp(int level, const String& text) {
    char when[32];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
    std::ostringstream line;
    line << when << ' ' << getpid() << ' ' << level << ' ' << text << '\n';
    return line.str();
}

}  // namespace

void HostTrace::setLevel(int level) {
    state().level = level;
}
int HostTrace::level() {
    return state().level;
}

void HostTrace::setStderr(bool on) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().toStderr = on;
}

namespace {

// Opens the log under the root in force (once) and writes what waited.
void writeToLog(TraceState& s, const String& line) {
    if (!s.logTried && !s.logPath.empty()) {
        s.logTried = true;
        String host = HostPlatform::hostPath(s.logPath);
        HostPlatform::makeParentDirectories(host);
        s.log.open(host, std::ios::app);
    }
    if (!s.log.is_open()) return;
    for (const String& waited : s.pending) s.log << waited;
    if (s.dropped > 0)
        s.log << stamp(1, std::to_string(s.dropped) +
                              " trace lines recorded before the platform root was set are lost");
    s.pending.clear();
    s.dropped = 0;
    s.log << line << std::flush;
}

}  // namespace

void HostTrace::startLog() {
    TraceState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.started = true;
    if (!s.pending.empty() || s.dropped > 0) writeToLog(s, String());
}

void HostTrace::setLogFile(const Path& path) {
    TraceState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.log.close();
    s.logPath = path;
    s.logTried = false;
    s.started = true;
    if (path.empty()) {
        s.pending.clear();
        s.dropped = 0;
    }
}

void HostTrace::addSink(TraceSink* sink) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().sinks.push_back(sink);
}

void HostTrace::removeSink(TraceSink* sink) {
    std::lock_guard<std::mutex> lock(state().mutex);
    auto& sinks = state().sinks;
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
}

void HostTrace::record(int level, const String& text) {
    TraceState& s = state();
    if (level > s.level) return;
    String line = stamp(level, text);
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.started) {
        writeToLog(s, line);
    } else if (s.pending.size() < kPendingLines) {
        s.pending.push_back(line);
    } else {
        ++s.dropped;
    }
    if (s.toStderr) std::cerr << line << std::flush;
    for (TraceSink* sink : s.sinks) sink->message(level, text);
}

std::ostream& MC_std_trace() {
    thread_local std::ostringstream stream;
    return stream;
}

std::ostream& TraceManip(std::ostream& stream, int level, bool) {
    auto* composed = dynamic_cast<std::ostringstream*>(&stream);
    if (composed == nullptr) return stream;
    String text = composed->str();
    composed->str(String());
    composed->clear();
    composed->flags(std::ios::dec | std::ios::skipws);
    HostTrace::record(level, text);
    return stream;
}

int MC_current_trace_level() {
    return state().level;
}

void verbose(const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    HostTrace::record(3, buffer);
}

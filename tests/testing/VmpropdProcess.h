#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "platform/String.h"

// Runs the built vmpropd program (found as VmcfgRunner finds programs) as a
// child process on a platform root. start() blocks until the daemon prints
// its listening line on standard output (at most 10 s); stop() sends SIGTERM
// and waits for the exit (at most 10 s, then SIGKILL). The destructor stops
// a daemon still running. The daemon's standard error goes to
// "<root>/<outputName>" (or to outputName itself when it is absolute).
class VmpropdProcess {
  public:
    explicit VmpropdProcess(String outputName = "vmpropd.out") : outputName_(outputName) {}
    ~VmpropdProcess();
    VmpropdProcess(const VmpropdProcess&) = delete;
    VmpropdProcess& operator=(const VmpropdProcess&) = delete;

    // True once the daemon listens; false when it could not be started or
    // exited (or did not listen in time; it is then killed).
    // `extra`: further arguments of the daemon.
    bool start(const String& root, std::uint16_t box, int traceLevel = 2,
               const std::vector<String>& extra = {});
    // The exit status (-1 when it did not exit normally, or never ran).
    // Later calls return the same status.
    int stop();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // What the daemon printed on standard output up to its listening line.
    const String& output() const { return output_; }

  private:
    // Reads standard output up to the first line end; false at its end or
    // after the time limit.
    bool awaitLine(int timeoutMs);
    // Waits up to timeoutMs for the child to end; true when it has.
    bool reap(int timeoutMs);

    String outputName_;
    String output_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    int status_ = -1;
};

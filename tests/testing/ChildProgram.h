#pragma once

#include <sys/types.h>

#include <vector>

#include "platform/String.h"

// A program run as a child process that says on standard output when it is
// ready. start() blocks until the first line end (at most 10 s); stop() sends
// SIGTERM and waits for the exit (at most 10 s, then SIGKILL). The destructor
// stops a child still running.
class ChildProgram {
  public:
    ChildProgram() = default;
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Runs argv (argv[0]: the program's path) with standard error written to
    // errorFile. True once it printed a line; false when it could not be
    // started, exited first or did not say so in time (it is then killed).
    bool start(const std::vector<String>& argv, const String& errorFile);
    // The exit status (-1 when it did not exit normally, or never ran).
    // Later calls return the same status.
    int stop();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // What the child printed on standard output up to its first line end.
    const String& output() const { return output_; }

  private:
    // Reads standard output up to the first line end; false at its end or
    // after the time limit.
    bool awaitLine(int timeoutMs);
    // Waits up to timeoutMs for the child to end; true when it has.
    bool reap(int timeoutMs);

    String output_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    int status_ = -1;
};

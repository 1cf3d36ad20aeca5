#include "tests/testing/VmpropdProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "tests/testing/VmcfgRunner.h"

namespace {

constexpr int kWaitMs = 10000;

}  // namespace

VmpropdProcess::~VmpropdProcess() {
    stop();
}

bool VmpropdProcess::start(const String& root, std::uint16_t box, int traceLevel) {
    String program = VmcfgRunner::program("vmpropd"), boxText = std::to_string(box),
           level = std::to_string(traceLevel);
    String output = root + "/vmpropd.out";
    std::vector<char*> argv = {program.data(),
                               const_cast<char*>("--root"),
                               const_cast<char*>(root.c_str()),
                               const_cast<char*>("--box"),
                               boxText.data(),
                               const_cast<char*>("--trace-level"),
                               level.data(),
                               nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return false;
    }
    String socket = root + "/vm/run/box" + boxText + ".1";
    for (int waited = 0; waited < kWaitMs; waited += 10) {
        struct stat info;
        if (::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return true;
        if (reap(10)) return false;
    }
    stop();
    return false;
}

int VmpropdProcess::stop() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    if (!reap(kWaitMs)) {
        ::kill(pid_, SIGKILL);
        reap(kWaitMs);
        status_ = -1;
    }
    return status_;
}

bool VmpropdProcess::reap(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) {
            status_ = done == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

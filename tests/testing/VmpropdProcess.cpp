#include "tests/testing/VmpropdProcess.h"

#include <fcntl.h>
#include <poll.h>
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

bool VmpropdProcess::start(const String& root, std::uint16_t box, int traceLevel,
                           const std::vector<String>& extra) {
    String program = VmcfgRunner::program("vmpropd"), boxText = std::to_string(box),
           level = std::to_string(traceLevel);
    String output = outputName_[0] == '/' ? outputName_ : root + "/" + outputName_;
    std::vector<const char*> argv = {program.c_str(), "--root",        root.c_str(), "--box",
                                     boxText.c_str(), "--trace-level", level.c_str()};
    for (const String& argument : extra) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls between fork and exec.
        int err = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::dup2(pipeFds[1], 1) < 0 || err < 0 || ::dup2(err, 2) < 0) ::_exit(127);
        ::execv(program.c_str(), const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    stdout_ = pipeFds[0];
    output_.clear();
    if (pid_ > 0 && awaitLine(kWaitMs)) return true;
    stop();
    return false;
}

bool VmpropdProcess::awaitLine(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output_.find('\n') == String::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{stdout_, POLLIN, 0};
        char buffer[256];
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
        ssize_t n = ::read(stdout_, buffer, sizeof buffer);
        if (n <= 0) return false;
        output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

int VmpropdProcess::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (!reap(kWaitMs)) {
            ::kill(pid_, SIGKILL);
            reap(kWaitMs);
            status_ = -1;
        }
    }
    if (stdout_ >= 0) ::close(stdout_);
    stdout_ = -1;
    return status_;
}

bool VmpropdProcess::reap(int timeoutMs) {
    for (int waited = 0;; waited += 5) {
        int status;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) {
            status_ = done == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = -1;
            return true;
        }
        if (waited >= timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

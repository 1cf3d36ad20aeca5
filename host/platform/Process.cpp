#include "platform/Process.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>

#include "host/platform/FaultInjector.h"
#include "host/platform/HostPlatform.h"

namespace {

// The streams handed out instead of a command's output while commands are
// not run: pclose closes them as files, and the command "succeeded".
std::mutex inertMutex;
std::set<FILE*> inertStreams;

}  // namespace

FILE* Process::popen(const String& command, const char* mode) {
    if (int error = FaultInjector::check(FaultOp::Popen, command)) {
        errno = error;
        return nullptr;
    }
    if (!HostPlatform::commandsRun()) {
        FILE* empty = std::fopen("/dev/null", mode);
        std::lock_guard<std::mutex> lock(inertMutex);
        if (empty) inertStreams.insert(empty);
        return empty;
    }
    return ::popen(command.c_str(), mode);
}

int Process::pclose(FILE* pipe) {
    {
        std::lock_guard<std::mutex> lock(inertMutex);
        if (inertStreams.erase(pipe)) return std::fclose(pipe) == 0 ? 0 : -1;
    }
    return ::pclose(pipe);
}

int Process::system(const String& command) {
    if (int error = FaultInjector::check(FaultOp::Popen, command)) {
        errno = error;
        return -1;
    }
    return std::system(command.c_str());
}

const char* Process::getenv(const String& name) {
    return std::getenv(name.c_str());
}

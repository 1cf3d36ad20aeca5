#include "platform/Process.h"

#include <cerrno>
#include <cstdlib>

#include "host/platform/FaultInjector.h"

FILE* Process::popen(const String& command, const char* mode) {
    if (int error = FaultInjector::check(FaultOp::Popen, command)) {
        errno = error;
        return nullptr;
    }
    return ::popen(command.c_str(), mode);
}

int Process::pclose(FILE* pipe) {
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

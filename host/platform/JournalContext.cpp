#include "host/platform/JournalContext.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace {

thread_local std::string threadActor;
thread_local std::uint16_t threadSender = 0;

std::atomic<unsigned> failureCount{0};
std::mutex failureMutex;
std::string failureText;

std::string userOfProcess() {
    const char* sudo = std::getenv("SUDO_USER");
    if (sudo != nullptr && *sudo != '\0') return sudo;
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[1024];
    uid_t uid = getuid();
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

}  // namespace

JournalContext::Scope::Scope(std::string actor, std::uint16_t senderBox)
    : actor_(std::move(threadActor)), senderBox_(threadSender) {
    threadActor = std::move(actor);
    threadSender = senderBox;
}

JournalContext::Scope::~Scope() {
    threadActor = std::move(actor_);
    threadSender = senderBox_;
}

std::string JournalContext::actor() {
    if (!threadActor.empty()) return threadActor;
    static const std::string process = userOfProcess();
    return process;
}

std::uint16_t JournalContext::senderBox() {
    return threadSender;
}

std::string JournalContext::program() {
    return program_invocation_short_name;
}

const std::string& JournalContext::host() {
    static const std::string name = [] {
        char text[256] = {};
        if (gethostname(text, sizeof text - 1) != 0) return std::string("localhost");
        return std::string(text);
    }();
    return name;
}

void JournalContext::noteFailure(const std::string& why) {
    std::lock_guard lock(failureMutex);
    failureText = why;
    ++failureCount;
}

unsigned JournalContext::failures() {
    return failureCount.load();
}

std::string JournalContext::lastFailure() {
    std::lock_guard lock(failureMutex);
    return failureText;
}

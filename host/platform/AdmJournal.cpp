#include "host/platform/AdmJournal.h"

#include <mutex>

namespace {

// Both live as long as the process: modules unloaded at exit still note.
std::mutex& journalMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::vector<std::string>& journal() {
    static auto* events = new std::vector<std::string>;
    return *events;
}

}  // namespace

void AdmJournal::note(const std::string& event) {
    std::lock_guard<std::mutex> lock(journalMutex());
    journal().push_back(event);
}

std::vector<std::string> AdmJournal::events() {
    std::lock_guard<std::mutex> lock(journalMutex());
    return journal();
}

void AdmJournal::clear() {
    std::lock_guard<std::mutex> lock(journalMutex());
    journal().clear();
}

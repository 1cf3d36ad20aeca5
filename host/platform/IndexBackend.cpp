#include "host/platform/IndexBackend.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "host/platform/EtcdIndexBackend.h"
#include "host/platform/LmdbIndexBackend.h"

namespace {

struct Choice {
    std::mutex mutex;
    bool made = false;
    IndexBackend* backend = nullptr;
    std::string error;
    // Every backend made, by the $VM_INDEX text that chose it: never freed,
    // since descriptors opened on one keep it after another is chosen.
    std::map<std::string, std::unique_ptr<IndexBackend>> byText;
};

Choice& choice() {
    static Choice* c = new Choice;
    return *c;
}

std::unique_ptr<IndexBackend> make(const std::string& text, std::string& error) {
    if (text.empty() || text == "lmdb") return std::make_unique<LmdbIndexBackend>();
    if (text.rfind("etcd://", 0) != 0) {
        error = "VM_INDEX is \"" + text + "\": neither \"lmdb\" nor an etcd:// URL";
        return nullptr;
    }
    EtcdIndexUrl url;
    if (!EtcdIndexUrl::parse(text, url, error)) {
        error = "VM_INDEX is \"" + text + "\": " + error;
        return nullptr;
    }
    return std::make_unique<EtcdIndexBackend>(std::move(url));
}

}  // namespace

IndexBackend* IndexBackend::current(std::string& error) {
    Choice& c = choice();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!c.made) {
        const char* value = std::getenv("VM_INDEX");
        std::string text = value ? value : "";
        auto known = c.byText.find(text);
        c.error.clear();
        c.backend = nullptr;
        if (known != c.byText.end()) {
            c.backend = known->second.get();
        } else if (std::unique_ptr<IndexBackend> backend = make(text, c.error)) {
            c.backend = backend.get();
            c.byText[text] = std::move(backend);
        }
        c.made = true;
    }
    error = c.error;
    return c.backend;
}

bool IndexBackend::unchangedSince(int, std::string_view, const Record&) {
    return false;
}

void IndexBackend::chooseAgain() {
    Choice& c = choice();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.made = false;
}

namespace {
thread_local std::string openError;
thread_local int openErrno = 0;
}  // namespace

const std::string& IndexBackend::lastOpenError(int* error) {
    if (error) *error = openErrno;
    return openError;
}

void IndexBackend::noteOpenError(std::string reason, int error) {
    openError = std::move(reason);
    openErrno = error;
}

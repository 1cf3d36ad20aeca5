#include "host/platform/JournalStore.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "host/platform/EtcdIndexUrl.h"
#include "host/platform/EtcdJournal.h"
#include "host/platform/SqliteJournal.h"

namespace {

struct JournalChoice {
    std::mutex mutex;
    bool made = false;
    JournalStore* store = nullptr;
    std::string error;
    // Every store made, by the $VM_INDEX text that chose it: kept, since a
    // thread may still be inside a call of an earlier one. The SQLite store
    // follows the platform root itself.
    std::map<std::string, std::unique_ptr<JournalStore>> byText;
};

JournalChoice& journalChoice() {
    static JournalChoice* c = new JournalChoice;
    return *c;
}

std::unique_ptr<JournalStore> makeStore(const std::string& index, std::string& error) {
    if (index.rfind("etcd://", 0) != 0) return SqliteJournal::open(error);
    EtcdIndexUrl url;
    if (!EtcdIndexUrl::parse(index, url, error)) {
        error = "VM_INDEX is \"" + index + "\": " + error;
        return nullptr;
    }
    return EtcdJournal::open(url, error);
}

}  // namespace

JournalStore::~JournalStore() = default;

bool JournalStore::disabled() {
    const char* value = std::getenv("VM_JOURNAL");
    return value != nullptr && std::strcmp(value, "off") == 0;
}

JournalStore* JournalStore::current(std::string& error) {
    if (disabled()) {
        error.clear();
        return nullptr;
    }
    JournalChoice& c = journalChoice();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!c.made) {
        const char* value = std::getenv("VM_INDEX");
        std::string index = value ? value : "";
        std::string text = index.rfind("etcd://", 0) == 0 ? index : std::string();
        auto known = c.byText.find(text);
        c.error.clear();
        c.store = nullptr;
        if (known != c.byText.end()) {
            c.store = known->second.get();
        } else if (std::unique_ptr<JournalStore> store = makeStore(index, c.error)) {
            c.store = store.get();
            c.byText[text] = std::move(store);
        }
        // A store that could not be opened is tried again at the next call.
        c.made = c.store != nullptr;
    }
    error = c.error;
    return c.store;
}

void JournalStore::chooseAgain() {
    JournalChoice& c = journalChoice();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.made = false;
}

int JournalStore::keepDays() {
    const char* value = std::getenv("VM_JOURNAL_KEEP_DAYS");
    if (value == nullptr || *value == '\0') return 365;
    char* end = nullptr;
    long days = std::strtol(value, &end, 10);
    return *end == '\0' && days > 0 && days <= 100000 ? static_cast<int>(days) : 365;
}

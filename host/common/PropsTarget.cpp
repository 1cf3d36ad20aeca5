#include "host/common/PropsTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sstream>

#include "host/common/RecordNumbers.h"
#include "host/platform/IndexBackend.h"
#include "platform/BTreeIndex.h"
#include "platform/ChangeJournal.h"
#include "platform/FileSystem.h"
#include "properties/BTreeProperties.h"
#include "properties/COSProperties.h"
#include "properties/FileProperties.h"
#include "properties/MessageProperties.h"
#include "properties/SubscriberProperties.h"
#include "properties/SystemProperties.h"

namespace {

// A set's key holds at most this many bytes of a path; a longer one would
// name another file.
constexpr std::size_t kMaxKeyPath = sizeof(Properties::PropertiesID::bytes) - 1;
constexpr unsigned long kMaxCos = RecordNumbers::maxCos;
constexpr long kMaxSubscriber = RecordNumbers::maxSubscriber;

// The option a word meant when it names a set the way history and messages
// do ("cos:3", "subscriber=12", "system"), else empty: such a word given as
// FILE would otherwise read or make a file of that name at the root.
String optionMeant(const String& word) {
    if (word == "system") return "--system";
    for (const char* kind : {"cos", "subscriber"}) {
        const std::size_t length = std::strlen(kind);
        if (word.size() > length + 1 && word.compare(0, length, kind) == 0 &&
            (word[length] == ':' || word[length] == '=') &&
            word.find_first_not_of("0123456789", length + 1) == String::npos)
            return "--" + String(kind) + " " + word.substr(length + 1);
    }
    return String();
}

}  // namespace

void PropsTarget::addOptions(CLI::App* command) {
    command->add_flag("--system", system_, "The system property set");
    command->add_option("--message", message_, "A message's property file (platform path)");
    command->add_option("--cos", cos_, "Class of service N")->check(CLI::Range(0UL, kMaxCos));
    command->add_option("--subscriber", subscriber_, "Subscriber N")
        ->check(CLI::Range(0L, kMaxSubscriber));
}

bool PropsTarget::choose(std::vector<String>& words, std::size_t own, std::ostream& err) {
    if (words.size() == own + 1) {
        file_ = words.front();
        words.erase(words.begin());
    }
    int given = file_.has_value() + system_ + message_.has_value() + cos_.has_value() +
                subscriber_.has_value();
    if (given != 1) {
        err << "vmcfg: name one set: FILE, --system, --message PATH, --cos N or --subscriber N"
            << std::endl;
        return false;
    }
    const std::optional<String>& path = file_ ? file_ : message_;
    if (path && (path->empty() || path->size() > kMaxKeyPath)) {
        err << "vmcfg: a property file path must have 1 to " << kMaxKeyPath << " bytes"
            << std::endl;
        return false;
    }
    if (String meant = file_ ? optionMeant(*file_) : String();
        !meant.empty() && !FileSystem::exists(Path(*file_))) {
        err << "vmcfg: there is no file '" << *file_ << "'; for that set, give " << meant
            << std::endl;
        return false;
    }
    return true;
}

bool PropsTarget::choose(Kind kind, const String& argument, String& error) {
    *this = PropsTarget();
    if (kind == FILE || kind == MESSAGE) {
        if (argument.empty() || argument.size() > kMaxKeyPath) {
            error = "a property file path must have 1 to " + std::to_string(kMaxKeyPath) + " bytes";
            return false;
        }
        // A path from a query may hold any byte; the file calls would stop at
        // a NUL and act on another file than the one named.
        if (argument.find('\0') != String::npos) {
            error = "a property file path holds no NUL byte";
            return false;
        }
        (kind == FILE ? file_ : message_) = argument;
        return true;
    }
    if (kind == SYSTEM) return system_ = true;
    if (kind != COS && kind != SUBSCRIBER) {
        error = "name one set: file, system, message, cos or subscriber";
        return false;
    }
    unsigned long maximum = kind == COS ? kMaxCos : static_cast<unsigned long>(kMaxSubscriber);
    errno = 0;
    char* end = nullptr;
    unsigned long number = std::strtoul(argument.c_str(), &end, 10);
    if (argument.empty() || argument[0] == '-' || *end != '\0' || errno == ERANGE ||
        number > maximum) {
        error = String(kind == COS ? "a class of service" : "a subscriber") +
                " is a number from 0 to " + std::to_string(maximum);
        return false;
    }
    if (kind == COS)
        cos_ = number;
    else
        subscriber_ = static_cast<long>(number);
    return true;
}

PropsTarget::Kind PropsTarget::kind() const {
    if (file_) return FILE;
    if (system_) return SYSTEM;
    if (message_) return MESSAGE;
    if (cos_) return COS;
    if (subscriber_) return SUBSCRIBER;
    return NONE;
}

bool PropsTarget::fileBacked() const {
    Kind k = kind();
    return k == FILE || k == SYSTEM || k == MESSAGE;
}

Path PropsTarget::filePath() const {
    if (file_) return Path(*file_);
    if (message_) return Path(*message_);
    return SystemProperties::filePath;
}

String PropsTarget::describe() const {
    switch (kind()) {
        case FILE:
            return *file_;
        case SYSTEM:
            return "the system set " + SystemProperties::filePath.text();
        case MESSAGE:
            return "message properties " + *message_;
        case COS:
            return "class of service " + std::to_string(*cos_);
        case SUBSCRIBER:
            return "subscriber " + std::to_string(*subscriber_);
        default:
            return "no set";
    }
}

Path PropsTarget::lockPath() const {
    String key = cos_ ? COSProperties::factoryName.text() + "-" + std::to_string(*cos_)
                      : SubscriberProperties::factoryName.text() + "-" +
                            std::to_string(subscriber_.value_or(0));
    return Path("/vm/run/props-" + key + ".lock");
}

String PropsTarget::journalKind() const {
    switch (kind()) {
        case SYSTEM:
            return SystemProperties::factoryName.text();
        case MESSAGE:
            return MessageProperties::factoryName.text();
        case COS:
            return COSProperties::factoryName.text();
        case SUBSCRIBER:
            return SubscriberProperties::factoryName.text();
        default:
            return String();
    }
}

String PropsTarget::journalQueryKind() const {
    return fileBacked() ? String() : journalKind();
}

String PropsTarget::journalKey() const {
    if (cos_) return std::to_string(*cos_);
    if (subscriber_) return std::to_string(*subscriber_);
    return filePath().text();
}

bool PropsTarget::chooseJournaled(const String& kind, const String& key, String& error) {
    static const std::pair<const Symbol*, Kind> kinds[] = {
        {&SystemProperties::factoryName, SYSTEM},
        {&MessageProperties::factoryName, MESSAGE},
        {&COSProperties::factoryName, COS},
        {&SubscriberProperties::factoryName, SUBSCRIBER}};
    for (auto [name, chosen] : kinds)
        if (kind == name->text()) return choose(chosen, key, error);
    if (kind == "FileProperties") return choose(FILE, key, error);
    error = "a record of kind '" + kind + "' names no property set";
    return false;
}

namespace {

// The whole stored form of a file set: what its saves digest.
std::uint64_t fileDigest(const Path& path) {
    int fd = FileSystem::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::string bytes;
    char buffer[65536];
    ssize_t n;
    while ((n = FileSystem::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(n));
    FileSystem::close(fd);
    return journal_digest(bytes.data(), bytes.size());
}

}  // namespace

int PropsTarget::settleJournal() const {
    if (!journal_enabled()) return 0;
    std::uint64_t now = 0;
    String kindName = journalKind();
    if (fileBacked()) {
        now = fileDigest(filePath());
        if (kindName.empty()) kindName = "FileProperties";
    } else {
        std::ostringstream ignored;
        int status = 0;
        std::unique_ptr<Properties> set = openRecord(ignored, status);
        if (!set) return EIO;
        auto& record = static_cast<BTreeProperties&>(*set);
        unsigned long length = 0;
        char* data = nullptr;
        int rc = record.getBTreeData(record.key(), length, data);
        if (rc == BTREE_OK)
            now = journal_digest(data, length);
        else if (rc != BTREE_NO_RECORD)
            return EIO;
    }
    return journal_settle(kindName, journalKey(), now, false);
}

std::unique_ptr<Properties> PropsTarget::open(bool mayBeMissing, std::ostream& err,
                                              int& status) const {
    return fileBacked() ? openFile(mayBeMissing, err, status) : openRecord(err, status);
}

std::unique_ptr<Properties> PropsTarget::openFile(bool mayBeMissing, std::ostream& err,
                                                  int& status) const {
    Path path = filePath();
    // FileProperties reads a file it cannot open as an empty set; an
    // administrator asking about that file wants to hear why instead.
    struct stat info;
    bool present = FileSystem::stat(path, &info) == 0;
    errno = present ? 0 : ENOENT;
    if (present && !S_ISREG(info.st_mode)) {
        err << "vmcfg: can't read " << describe() << ": not a regular file" << std::endl;
        status = 2;
        return nullptr;
    }
    if ((!present && !mayBeMissing && kind() != SYSTEM) ||
        (present && FileSystem::access(path, R_OK) != 0)) {
        err << "vmcfg: can't read " << describe() << ": " << std::strerror(errno) << std::endl;
        status = 2;
        return nullptr;
    }
    std::unique_ptr<Properties> set;
    if (kind() == SYSTEM)
        set = std::make_unique<SystemProperties>();
    else if (kind() == MESSAGE)
        set.reset(Properties::factory(MessageProperties::factoryName,
                                      Properties::PropertiesID(path.text())));
    else
        set = std::make_unique<FileProperties>(path);
    if (set->getError() == Properties::NO_ERROR) return set;
    err << "vmcfg: can't read " << describe() << ": " << Properties::error_name(set->getError())
        << std::endl;
    status = 1;
    return nullptr;
}

std::unique_ptr<Properties> PropsTarget::openRecord(std::ostream& err, int& status) const {
    bool read;
    std::unique_ptr<Properties> set;
    Path index;
    if (cos_) {
        auto cos = std::make_unique<COSProperties>();
        read = cos->reinitialize(*cos_, false);
        set = std::move(cos);
        index = COSProperties::indexPath;
    } else {
        auto subscriber = std::make_unique<SubscriberProperties>();
        read = subscriber->reinitialize(*subscriber_, false);
        set = std::move(subscriber);
        index = SubscriberProperties::indexPath;
    }
    if (read) return set;
    status = 1;
    if (set->getError() == Properties::CANT_OPEN) {
        // errno is long gone by now: the index service kept the reason.
        int error = 0;
        std::string reason = IndexBackend::lastOpenError(&error);
        err << "vmcfg: can't open the index " << index << ": "
            << (reason.empty() ? "unknown failure" : reason)
            << (error == ENOENT ? " (has 'vmcfg init' been run?)" : "") << std::endl;
    } else
        err << "vmcfg: can't read " << describe() << " from " << index << ": "
            << Properties::error_name(set->getError()) << std::endl;
    return nullptr;
}

std::optional<PropertyAttributes> PropsTarget::knownAttributes(Properties& set,
                                                               const Symbol& name) {
    Properties* knowns = set.getKnown().knowns;
    Property known;
    known.name = name;
    if (knowns == nullptr ||
        knowns->get_next(known, PropertyAttributes::Server, true) != Properties::NEXT_OK)
        return std::nullopt;
    return known.attributes;
}

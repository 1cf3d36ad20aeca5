#include "host/common/EditCycle.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <random>
#include <thread>

#include "host/common/EditLock.h"
#include "host/common/PropsTarget.h"
#include "host/common/RemoteSaveWatch.h"
#include "platform/FileSystem.h"
#include "properties/FileProperties.h"

namespace {

// Writers that keep colliding step apart: a random wait that grows with the
// number of collisions, up to about 20 ms.
void backOff(int attempt) {
    static std::minstd_rand random{std::random_device{}()};
    unsigned long limit = 1000UL * static_cast<unsigned long>(std::min(attempt, 20));
    std::uniform_int_distribution<unsigned long> microseconds(0, limit);
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds(random)));
}

}  // namespace

EditCycle::EditCycle(const PropsTarget& target, bool mayBeMissing)
    : target_(target), mayBeMissing_(mayBeMissing) {}

void EditCycle::setDryRun(bool dryRun) {
    dryRun_ = dryRun;
}

int EditCycle::run(const Change& change, std::ostream& err) const {
    if (dryRun_) {
        int status = 0;
        std::unique_ptr<Properties> set = target_.open(mayBeMissing_, err, status);
        return set ? change(*set) : status;
    }
    return target_.fileBacked() ? runOnFile(change, err) : runOnRecord(change, err);
}

int EditCycle::runOnFile(const Change& change, std::ostream& err) const {
    // A set that may be missing may be new, and so may its directory.
    if (mayBeMissing_) {
        String path = target_.filePath().text();
        std::size_t slash = path.rfind('/');
        if (slash != String::npos && slash > 0) FileSystem::makeDirectories(path.substr(0, slash));
    }
    for (int attempt = 1; attempt <= maxTries; ++attempt) {
        int status = 0;
        std::unique_ptr<Properties> set = target_.open(mayBeMissing_, err, status);
        if (!set) return status;
        if ((status = change(*set)) != 0) return status;
        switch (static_cast<FileProperties&>(*set).saveIfUnchanged()) {
            case FileProperties::SAVED:
                return 0;
            case FileProperties::FAILED:
                reportFailure(*set, errno, nullptr, err);
                return 1;
            case FileProperties::STALE:
                backOff(attempt);
        }
    }
    err << "vmcfg: " << target_.describe() << " kept changing under " << maxTries
        << " tries; nothing saved" << std::endl;
    return 1;
}

int EditCycle::runOnRecord(const Change& change, std::ostream& err) const {
    EditLock lock(target_.lockPath());
    if (!lock.held()) {
        err << "vmcfg: can't lock " << target_.lockPath() << ": " << std::strerror(lock.error())
            << std::endl;
        return 1;
    }
    // The lock orders vmcfg's edits; another owner process (vmpropd) may
    // still write between the read and the save. The owner's write is fenced,
    // so that shows as ESTALE: read again and reapply.
    for (int attempt = 1; attempt <= maxTries; ++attempt) {
        int status = 0;
        std::unique_ptr<Properties> set = target_.open(mayBeMissing_, err, status);
        if (!set) return status;
        if ((status = change(*set)) != 0) return status;
        RemoteSaveWatch watch;
        errno = 0;
        if (set->save()) return 0;
        int error = errno;
        if (error != ESTALE) {
            reportFailure(*set, error, &watch, err);
            return 1;
        }
        backOff(attempt);
    }
    err << "vmcfg: " << target_.describe() << " kept changing under " << maxTries
        << " tries; nothing saved" << std::endl;
    return 1;
}

void EditCycle::reportFailure(Properties& set, int error, const RemoteSaveWatch* watch,
                              std::ostream& err) const {
    err << "vmcfg: can't save " << target_.describe() << ": ";
    std::uint16_t owner = set.getKnown().pbox;
    std::optional<int> result = watch ? watch->result() : std::nullopt;
    if (result && RemoteSaveWatch::isMessagingStatus(*result)) {
        err << RemoteSaveWatch::describeStatus(*result, owner) << std::endl;
        return;
    }
    errno = error;  // error_name reads it
    String reason = Properties::error_name(set.getError());
    if (result)
        err << "owner box " << owner << " refused the update (result " << *result << ", " << reason
            << ")";
    else
        err << reason;
    if (watch && !result && !watch->lastProblem().empty()) err << " - " << watch->lastProblem();
    err << std::endl;
}

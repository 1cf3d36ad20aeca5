#include "host/vmpropd/PropertyOwner.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>

#include "host/platform/RunTokenHolder.h"
#include "host/vmpropd/HandoffFile.h"
#include "platform/BTreeIndex.h"
#include "platform/FileSystem.h"
#include "platform/Trace.h"
#include "properties/BTreeProperties.h"
#include "properties/FileProperties.h"

namespace {

// Peer text made safe for a one-line log entry.
String printable(const String& text) {
    String shown = text.substr(0, 200);
    for (char& c : shown)
        if (!std::isprint(static_cast<unsigned char>(c))) c = '?';
    return shown;
}

// What the update is about, for the log: the kind and its key.
String describe(const UpdateRequest& request) {
    std::uint32_t number;
    std::memcpy(&number, request.key.bytes, sizeof number);
    String path = request.key.text();
    return printable(request.factoryName) + " key '" + printable(path) + "' (#" +
           std::to_string(number) + ")";
}

UpdateReply refuse(const String& what, const String& why, int errorNo) {
    MC_std_trace() << "vmpropd: refused " << what << ": " << why << " (" << std::strerror(errorNo)
                   << ")" << oops;
    return UpdateReply::refused(Properties::OS_SYSTEM_ERROR, errorNo);
}

// A file kind's key is a platform path placed under the root: only an
// absolute path without ".." stays there.
bool staysUnderRoot(const Path& path) {
    const String& text = path.text();
    if (text.empty() || text[0] != '/') return false;
    std::istringstream parts(text);
    for (String part; std::getline(parts, part, '/');)
        if (part == "..") return false;
    return true;
}

// A file kind opens its key's path as soon as the set is made, and a FIFO
// there would block that open (under the run token) until someone writes to
// it. So the key is checked before: an absolute path without "..", naming
// nothing or a regular file. Returns 0 or the errno of the refusal.
int fileKeyError(const Symbol& kind, const Properties::PropertiesID& key) {
    // Only a set of the kind tells whether it is a file kind; an empty key
    // names no file.
    std::unique_ptr<Properties> probe(Properties::factory(kind, Properties::PropertiesID()));
    if (dynamic_cast<FileProperties*>(probe.get()) == nullptr) return 0;
    Path path(key.text());
    if (!staysUnderRoot(path)) return EINVAL;
    struct stat info;
    if (FileSystem::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) return EINVAL;
    return 0;
}

// The stamp the sender keeps: the record's counter, or the file's time.
Properties::PropertiesStatus newStatus(const Properties& set) {
    if (auto* btree = dynamic_cast<const BTreeProperties*>(&set)) {
        BTreeProperties::BTreeDataPrefix prefix;
        // No record: the emptied set was deleted.
        return btree->getBTreeDataPrefix(btree->key(), prefix) == BTREE_OK ? prefix.counter : 0;
    }
    if (auto* file = dynamic_cast<const FileProperties*>(&set)) {
        struct stat info;
        // No file: the emptied set was removed.
        if (FileSystem::stat(file->path(), &info) != 0) return 0;
        return static_cast<Properties::PropertiesStatus>(info.st_mtime);
    }
    return set.getStatus();
}

}  // namespace

std::optional<String> PropertyOwner::handle(int opcode, const String& body) {
    UpdateRequest request;
    switch (UpdateRequest::parse(opcode, body, request)) {
        case UpdateRequest::Check::badFrame:
            MC_std_trace() << "vmpropd: dropped a request with opcode " << opcode << " and "
                           << body.size() << " body bytes" << oops;
            return std::nullopt;
        case UpdateRequest::Check::badField:
            return refuse("a request", "a field is not NUL-terminated", EINVAL).body();
        case UpdateRequest::Check::ok:
            break;
    }
    String stream;
    if (int error = HandoffFile::read(request.handoffPath, stream); error != 0)
        return refuse(describe(request), "hand-off file '" + printable(request.handoffPath) + "'",
                      error)
            .body();
    RunTokenHolder token;
    return apply(request, stream).body();
}

UpdateReply PropertyOwner::apply(const UpdateRequest& request, const String& stream) {
    String what = describe(request);
    // Checked before the name becomes a Symbol: Symbols are never freed.
    if (!Properties::registered(request.factoryName)) return refuse(what, "no such kind", ENOENT);
    Symbol kind(request.factoryName);
    if (int error = fileKeyError(kind, request.key); error != 0)
        return refuse(what, "a file key must name a regular file under the root", error);
    std::unique_ptr<Properties> set(Properties::factory(kind, request.key));
    if (!set) return refuse(what, "no such kind", ENOENT);
    return store(*set, stream, what);
}

UpdateReply PropertyOwner::store(Properties& set, const String& stream, const String& what) {
    set.empty();
    std::istringstream in(stream);
    errno = 0;
    bool done = set.obtain(in, true);
    if (done) {
        errno = 0;
        done = set.saveThem();
    }
    int error = errno;
    if (!done) {
        Properties::PropertiesError code = set.getError();
        // A store that failed without naming why still must not read as applied.
        if (code == Properties::NO_ERROR) {
            code = Properties::OS_SYSTEM_ERROR;
            if (error == 0) error = EIO;
        }
        errno = error;  // error_name shows it
        MC_std_trace() << "vmpropd: refused " << what << ": " << Properties::error_name(code)
                       << " errno " << error << oops;
        return UpdateReply::refused(code, error);
    }
    Properties::PropertiesStatus status = newStatus(set);
    MC_std_trace() << "vmpropd: applied " << what << ", " << set.count() << " properties, status "
                   << status << trace;
    return UpdateReply::applied(status);
}

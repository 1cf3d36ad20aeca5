#include "host/vmpropd/PropertyOwner.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>

#include "host/platform/HostPlatform.h"
#include "host/platform/JournalContext.h"
#include "host/platform/MsgServer.h"
#include "host/platform/RunTokenHolder.h"
#include "host/vmpropd/HandoffFile.h"
#include "platform/BTreeIndex.h"
#include "platform/Path.h"
#include "platform/Trace.h"
#include "properties/BTreeProperties.h"

namespace {

// Overtaken writes of one hand-off made again before it is refused: as many
// as vmcfg's edits get. A journaled save on etcd spends a round trip between
// its read and its write, so an owner that keeps writing overtakes most
// tries.
constexpr int kStaleRetries = 100;

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

// The stamp the sender keeps: the record's counter.
Properties::PropertiesStatus newStatus(const Properties& set) {
    if (auto* btree = dynamic_cast<const BTreeProperties*>(&set)) {
        BTreeProperties::BTreeDataPrefix prefix;
        // No record: the emptied set was deleted.
        return btree->getBTreeDataPrefix(btree->key(), prefix) == BTREE_OK ? prefix.counter : 0;
    }
    return set.getStatus();
}

}  // namespace

std::optional<String> PropertyOwner::handle(int opcode, const String& body) {
    UpdateRequest request;
    UpdateRequest::Check check = UpdateRequest::parse(opcode, body, request);
    if (check != UpdateRequest::Check::ok) return rejected(check, opcode, body.size());
    return applyFile(request);
}

std::optional<String> PropertyOwner::handleCarried(int opcode, const String& body) {
    UpdateRequest request;
    UpdateRequest::Check check = UpdateRequest::Check::badFrame;
    if (body.size() >= UpdateRequest::bodyLength)
        check = UpdateRequest::parse(opcode, body.substr(0, UpdateRequest::bodyLength), request);
    if (check != UpdateRequest::Check::ok) return rejected(check, opcode, body.size());
    // Whatever the request names is a file on the sender's host: only the
    // bytes it carries are used.
    const std::vector<String>& named = kinds_.handedOff();
    if (std::find(named.begin(), named.end(), request.factoryName) == named.end()) {
        RunTokenHolder token;  // refused for its kind before the stream is looked at
        return apply(request, String()).body();
    }
    String path;
    std::string_view carried = std::string_view(body).substr(UpdateRequest::bodyLength);
    if (int error = HandoffFile::store(carried, request.factoryName, path); error != 0)
        return refuse(describe(request), "cannot keep the carried hand-off", error).body();
    request.handoffPath = path;
    std::optional<String> reply = applyFile(request);
    ::unlink(HostPlatform::hostPath(Path(path)).c_str());
    return reply;
}

std::optional<String> PropertyOwner::rejected(UpdateRequest::Check check, int opcode,
                                              std::size_t length) {
    if (check == UpdateRequest::Check::badField)
        return refuse("a request", "a field is not NUL-terminated", EINVAL).body();
    MC_std_trace() << "vmpropd: dropped a request with opcode " << opcode << " and " << length
                   << " body bytes" << oops;
    return std::nullopt;
}

std::optional<String> PropertyOwner::applyFile(const UpdateRequest& request) {
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
    if (int error = kinds_.refusal(request.factoryName, request.key); error != 0)
        return refuse(what, error == EPERM ? "not a kind this box stores" : "no such record",
                      error);
    std::unique_ptr<Properties> set(Properties::factory(Symbol(request.factoryName), request.key));
    if (!set) return refuse(what, "no such kind", ENOENT);
    // The journal names the box the save came from (from the messaging, not
    // the request's bytes) and the user the sender made it for; a sender
    // that says no user leaves this daemon's.
    const std::string& actor = MsgServer::requestActor();
    JournalContext::Scope scope(actor.empty() ? JournalContext::actor() : actor,
                                MsgServer::requestSender());
    return store(*set, stream, what);
}

UpdateReply PropertyOwner::store(Properties& set, const String& stream, const String& what) {
    set.empty();
    std::istringstream in(stream);
    errno = 0;
    bool done = set.obtain(in, true);
    // A hand-off replaces the whole set, so a write overtaken by another
    // owner process (ESTALE) is simply made again on the newer counter:
    // there is nothing to reapply, and every holder of a copy still sees the
    // counter move.
    for (int attempt = 1; done; ++attempt) {
        errno = 0;
        done = set.saveThem();
        if (done || errno != ESTALE || attempt == kStaleRetries) break;
        done = true;
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

#pragma once

#include <cstddef>
#include <optional>

#include "host/common/OwnedKinds.h"
#include "host/vmpropd/UpdateReply.h"
#include "host/vmpropd/UpdateRequest.h"
#include "platform/String.h"

class Properties;

// Applies remote property updates on the box that owns the kinds: the
// handler vmpropd gives its MsgServer. For each request it checks the frame
// and the fields, reads the hand-off file (HandoffFile), checks that the kind
// and key are ones this box stores (OwnedKinds), makes a set of the kind for
// the key, replaces its contents with the file's stream and writes it to its
// store as the owner; the reply carries the record's new counter. The
// owner's write is fenced on the counter it read; when another owner process
// wrote in between (ESTALE), the same replacement is written again on the
// newer record, up to 100 times, then refused with ESTALE.
//
// Failure behaviour: a frame that is not an update request (other opcode or
// body length) gets no reply (handle returns std::nullopt, the connection is
// closed). Everything else gets a reply; refusals before anything is stored
// carry OS_SYSTEM_ERROR and an errno (EINVAL bad field; ENOENT unknown kind;
// the OwnedKinds errnos for a kind or key this box does not store; the
// HandoffFile errnos for the hand-off path). A stream that does not read, or
// a store that fails, carries the set's own error and errno, and a stream
// that does not read writes nothing. Every refusal is traced at level 1,
// every applied update at level 2.
//
// Thread-safe: reading the hand-off file runs without the run token, all
// module calls under it (taken per request; blocks while another thread
// holds it). Keeps a reference to the kinds, which must outlive it; owns
// nothing between requests.
class PropertyOwner {
  public:
    explicit PropertyOwner(const OwnedKinds& kinds) : kinds_(kinds) {}

    // A request from this host: the hand-off file it names is read.
    std::optional<String> handle(int opcode, const String& body);
    // A request from another host: the hand-off's bytes follow the 3080-byte
    // body. They are written to this host's "/vm/tmp" (HandoffFile::store),
    // applied from there exactly as a local hand-off, and removed; the path
    // in the request is never opened. Same replies as handle(), plus an
    // OS_SYSTEM_ERROR refusal with the errno when the bytes cannot be kept.
    std::optional<String> handleCarried(int opcode, const String& body);

  private:
    // The answer to a request that did not parse: none for a bad frame.
    std::optional<String> rejected(UpdateRequest::Check check, int opcode, std::size_t length);
    // Reads the named hand-off file and applies it.
    std::optional<String> applyFile(const UpdateRequest& request);
    // Under the run token.
    UpdateReply apply(const UpdateRequest& request, const String& stream);
    UpdateReply store(Properties& set, const String& stream, const String& what);

    const OwnedKinds& kinds_;
};

#include "message/RemoteUpdate.h"

#include <cstring>

#include "platform/Identity.h"
#include "platform/OrvexCallback.h"
#include "platform/OrvexMsgClient.h"
#include "platform/Ptick.h"

namespace {

constexpr int kClientStatusWord = 1114;
constexpr int kUpdateOpcode = 39169;
constexpr int kReplyType = 3;
constexpr int kRequestLength = sizeof(Rsc_id) + sizeof(PropertiesObjectInput);
static_assert(kRequestLength == 3080);
// Result, status, error code and errno.
constexpr int kReplyLength = 16;

std::uint32_t wordAt(const char* body, std::size_t offset) {
    std::uint32_t word;
    std::memcpy(&word, body + offset, sizeof word);
    return word;
}

}  // namespace

Usagemark updatePropertiesMark(false, kRequestLength, kUpdateOpcode, "access: updateProperties");

int updateProperties(Rsc_id owner, const PropertiesObjectInput* input,
                     PropertiesObjectOutput* output) {
    OrvexMsgClient client(nullptr, kClientStatusWord);
    if (!client.allocate()) return kClientStatusWord;
    client.opcode(kUpdateOpcode);
    std::uint32_t* to = client.to();
    to[1] = owner.box;
    to[2] = owner.rsc;
    // The addressed id's spare word names the sending box, so that the owner
    // can say in its change journal which box a save came from (0: unknown,
    // as older senders leave it).
    Rsc_id addressed = owner;
    Rsc_id self;
    if (who_am_i(&self) == 0) addressed.pad = self.box;
    std::memcpy(client.body(), &addressed, sizeof addressed);
    std::memcpy(client.body() + sizeof owner, input, sizeof *input);
    client.length(kRequestLength);

    bool timed = updatePropertiesMark.id >= 0;
    std::int64_t start = timed ? get_ptick() : 0;
    int result = static_cast<int>(client.access_with_reply(-1, kReplyType).status);
    // A short reply would be read from bytes the owner never sent.
    if (result == 0 && client.length() < kReplyLength) result = MSG_SHORT_REPLY;
    if (result == 0) {
        if (OrvexCallback::instance().perf() && timed) updatePropertiesMark.perf(start);
        const char* reply = client.body();
        output->status = wordAt(reply, 4);
        output->error_code = wordAt(reply, 8);
        output->error_no = wordAt(reply, 12);
        result = static_cast<int>(wordAt(reply, 0));
    }
    client.release();
    return result;
}

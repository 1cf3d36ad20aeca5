#include "host/vmpropd/UpdateRequest.h"

#include <cstring>

namespace {

// The text of a NUL-padded field, or false when no NUL ends it.
bool fieldText(const char* field, String& text) {
    const void* end = std::memchr(field, '\0', PropertiesObjectInput::fieldSize);
    if (end == nullptr) return false;
    text.assign(field, static_cast<const char*>(end) - field);
    return true;
}

}  // namespace

UpdateRequest::Check UpdateRequest::parse(int opcode, const String& body, UpdateRequest& request) {
    if (opcode != UpdateRequest::opcode || body.size() != bodyLength) return Check::badFrame;
    PropertiesObjectInput input;
    std::memcpy(&input, body.data() + sizeof(Rsc_id), sizeof input);
    String keyText, path, name;
    if (!fieldText(input.key, keyText) || !fieldText(input.tmp_path, path) ||
        !fieldText(input.factory_name, name))
        return Check::badField;
    Rsc_id addressed;
    std::memcpy(&addressed, body.data(), sizeof addressed);
    request.senderBox = addressed.pad;
    std::memcpy(request.key.bytes, input.key, sizeof request.key.bytes);
    request.handoffPath = std::move(path);
    request.factoryName = std::move(name);
    return Check::ok;
}

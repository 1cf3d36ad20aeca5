#include "host/vmpropd/UpdateReply.h"

#include <cstring>

UpdateReply UpdateReply::applied(Properties::PropertiesStatus status) {
    UpdateReply reply;
    reply.status = status;
    return reply;
}

UpdateReply UpdateReply::refused(Properties::PropertiesError error, int errorNo) {
    UpdateReply reply;
    reply.result = 1;
    reply.errorCode = static_cast<std::uint32_t>(error);
    reply.errorNo = static_cast<std::uint32_t>(errorNo);
    return reply;
}

String UpdateReply::body() const {
    const std::uint32_t words[4] = {result, status, errorCode, errorNo};
    return String(reinterpret_cast<const char*>(words), sizeof words);
}

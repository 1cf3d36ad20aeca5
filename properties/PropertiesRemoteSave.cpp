// Handing a set to the processor box that owns its kind.

#include <cerrno>
#include <cstring>

#include "message/RemoteUpdate.h"
#include "platform/FileStream.h"
#include "platform/FileSystem.h"
#include "platform/Trace.h"
#include "properties/Properties.h"

namespace {

const Path kTemporaryDirectory = "/vm/tmp";

// Copies text into a NUL-padded field, keeping at least one NUL at its end.
void fill(char* field, std::size_t size, const String& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

}  // namespace

bool Properties::writeHandOff(const Path& temporary) {
    FileStream out(temporary, std::ios::out | std::ios::trunc);
    if (!out.is_open()) {
        int code = errno;
        MC_std_trace() << "Properties::save() - can't create stream from tmpfile: '" << temporary
                       << "'" << oops;
        error_ = OS_SYSTEM_ERROR;
        errno = code;
        return false;
    }
    out << *this;
    bool written = !out.fail();
    written = out.close() && written;
    if (error_ != NO_ERROR) {
        int code = errno;
        MC_std_trace() << "Properties::save() - failed write to tmpFile w/" << error_name(error_)
                       << oops;
        errno = code;
        return false;
    }
    // A short hand-off file would make the owner store a truncated set.
    if (!written) {
        int code = errno;
        MC_std_trace() << "Properties::save() - failed write to tmpFile '" << temporary
                       << "', errno=" << code << " (" << std::strerror(code) << ")" << oops;
        error_ = OS_SYSTEM_ERROR;
        errno = code;
        return false;
    }
    return true;
}

bool Properties::saveRemote(std::uint16_t owner) {
    String factoryName = myFactoryName().text();
    Path temporary = FileSystem::uniqueTempPath(kTemporaryDirectory, "", factoryName);
    if (!writeHandOff(temporary)) {
        int code = errno;
        FileSystem::unlink(temporary);
        errno = code;
        return false;
    }

    PropertiesObjectInput request;
    PropertiesID key = myKey();
    std::memcpy(request.key, key.bytes, sizeof request.key);
    fill(request.tmp_path, sizeof request.tmp_path, temporary.text());
    fill(request.factory_name, sizeof request.factory_name, factoryName);
    // A messaging failure leaves the reply untouched: it then reads as a
    // system error of an unreachable owner.
    PropertiesObjectOutput reply{};
    reply.error_code = OS_SYSTEM_ERROR;
    reply.error_no = EHOSTUNREACH;
    Rsc_id ownerResource;
    ownerResource.box = owner;
    ownerResource.rsc = 1;
    int result = updateProperties(ownerResource, &request, &reply);
    FileSystem::unlink(temporary);

    if (result != 0) {
        error_ = static_cast<PropertiesError>(reply.error_code);
        int code = static_cast<int>(reply.error_no);
        if (error_ == OS_SYSTEM_ERROR) errno = code;
        MC_std_trace() << "Properties::save() - update by box " << owner << " failed, result "
                       << result << ", " << error_name(error_) << oops;
        // Writing the trace may have made system calls of its own.
        if (error_ == OS_SYSTEM_ERROR) errno = code;
        return false;
    }
    putStatus(reply.status);
    bool saved = saveThem();
    modified_ = !saved;
    return saved;
}

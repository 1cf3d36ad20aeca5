#include "host/platform/HandoffCarrier.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/platform/HostPlatform.h"
#include "platform/Path.h"

namespace {

constexpr std::size_t kPathOffset = 8 + 1024;
constexpr std::size_t kFieldSize = 1024;

int readAll(int fd, off_t size, String& bytes) {
    bytes.assign(static_cast<std::size_t>(size), '\0');
    std::size_t have = 0;
    while (have < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;  // shrank meanwhile: what is there is what the sender wrote
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return 0;
}

}  // namespace

bool HandoffCarrier::carries(int opcode, std::size_t length) {
    return opcode == updateOpcode && length == updateLength;
}

int HandoffCarrier::read(const char* body, String& bytes) {
    const char* field = body + kPathOffset;
    const void* end = std::memchr(field, '\0', kFieldSize);
    if (end == nullptr || end == field) return EINVAL;
    String platformPath(field, static_cast<const char*>(end) - field);
    String hostPath = HostPlatform::hostPath(Path(platformPath));
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat info;
    int error = ::fstat(fd, &info) != 0  ? errno
                : !S_ISREG(info.st_mode) ? EINVAL
                : info.st_size > maxSize ? EFBIG
                                         : readAll(fd, info.st_size, bytes);
    ::close(fd);
    return error;
}

#include "host/vmadmd/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

String reason(const String& what, const String& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

bool PrivateFile::read(const String& path, const char* what, std::size_t limit, String& text,
                       bool& exists, String& error) {
    text.clear();
    exists = false;
    // Without O_NONBLOCK, opening a FIFO waits for a writer and a device may
    // act on the open: the kind is checked before anything is read.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        error = errno == ELOOP ? String(what) + " " + path + " must be a regular file, not a link"
                               : reason(String("can't open ") + what, path);
        return false;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        error = reason(String("can't read ") + what, path);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode) || (info.st_mode & 077) != 0 || info.st_uid != ::geteuid()) {
        ::close(fd);
        // What others could have read or changed is no secret: refuse it
        // rather than replace it, since whoever set the file up may rely on it.
        error = String(what) + " " + path + " must be a regular file of this user with mode 0600";
        return false;
    }
    exists = true;
    text.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        ssize_t n = ::read(fd, text.data() + got, limit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = reason(String("can't read ") + what, path);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    return true;
}

bool PrivateFile::write(const String& path, const char* what, const String& text, String& error) {
    String temporary = path + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = reason(String("can't write ") + what, path);
        return false;
    }
    bool written = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += static_cast<std::size_t>(n);
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = reason(String("can't write ") + what, path);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

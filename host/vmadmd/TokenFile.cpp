#include "host/vmadmd/TokenFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "host/platform/HexText.h"

namespace {

constexpr std::size_t kTokenBytes = 32;

bool isToken(const String& text) {
    return text.size() == 2 * kTokenBytes &&
           text.find_first_not_of("0123456789abcdef") == String::npos;
}

String reason(const String& what, const String& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

String TokenFile::fresh() {
    unsigned char bytes[kTokenBytes];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return String();
        got += static_cast<std::size_t>(n);
    }
    return hexBytes(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

bool TokenFile::obtain(const String& path, String& token, String& error) {
    token.clear();
    if (!read(path, token, error)) return false;
    if (!token.empty()) return true;
    token = fresh();
    if (token.empty()) {
        error = String("no random bytes for the token: ") + std::strerror(errno);
        return false;
    }
    return write(path, token, error);
}

bool TokenFile::read(const String& path, String& token, String& error) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer and a device may
    // act on the open: the kind is checked before anything is read.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        error = errno == ELOOP ? "token file " + path + " must be a regular file, not a link"
                               : reason("can't open token file", path);
        return false;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        error = reason("can't read token file", path);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode) || (info.st_mode & 077) != 0 || info.st_uid != ::geteuid()) {
        ::close(fd);
        // A token others could have read is no secret: refuse it rather than
        // replace it, since whoever set the file up may rely on it.
        error = "token file " + path + " must be a regular file of this user with mode 0600";
        return false;
    }
    char text[2 * kTokenBytes + 2];
    ssize_t n = ::read(fd, text, sizeof text);
    ::close(fd);
    if (n < 0) {
        error = reason("can't read token file", path);
        return false;
    }
    String held(text, static_cast<std::size_t>(n));
    if (!held.empty() && held.back() == '\n') held.pop_back();
    if (isToken(held)) token = held;
    return true;
}

bool TokenFile::write(const String& path, const String& token, String& error) {
    String temporary = path + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = reason("can't write token file", path);
        return false;
    }
    String line = token + "\n";
    bool written = ::fchmod(fd, 0600) == 0 &&
                   ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                   ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = reason("can't write token file", path);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

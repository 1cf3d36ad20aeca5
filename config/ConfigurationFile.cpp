#include "config/ConfigurationFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/FileSystem.h"

namespace {

constexpr std::size_t bufferSize = 64 * 1024;

}  // namespace

ConfigurationFile::ConfigurationFile() = default;

ConfigurationFile::~ConfigurationFile() {
    if (fd_ >= 0) FileSystem::close(fd_);
}

int ConfigurationFile::open(const Path& path) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer; with it, the
    // kind of file is known before any read can wait.
    int fd = FileSystem::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return errno;
    struct stat info;
    int error = 0;
    if (FileSystem::fstat(fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!S_ISREG(info.st_mode))
        error = notRegular;
    if (error != 0) {
        FileSystem::close(fd);
        return error;
    }
    fd_ = fd;
    buffer_ = std::make_unique_for_overwrite<char[]>(bufferSize);
    return 0;
}

bool ConfigurationFile::fill() {
    if (begin_ < end_) return true;
    if (ended_ || fd_ < 0) return false;
    ssize_t count = FileSystem::read(fd_, buffer_.get(), bufferSize);
    if (count < 0) error_ = errno;
    if (count <= 0) {
        ended_ = count == 0;
        return false;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(count);
    return true;
}

ConfigurationFile::Result ConfigurationFile::read(String& line) {
    line.clear();
    error_ = 0;
    bool started = false, tooLong = false;
    while (fill()) {
        started = true;
        const char* from = buffer_.get() + begin_;
        std::size_t available = end_ - begin_;
        const void* newline = std::memchr(from, '\n', available);
        std::size_t count = newline ? static_cast<const char*>(newline) - from : available;
        std::size_t room = lineLimit - line.size();
        if (count > room) tooLong = true;
        line.append(from, std::min(count, room));
        begin_ += newline ? count + 1 : count;
        if (newline) break;
    }
    if (error_ != 0) return Failed;
    if (!started) return NoLine;
    return tooLong ? TooLong : Line;
}

#include "platform/FileStream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "platform/FileSystem.h"

class FileStream::Buffer : public std::streambuf {
  public:
    static constexpr std::size_t Size = 64 * 1024;

    bool attach(int fd, bool owns) {
        detach();
        fd_ = fd;
        owns_ = owns;
        // Buffers are made on first use and not zero-filled: many streams
        // only read or only write a few bytes.
        setg(nullptr, nullptr, nullptr);
        setp(nullptr, nullptr);
        return fd_ >= 0;
    }

    bool detach() {
        bool ok = fd_ < 0 || flushOut();
        if (fd_ >= 0 && owns_ && FileSystem::close(fd_) != 0) ok = false;
        fd_ = -1;
        setg(nullptr, nullptr, nullptr);
        setp(nullptr, nullptr);
        return ok;
    }

    int fd() const { return fd_; }
    ~Buffer() override { detach(); }

  protected:
    int_type overflow(int_type c) override {
        if (fd_ < 0 || !flushOut()) return traits_type::eof();
        if (pbase() == nullptr) {
            if (!out_) out_ = std::make_unique_for_overwrite<char[]>(Size);
            setp(out_.get(), out_.get() + Size);
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override { return fd_ >= 0 && flushOut() ? 0 : -1; }

    int_type underflow() override {
        if (fd_ < 0 || !flushOut()) return traits_type::eof();
        if (!in_) in_ = std::make_unique_for_overwrite<char[]>(Size);
        ssize_t n = FileSystem::read(fd_, in_.get(), Size);
        if (n < 0) readFailed();
        if (n == 0) return traits_type::eof();
        setg(in_.get(), in_.get(), in_.get() + n);
        return traits_type::to_int_type(*gptr());
    }

    // Large reads bypass the buffer once it is drained.
    std::streamsize xsgetn(char* s, std::streamsize count) override {
        std::streamsize done = 0;
        while (done < count) {
            std::streamsize buffered = egptr() - gptr();
            if (buffered > 0) {
                std::streamsize take = std::min(buffered, count - done);
                std::memcpy(s + done, gptr(), static_cast<std::size_t>(take));
                gbump(static_cast<int>(take));
                done += take;
            } else if (count - done >= static_cast<std::streamsize>(Size)) {
                if (fd_ < 0 || !flushOut()) break;
                ssize_t n = FileSystem::read(fd_, s + done, static_cast<size_t>(count - done));
                if (n < 0) readFailed();
                if (n == 0) break;
                done += n;
            } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
                break;
            }
        }
        return done;
    }

    pos_type seekoff(off_type off, std::ios::seekdir dir, std::ios::openmode) override {
        if (fd_ < 0 || !flushOut()) return pos_type(off_type(-1));
        int whence = dir == std::ios::beg ? SEEK_SET : dir == std::ios::cur ? SEEK_CUR : SEEK_END;
        // The kernel's offset is ahead of the reader by what is still buffered.
        if (dir == std::ios::cur) off -= egptr() - gptr();
        off_t at = FileSystem::lseek(fd_, off, whence);
        setg(nullptr, nullptr, nullptr);
        return at < 0 ? pos_type(off_type(-1)) : pos_type(at);
    }

    pos_type seekpos(pos_type pos, std::ios::openmode which) override {
        return seekoff(off_type(pos), std::ios::beg, which);
    }

  private:
    // A read error must not look like the end of the file. Input streams turn
    // an exception from their buffer into badbit (and swallow it unless the
    // caller asked for exceptions); errno stays as the read left it.
    [[noreturn]] static void readFailed() {
        int error = errno;
        std::ios_base::failure failure("read failed",
                                       std::error_code(error, std::generic_category()));
        errno = error;
        throw failure;
    }

    bool flushOut() {
        std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
        if (pending == 0) return true;
        ssize_t n = FileSystem::write(fd_, pbase(), pending);
        setp(out_.get(), out_.get() + Size);
        return n == static_cast<ssize_t>(pending);
    }

    int fd_ = -1;
    bool owns_ = false;
    std::unique_ptr<char[]> in_;
    std::unique_ptr<char[]> out_;
};

namespace {

int openFlags(std::ios::openmode mode) {
    bool in = mode & std::ios::in, out = mode & std::ios::out, app = mode & std::ios::app;
    if (app) return (in ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    if (in && out) return O_RDWR | O_CREAT | ((mode & std::ios::trunc) ? O_TRUNC : 0);
    if (out) return O_WRONLY | O_CREAT | O_TRUNC;
    return O_RDONLY;
}

}  // namespace

FileStream::FileStream() : std::iostream(nullptr), buffer_(new Buffer) {
    rdbuf(buffer_.get());
    setstate(std::ios::failbit);
}

FileStream::FileStream(const Path& path, std::ios::openmode mode, mode_t permissions)
    : FileStream() {
    open(path, mode, permissions);
}

FileStream::FileStream(int fd, std::ios::openmode, bool owns) : FileStream() {
    if (buffer_->attach(fd, owns)) clear();
}

FileStream::~FileStream() {
    buffer_->detach();
}

bool FileStream::open(const Path& path, std::ios::openmode mode, mode_t permissions) {
    buffer_->detach();
    int fd = FileSystem::open(path, openFlags(mode), permissions);
    if (fd < 0) {
        int saved = errno;
        setstate(std::ios::failbit);
        errno = saved;
        return false;
    }
    buffer_->attach(fd, true);
    clear();
    return true;
}

bool FileStream::is_open() const {
    return buffer_->fd() >= 0;
}

bool FileStream::close() {
    if (!is_open()) return false;
    bool ok = buffer_->detach();
    if (!ok) setstate(std::ios::badbit);
    return ok;
}

int FileStream::fd() const {
    return buffer_->fd();
}

#include "host/platform/MsgChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/platform/HostPlatform.h"

String MsgChannel::socketPath(std::uint32_t box, std::uint32_t resource) {
    return HostPlatform::hostPath(
        Path("/vm/run/box" + std::to_string(box) + "." + std::to_string(resource)));
}

bool MsgChannel::socketAddress(const String& hostPath, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (hostPath.empty() || hostPath.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, hostPath.data(), hostPath.size());
    return true;
}

MsgChannel::MsgChannel(int fd, int timeoutMs, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {
    setTimeout(timeoutMs);
}

MsgChannel::~MsgChannel() {
    if (fd_ >= 0) ::close(fd_);
}

void MsgChannel::setTimeout(int timeoutMs) {
    limited_ = timeoutMs >= 0;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

MsgChannel::Io MsgChannel::await(short events) {
    for (;;) {
        int waitMs = -1;
        if (limited_) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) return Io::timedOut;
            waitMs = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
        int ready = ::poll(fds, wakeFd_ >= 0 ? 2 : 1, waitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            error_ = errno;
            return Io::failed;
        }
        if (wakeFd_ >= 0 && fds[1].revents != 0) return Io::stopped;
        // Errors and hang-ups show up in the read or write that follows.
        if (fds[0].revents != 0) return Io::ok;
    }
}

MsgChannel::Io MsgChannel::writeAll(const char* bytes, std::size_t count) {
    while (count > 0) {
        if (Io io = await(POLLOUT); io != Io::ok) return io;
        ssize_t n = ::send(fd_, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            error_ = errno;
            return errno == EPIPE || errno == ECONNRESET ? Io::closed : Io::failed;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return Io::ok;
}

MsgChannel::Io MsgChannel::readAll(char* bytes, std::size_t count) {
    while (count > 0) {
        if (Io io = await(POLLIN); io != Io::ok) return io;
        ssize_t n = ::recv(fd_, bytes, count, MSG_DONTWAIT);
        if (n == 0) return Io::closed;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            error_ = errno;
            return errno == ECONNRESET ? Io::closed : Io::failed;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return Io::ok;
}

MsgChannel::Io MsgChannel::send(const MsgFrameHeader& header, const void* body) {
    if (Io io = writeAll(reinterpret_cast<const char*>(&header), sizeof header); io != Io::ok)
        return io;
    return writeAll(static_cast<const char*>(body), header.length);
}

MsgChannel::Io MsgChannel::receive(MsgFrameHeader* header, void* body, std::size_t capacity) {
    if (Io io = readAll(reinterpret_cast<char*>(header), sizeof *header); io != Io::ok) return io;
    if (header->magic != kMsgFrameMagic) return Io::badFrame;
    if (header->length > capacity) return Io::tooLong;
    return readAll(static_cast<char*>(body), header->length);
}

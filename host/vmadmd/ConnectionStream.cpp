#include "host/vmadmd/ConnectionStream.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

namespace {

void numericAddress(const sockaddr_storage& address, socklen_t length, std::string& ip, int& port) {
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host,
                      service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

}  // namespace

void ConnectionStream::startPhase(Clock::time_point deadline, std::size_t bytes) {
    deadline_ = deadline;
    budget_ = bytes;
    phaseRead_ = 0;
    overBudget_ = false;
}

bool ConnectionStream::await(short events, Clock::time_point deadline, bool stoppable) const {
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{socket_, events, 0}, {stoppable ? stopFd_ : -1, POLLIN, 0}};
        int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 60000)));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        if (fds[1].revents != 0) return false;
        return true;  // readiness or an error the next call reports
    }
}

bool ConnectionStream::fill() {
    for (;;) {
        if (!await(POLLIN, deadline_, true)) {
            overBudget_ = Clock::now() >= deadline_;
            return false;
        }
        // Never blocking in recv or send keeps every wait under the deadline.
        ssize_t n = ::recv(socket_, buffer_, sizeof buffer_, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        begin_ = 0;
        end_ = static_cast<std::size_t>(n);
        return true;
    }
}

bool ConnectionStream::is_readable() const {
    return begin_ < end_ || (flush() && await(POLLIN, deadline_, true));
}

bool ConnectionStream::is_writable() const {
    // An answer being written is finished even when the server stops.
    return await(POLLOUT, Clock::now() + writeTimeout_, false);
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    if (phaseRead_ >= budget_) {
        overBudget_ = true;
        return -1;
    }
    if (begin_ == end_ && (!flush() || !fill())) return -1;
    std::size_t n = std::min({size, end_ - begin_, budget_ - phaseRead_});
    std::copy_n(buffer_ + begin_, n, ptr);
    begin_ += n;
    phaseRead_ += n;
    return static_cast<ssize_t>(n);
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    if (held_.size() + size <= kHoldBytes) {
        held_.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    // Too much to hold: what is held and these bytes leave together, in one
    // send when the socket takes them, without copying a large body.
    bool sent = sendAll(held_.data(), held_.size(), ptr, size);
    held_.clear();
    return sent ? static_cast<ssize_t>(size) : -1;
}

bool ConnectionStream::flush() const {
    bool sent = sendAll(held_.data(), held_.size(), nullptr, 0);
    held_.clear();
    return sent;
}

bool ConnectionStream::sendAll(const char* first, std::size_t firstSize, const char* second,
                               std::size_t secondSize) const {
    iovec pieces[2] = {{const_cast<char*>(first), firstSize},
                       {const_cast<char*>(second), secondSize}};
    std::size_t at = firstSize > 0 ? 0 : 1;
    while (at < 2 && pieces[at].iov_len > 0) {
        msghdr message{};
        message.msg_iov = pieces + at;
        message.msg_iovlen = 2 - at;
        // Tried before any wait: the socket nearly always has room, and a
        // poll first would cost every answer a system call of its own.
        ssize_t n = ::sendmsg(socket_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            if (!is_writable()) return false;
            continue;
        }
        if (n <= 0) return false;
        for (auto left = static_cast<std::size_t>(n); left > 0;) {
            std::size_t step = std::min(left, pieces[at].iov_len);
            pieces[at].iov_base = static_cast<char*>(pieces[at].iov_base) + step;
            pieces[at].iov_len -= step;
            left -= step;
            if (pieces[at].iov_len == 0) ++at;
        }
    }
    return true;
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    addressOnce(::getpeername, remoteIp_, remotePort_, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    addressOnce(::getsockname, localIp_, localPort_, ip, port);
}

void ConnectionStream::addressOnce(int (*ask)(int, sockaddr*, socklen_t*), std::string& keptIp,
                                   int& keptPort, std::string& ip, int& port) const {
    if (keptPort < 0) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (ask(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            numericAddress(address, length, keptIp, keptPort);
    }
    if (keptPort < 0) return;  // not known: the caller's values stand
    ip = keptIp;
    port = keptPort;
}

#include "host/platform/MsgServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "host/platform/HostPlatform.h"
#include "host/platform/MsgChannel.h"
#include "platform/MCMsg.h"

MsgServer::MsgServer(std::uint16_t box, std::uint32_t resource, Handler handler)
    : box_(box), resource_(resource), handler_(std::move(handler)) {}

MsgServer::~MsgServer() {
    stop();
}

bool MsgServer::start() {
    if (running()) {
        errno = EBUSY;
        return false;
    }
    path_ = MsgChannel::socketPath(box_, resource_);
    if (!listen()) {
        int error = errno;
        closeAll();
        errno = error;
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

bool MsgServer::listen() {
    sockaddr_un address;
    if (!MsgChannel::socketAddress(path_, &address)) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (!HostPlatform::makeParentDirectories(path_)) return false;
    // A socket file left by a server that did not stop would refuse the bind.
    struct stat info;
    if (::lstat(path_.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) ::unlink(path_.c_str());

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    slotFreed_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (slotFreed_ < 0) return false;
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    // The socket is bound under a name of its own and renamed into place once
    // it listens: a client that finds the path can connect at once, never in
    // the moment between bind and listen.
    String bound = path_ + "." + std::to_string(::getpid());
    sockaddr_un staging;
    if (!MsgChannel::socketAddress(bound, &staging)) {
        bound = path_;
        staging = address;
    }
    ::unlink(bound.c_str());
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&staging), sizeof staging) != 0)
        return false;
    if (::listen(listenFd_, SOMAXCONN) == 0 &&
        (bound == path_ || ::rename(bound.c_str(), path_.c_str()) == 0))
        return true;
    int error = errno;
    ::unlink(bound.c_str());
    errno = error;
    return false;
}

void MsgServer::stop() {
    if (running()) {
        char wake = 1;
        while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
        ::unlink(path_.c_str());
    }
    closeAll();
}

void MsgServer::closeAll() {
    for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_, &slotFreed_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void MsgServer::run() {
    for (;;) {
        // A full server leaves new clients in the backlog until a slot frees.
        bool room = workers_.size() < maxConnections;
        pollfd fds[3] = {
            {wakeRead_, POLLIN, 0}, {slotFreed_, POLLIN, 0}, {room ? listenFd_ : -1, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) break;
        if (fds[1].revents != 0) reap(false);
        if (room && (fds[2].revents & POLLIN) != 0) acceptOne();
    }
    // The wake pipe stays readable: every connection still in a transfer
    // ends at once, and only handler calls in progress are waited for.
    reap(true);
}

void MsgServer::acceptOne() {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    Worker& worker = workers_.emplace_back();
    try {
        worker.thread = std::thread([this, fd, &worker] {
            serve(fd);
            finished(worker);
        });
    } catch (const std::system_error&) {
        // No thread to serve it: the client sees its connection closed.
        ::close(fd);
        workers_.pop_back();
    }
}

void MsgServer::finished(Worker& worker) {
    worker.done = true;
    std::uint64_t one = 1;
    while (::write(slotFreed_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void MsgServer::reap(bool all) {
    std::uint64_t count;
    // Drained before the flags are read: a worker that ends later signals again.
    while (::read(slotFreed_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (all || it->done) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void MsgServer::serve(int fd) {
    MsgChannel channel(fd, requestTimeoutMs, wakeRead_);
    MsgFrameHeader request;
    String body(MCMsg::maxBody, '\0');
    if (channel.receive(&request, body.data(), body.size()) != MsgChannel::Io::ok) return;
    if (request.type != kMsgRequestType) return;
    body.resize(request.length);

    std::optional<String> reply = answer(request.opcode, body);
    if (!reply || reply->size() > MCMsg::maxBody) return;
    MsgFrameHeader header;
    header.magic = kMsgFrameMagic;
    header.opcode = request.opcode;
    header.type = kMsgReplyType;
    header.length = static_cast<std::uint32_t>(reply->size());
    // The handler may have taken long; the client is still waiting.
    channel.setTimeout(requestTimeoutMs);
    channel.send(header, reply->data());
}

std::optional<String> MsgServer::answer(int opcode, const String& body) {
    try {
        return handler_(opcode, body);
    } catch (...) {
        // One bad request must not end the service of the resource.
        return std::nullopt;
    }
}

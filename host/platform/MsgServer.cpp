#include "host/platform/MsgServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    if (::listen(listenFd_, SOMAXCONN) == 0) return true;
    int error = errno;
    ::unlink(path_.c_str());
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
    for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void MsgServer::run() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) serve(fd);
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

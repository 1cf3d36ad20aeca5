#include "host/platform/MsgRequestReader.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "host/platform/RequestActor.h"
#include "platform/MCMsg.h"

MsgRequestReader::MsgRequestReader(int fd, std::chrono::steady_clock::time_point deadline)
    : fd_(fd), deadline_(deadline) {}

MsgRequestReader::~MsgRequestReader() {
    if (fd_ >= 0) ::close(fd_);
}

MsgRequestReader::MsgRequestReader(MsgRequestReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      deadline_(other.deadline_),
      header_(other.header_),
      headerHave_(other.headerHave_),
      body_(std::move(other.body_)),
      bodyHave_(other.bodyHave_) {}

int MsgRequestReader::release() {
    return std::exchange(fd_, -1);
}

bool MsgRequestReader::headerAcceptable() {
    // An actor's trailer may take a body over the messaging's limit.
    std::size_t limit =
        MCMsg::maxBody + ((header_.type & RequestActor::typeFlag) ? RequestActor::maxTrailer : 0);
    if (header_.magic != kMsgFrameMagic ||
        RequestActor::messageType(header_.type) != kMsgRequestType || header_.length > limit)
        return false;
    // Sized only now: an idle connection costs no body buffer.
    body_.assign(header_.length, '\0');
    return true;
}

MsgRequestReader::Step MsgRequestReader::read() {
    for (;;) {
        bool inHeader = headerHave_ < sizeof header_;
        if (!inHeader && bodyHave_ == body_.size()) return Step::complete;
        char* into =
            inHeader ? reinterpret_cast<char*>(&header_) + headerHave_ : body_.data() + bodyHave_;
        std::size_t wanted = inHeader ? sizeof header_ - headerHave_ : body_.size() - bodyHave_;
        ssize_t n = ::recv(fd_, into, wanted, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Step::more;
        if (n <= 0) return Step::failed;
        if (!inHeader) {
            bodyHave_ += static_cast<std::size_t>(n);
            continue;
        }
        headerHave_ += static_cast<std::size_t>(n);
        if (headerHave_ == sizeof header_ && !headerAcceptable()) return Step::failed;
    }
}

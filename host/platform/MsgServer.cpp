#include "host/platform/MsgServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/MsgChannel.h"
#include "host/platform/RequestActor.h"
#include "platform/MCMsg.h"

namespace {

// A descriptor shortage (EMFILE, ENFILE) leaves the listening socket
// readable; accepting pauses this long instead of spinning.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr auto kDropTraceInterval = std::chrono::seconds(1);

}  // namespace

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
    if (!listen() || !startThreads()) {
        int error = errno;
        if (socketInode_ != 0) ::unlink(path_.c_str());
        closeAll();
        errno = error;
        return false;
    }
    return true;
}

bool MsgServer::startThreads() {
    stopping_ = false;
    try {
        for (std::size_t i = 0; i < handlerThreads; ++i) handlers_.emplace_back([this] { work(); });
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (std::thread& handler : handlers_) handler.join();
        handlers_.clear();
        errno = e.code().value();
        return false;
    }
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
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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
    rememberSocket(bound);
    if (::listen(listenFd_, SOMAXCONN) == 0 &&
        (bound == path_ || ::rename(bound.c_str(), path_.c_str()) == 0))
        return true;
    int error = errno;
    ::unlink(bound.c_str());
    socketInode_ = 0;
    errno = error;
    return false;
}

// Remembered so that stop() removes this socket and never a successor's.
void MsgServer::rememberSocket(const String& bound) {
    struct stat info;
    if (::lstat(bound.c_str(), &info) == 0) {
        socketDevice_ = info.st_dev;
        socketInode_ = info.st_ino;
    }
}

void MsgServer::stop() {
    if (running()) {
        char wake = 1;
        while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
        struct stat info;
        if (::lstat(path_.c_str(), &info) == 0 && info.st_dev == socketDevice_ &&
            info.st_ino == socketInode_)
            ::unlink(path_.c_str());
    }
    closeAll();
}

void MsgServer::closeAll() {
    for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    socketInode_ = 0;
}

void MsgServer::run() {
    std::vector<pollfd> fds;
    std::vector<short> events;
    for (;;) {
        Clock::time_point now = Clock::now();
        bool accepting = now >= acceptPausedUntil_;
        fds.assign({{wakeRead_, POLLIN, 0}, {accepting ? listenFd_ : -1, POLLIN, 0}});
        for (const MsgRequestReader& reader : reading_) fds.push_back({reader.fd(), POLLIN, 0});
        // Readers are in the order they came, so the first deadline is the nearest.
        Clock::time_point wakeAt =
            reading_.empty() ? Clock::time_point::max() : reading_.front().deadline();
        if (!accepting) wakeAt = std::min(wakeAt, acceptPausedUntil_);
        int waitMs = -1;  // no deadline: wait for an event
        if (wakeAt != Clock::time_point::max())
            waitMs = static_cast<int>(std::max<std::int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count()));
        int ready = ::poll(fds.data(), fds.size(), waitMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && fds[0].revents != 0) break;
        events.clear();
        for (std::size_t i = 2; i < fds.size(); ++i)
            events.push_back(ready > 0 ? fds[i].revents : 0);
        readReady(events);
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) acceptAll();
        if (droppedCount_ + refusedCount_ > 0 && Clock::now() >= nextDropTrace_) traceDrops();
    }
    finish();
}

void MsgServer::finish() {
    reading_.clear();  // closes them
    if (droppedCount_ + refusedCount_ > 0) traceDrops();
    std::deque<Request> unanswered;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        unanswered.swap(queue_);
    }
    ready_.notify_all();
    for (Request& request : unanswered) ::close(request.fd);
    for (std::thread& handler : handlers_) handler.join();
    handlers_.clear();
    busy_ = 0;
}

// events[i] belongs to the i-th reader, in the order of reading_.
void MsgServer::readReady(const std::vector<short>& events) {
    Clock::time_point now = Clock::now();
    std::size_t i = 0;
    for (auto it = reading_.begin(); it != reading_.end(); ++i) {
        MsgRequestReader::Step step = MsgRequestReader::Step::more;
        if (i < events.size() && events[i] != 0) step = it->read();
        if (step == MsgRequestReader::Step::more && now < it->deadline()) {
            ++it;
            continue;
        }
        // A complete request goes to the queue with its socket; any other
        // reader is done with (its socket closes as it goes).
        if (step == MsgRequestReader::Step::complete) queue(*it);
        it = reading_.erase(it);
    }
}

void MsgServer::queue(MsgRequestReader& reader) {
    Request request{
        -1, reader.header().opcode, reader.body(), msgRequestSender(reader.header().type), {}};
    // A trailer announced but not there makes a bad frame: dropped.
    if (!RequestActor::take(reader.header().type, request.body, request.actor, MCMsg::maxBody))
        return;
    request.fd = reader.release();
    ++busy_;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(request));
    }
    ready_.notify_one();
}

void MsgServer::acceptAll() {
    for (std::size_t n = 0; n < maxConnections; ++n) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            admit(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            acceptPausedUntil_ = Clock::now() + kAcceptPause;
        return;
    }
}

void MsgServer::admit(int fd) {
    if (reading_.size() + busy_ >= maxConnections) {
        if (reading_.empty()) {
            ::close(fd);
            dropped(true);
            return;
        }
        // The oldest reader has had the most time to send its request.
        reading_.pop_front();
        dropped(false);
    }
    reading_.emplace_back(fd, Clock::now() + std::chrono::milliseconds(requestTimeoutMs));
}

void MsgServer::dropped(bool refused) {
    ++(refused ? refusedCount_ : droppedCount_);
}

// One line for a burst of drops, not one per connection.
void MsgServer::traceDrops() {
    HostTrace::record(1, "MsgServer: box " + std::to_string(box_) + " resource " +
                             std::to_string(resource_) + " at its limit of " +
                             std::to_string(maxConnections) + " connections: closed " +
                             std::to_string(droppedCount_) + " still sending a request, refused " +
                             std::to_string(refusedCount_));
    droppedCount_ = refusedCount_ = 0;
    nextDropTrace_ = Clock::now() + kDropTraceInterval;
}

void MsgServer::work() {
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            request = std::move(queue_.front());
            queue_.pop_front();
        }
        answer(request);
        --busy_;
    }
}

void MsgServer::answer(const Request& request) {
    MsgChannel channel(request.fd, requestTimeoutMs, wakeRead_);
    std::optional<String> reply = call(request);
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

namespace {
thread_local std::uint16_t currentSender = 0;
thread_local std::string currentActor;
}  // namespace

std::uint16_t MsgServer::requestSender() {
    return currentSender;
}

const std::string& MsgServer::requestActor() {
    return currentActor;
}

MsgServer::SenderScope::SenderScope(std::uint16_t box, std::string actor)
    : previous_(currentSender), previousActor_(std::move(currentActor)) {
    currentSender = box;
    currentActor = std::move(actor);
}

MsgServer::SenderScope::~SenderScope() {
    currentSender = previous_;
    currentActor = std::move(previousActor_);
}

std::optional<String> MsgServer::call(const Request& request) {
    SenderScope scope(request.sender, request.actor);
    try {
        return handler_(request.opcode, request.body);
    } catch (...) {
        // One bad request must not end the service of the resource.
        return std::nullopt;
    }
}

#include "host/platform/TlsChannel.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Small frames go out as one TLS record: a record costs a MAC and a header.
constexpr std::size_t kCoalesceLimit = 16 * 1024;

// OpenSSL's socket BIO writes with write(2), which raises SIGPIPE when the
// peer has gone: a signal the process may not expect, and blocking it around
// every TLS call costs each call four system calls. This BIO is the socket
// BIO with its writes made by send(2) with MSG_NOSIGNAL, so a write to a
// gone peer just fails with EPIPE.
int sendQuietly(BIO* bio, const char* data, int length) {
    int fd = -1;
    BIO_get_fd(bio, &fd);
    BIO_clear_retry_flags(bio);
    auto n = static_cast<int>(::send(fd, data, static_cast<std::size_t>(length), MSG_NOSIGNAL));
    if (n <= 0 && BIO_sock_should_retry(n)) BIO_set_retry_write(bio);
    return n;
}

const BIO_METHOD* quietSocket() {
    static const BIO_METHOD* method = [] {
        const BIO_METHOD* socket = BIO_s_socket();
        BIO_METHOD* quiet =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                         "socket without SIGPIPE");
        if (quiet == nullptr || !BIO_meth_set_write(quiet, sendQuietly) ||
            !BIO_meth_set_read(quiet, BIO_meth_get_read(socket)) ||
            !BIO_meth_set_puts(quiet, BIO_meth_get_puts(socket)) ||
            !BIO_meth_set_ctrl(quiet, BIO_meth_get_ctrl(socket)) ||
            !BIO_meth_set_create(quiet, BIO_meth_get_create(socket)) ||
            !BIO_meth_set_destroy(quiet, BIO_meth_get_destroy(socket))) {
            BIO_meth_free(quiet);
            return static_cast<BIO_METHOD*>(nullptr);
        }
        return quiet;
    }();
    return method;
}

}  // namespace

TlsChannel::TlsChannel(const TlsContext& context, int fd, int timeoutMs, int wakeFd)
    : ssl_(SSL_new(context.get())), fd_(fd), wakeFd_(wakeFd) {
    int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    BIO* bio = ssl_ != nullptr && quietSocket() != nullptr ? BIO_new(quietSocket()) : nullptr;
    if (bio != nullptr) {
        BIO_set_fd(bio, fd_, BIO_NOCLOSE);
        SSL_set_bio(ssl_, bio, bio);
    } else {
        // Without a BIO the handshake fails and says why.
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    setTimeout(timeoutMs);
}

TlsChannel::~TlsChannel() {
    SSL_free(ssl_);
    if (fd_ >= 0) ::close(fd_);
}

void TlsChannel::setTimeout(int timeoutMs) {
    limited_ = timeoutMs >= 0;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

TlsChannel::Io TlsChannel::await(short events) {
    for (;;) {
        int waitMs = -1;
        if (limited_) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                error_ = "no answer within the time limit";
                return Io::timedOut;
            }
            waitMs = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
        int ready = ::poll(fds, wakeFd_ >= 0 ? 2 : 1, waitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            error_ = std::strerror(errno);
            return Io::failed;
        }
        if (wakeFd_ >= 0 && fds[1].revents != 0) {
            error_ = "stopped";
            return Io::stopped;
        }
        if (fds[0].revents != 0) return Io::ok;
    }
}

TlsChannel::Io TlsChannel::retry(int result) {
    int error = errno;
    switch (SSL_get_error(ssl_, result)) {
        case SSL_ERROR_WANT_READ:
            return await(POLLIN);
        case SSL_ERROR_WANT_WRITE:
            return await(POLLOUT);
        case SSL_ERROR_ZERO_RETURN:
            error_ = "the peer closed the connection";
            return Io::closed;
        case SSL_ERROR_SYSCALL:
            if (error == 0 || error == ECONNRESET || error == EPIPE) {
                error_ = "the peer closed the connection";
                return Io::closed;
            }
            error_ = std::strerror(error);
            return Io::failed;
        default:
            // A peer that ends without a TLS goodbye (a daemon stopped or
            // killed) has closed the connection all the same.
            if (ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                ERR_clear_error();
                error_ = "the peer closed the connection";
                return Io::closed;
            }
            error_ = TlsContext::errors("TLS failure");
            return Io::failed;
    }
}

TlsChannel::Io TlsChannel::handshake(bool client) {
    if (ssl_ == nullptr) {
        error_ = TlsContext::errors("cannot make a TLS connection");
        return Io::failed;
    }
    for (;;) {
        ERR_clear_error();
        errno = 0;
        int result = client ? SSL_connect(ssl_) : SSL_accept(ssl_);
        if (result == 1) return Io::ok;
        if (Io io = retry(result); io != Io::ok) {
            long verify = SSL_get_verify_result(ssl_);
            if (verify != X509_V_OK)
                error_ += String(" (certificate: ") + X509_verify_cert_error_string(verify) + ")";
            return io;
        }
    }
}

TlsChannel::Io TlsChannel::connect(std::uint16_t serverBox, std::uint16_t ownBox) {
    String name = "box" + std::to_string(serverBox);
    if (ssl_ != nullptr) {
        SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_WILDCARDS);
        SSL_set1_host(ssl_, name.c_str());
    }
    if (Io io = handshake(true); io != Io::ok) return io;
    if (Io io = sendHello(ownBox); io != Io::ok) return io;
    std::uint16_t box = 0;
    // A server that refuses our certificate answers the hello with an alert.
    if (Io io = receiveHello(box); io != Io::ok) return io;
    if (box != serverBox) {
        error_ = "the server says it is box " + std::to_string(box) + ", not " + name;
        return Io::badFrame;
    }
    peerBox_ = box;
    return Io::ok;
}

TlsChannel::Io TlsChannel::accept(std::uint16_t ownBox) {
    if (Io io = handshake(false); io != Io::ok) return io;
    std::uint16_t claimed = 0;
    if (Io io = receiveHello(claimed); io != Io::ok) return io;
    X509* certificate = SSL_get0_peer_certificate(ssl_);
    if (!TlsContext::names(certificate, claimed)) {
        error_ = "the peer claims box " + std::to_string(claimed) + " but its certificate has " +
                 TlsContext::describe(certificate);
        return Io::badFrame;
    }
    peerBox_ = claimed;
    return sendHello(ownBox);
}

TlsChannel::Io TlsChannel::sendHello(std::uint16_t box) {
    std::uint32_t word = box;
    MsgFrameHeader header{kMsgFrameMagic, 0, helloType, sizeof word};
    return send(header, {std::string_view(reinterpret_cast<const char*>(&word), sizeof word)});
}

TlsChannel::Io TlsChannel::receiveHello(std::uint16_t& box) {
    MsgFrameHeader header;
    String body;
    Io io = receive(&header, body, sizeof(std::uint32_t));
    if (io == Io::ok && (header.type != helloType || body.size() != sizeof(std::uint32_t)))
        io = Io::badFrame;
    if (io == Io::badFrame || io == Io::tooLong) {
        error_ = "the peer sent no hello";
        return Io::badFrame;
    }
    if (io != Io::ok) return io;
    std::uint32_t word;
    std::memcpy(&word, body.data(), sizeof word);
    box = word <= 0xFFFF ? static_cast<std::uint16_t>(word) : 0;
    return Io::ok;
}

// Moves count bytes with step(offset, chunk) (an SSL_write or SSL_read
// call), waiting as the connection asks to.
template <class Step>
TlsChannel::Io TlsChannel::pump(std::size_t count, Step step) {
    for (std::size_t done = 0; done < count;) {
        ERR_clear_error();
        errno = 0;
        int n = step(done, static_cast<int>(std::min<std::size_t>(count - done, 1 << 30)));
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (Io io = retry(n); io != Io::ok)
            return io;
    }
    return Io::ok;
}

TlsChannel::Io TlsChannel::writeAll(const char* bytes, std::size_t count) {
    return pump(count, [&](std::size_t at, int n) { return SSL_write(ssl_, bytes + at, n); });
}

TlsChannel::Io TlsChannel::readAll(char* bytes, std::size_t count) {
    return pump(count, [&](std::size_t at, int n) { return SSL_read(ssl_, bytes + at, n); });
}

TlsChannel::Io TlsChannel::send(const MsgFrameHeader& header,
                                std::initializer_list<std::string_view> parts) {
    if (header.length + sizeof header <= kCoalesceLimit) {
        char frame[kCoalesceLimit];
        std::memcpy(frame, &header, sizeof header);
        std::size_t at = sizeof header;
        for (std::string_view part : parts) {
            std::memcpy(frame + at, part.data(), part.size());
            at += part.size();
        }
        return writeAll(frame, at);
    }
    if (Io io = writeAll(reinterpret_cast<const char*>(&header), sizeof header); io != Io::ok)
        return io;
    for (std::string_view part : parts)
        if (Io io = writeAll(part.data(), part.size()); io != Io::ok) return io;
    return Io::ok;
}

TlsChannel::Io TlsChannel::receive(MsgFrameHeader* header, String& body, std::size_t capacity) {
    if (Io io = readAll(reinterpret_cast<char*>(header), sizeof *header); io != Io::ok) return io;
    if (header->magic != kMsgFrameMagic) {
        error_ = "the peer sent something other than a frame";
        return Io::badFrame;
    }
    if (header->length > capacity) {
        error_ = "the peer announced " + std::to_string(header->length) + " bytes, more than " +
                 std::to_string(capacity);
        return Io::tooLong;
    }
    body.assign(header->length, '\0');
    return readAll(body.data(), header->length);
}

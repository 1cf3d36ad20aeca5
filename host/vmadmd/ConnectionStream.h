#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <string>

// One accepted connection as httplib reads and writes it, with a budget on
// what the client may send. Each phase of a request (its line and headers,
// then its body) has a deadline for the whole phase and a number of bytes;
// a read past either fails as a closed connection would, so a client that
// trickles bytes or sends without end holds the connection for a bounded
// time and memory. A read also fails once `stopFd` becomes readable (the
// server is stopping). Reads are buffered (httplib reads headers a byte at
// a time). Writes are held until flush(), or until a read or a wait for the
// client comes first (the client may be waiting for an interim answer), or
// until they outgrow the hold: httplib writes an answer's headers and body
// apart, and sent apart they reach the client as two segments it wakes up
// for one after the other. The stream neither owns nor closes the socket.
class ConnectionStream : public httplib::Stream {
  public:
    using Clock = std::chrono::steady_clock;

    ConnectionStream(int socket, int stopFd, Clock::duration writeTimeout)
        : socket_(socket), stopFd_(stopFd), writeTimeout_(writeTimeout) {}

    // The next bytes read are a new phase: at most `bytes` of them, all
    // before `deadline`.
    void startPhase(Clock::time_point deadline, std::size_t bytes);
    // Bytes handed to the reader since the phase started.
    std::size_t phaseBytes() const { return phaseRead_; }
    // Whether a read failed on the phase's deadline or byte budget.
    bool overBudget() const { return overBudget_; }
    // Sends what writes hold; false when the connection failed or stayed
    // unwritable past the write timeout (what was held is then dropped).
    bool flush() const;

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return socket_; }

  private:
    // Waits until the socket has `events` or the deadline; false on the
    // deadline, an error, or (when stoppable) a stop.
    bool await(short events, Clock::time_point deadline, bool stoppable) const;
    bool fill();
    // Sends the two pieces in order (either may be empty), gathered into as
    // few sends as the socket allows; false when the connection failed or
    // stayed unwritable past the write timeout.
    bool sendAll(const char* first, std::size_t firstSize, const char* second,
                 std::size_t secondSize) const;
    // An address of the connection from `ask` (getpeername, getsockname),
    // asked the first time only.
    void addressOnce(int (*ask)(int, sockaddr*, socklen_t*), std::string& keptIp, int& keptPort,
                     std::string& ip, int& port) const;

    // A write that would hold more than this is sent at once, with what is
    // held before it.
    static constexpr std::size_t kHoldBytes = 16 * 1024;

    int socket_;
    int stopFd_;
    Clock::duration writeTimeout_;
    Clock::time_point deadline_ = Clock::now();
    std::size_t budget_ = 0;
    std::size_t phaseRead_ = 0;
    bool overBudget_ = false;
    char buffer_[4096];
    std::size_t begin_ = 0, end_ = 0;
    // Mutable: a wait for the client (is_readable) sends them first.
    mutable std::string held_;
    // The addresses are asked for once per connection, not per request.
    mutable std::string remoteIp_, localIp_;
    mutable int remotePort_ = -1, localPort_ = -1;
};

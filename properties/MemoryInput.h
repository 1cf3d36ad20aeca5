#pragma once

#include <cstddef>
#include <istream>
#include <new>
#include <optional>
#include <streambuf>

// An input stream over bytes that someone else owns and keeps alive for the
// stream's life: reading a stored set through it costs no copy of the bytes.
class MemoryInput : public std::istream {
  public:
    MemoryInput(const char* data, std::size_t size) : std::istream(nullptr), buffer_(data, size) {
        rdbuf(&buffer_);
    }

    // Points the stream at other bytes, with the state and formatting of a
    // new stream.
    void reset(const char* data, std::size_t size) {
        buffer_.point(data, size);
        clear();
        flags(std::ios_base::skipws | std::ios_base::dec);
        width(0);
        precision(6);
    }

    class Lease;

  private:
    struct Buffer : std::streambuf {
        Buffer(const char* data, std::size_t size) { point(data, size); }
        void point(const char* data, std::size_t size) {
            char* begin = const_cast<char*>(data);
            setg(begin, begin, begin + size);
        }
    };
    Buffer buffer_;
};

// A stream over bytes for one read of a small record: the thread's own
// stream, made on the thread's first read and pointed at each record after,
// since making a stream (its locale above all) costs more than reading a
// record of a few properties. A lease taken while the thread's stream is
// leased gets a stream of its own. The thread's stream is never destroyed
// (it holds no memory of its own): a thread-local object with a destructor
// would keep the library loaded until every thread that read a record ended.
class MemoryInput::Lease {
  public:
    Lease(const char* data, std::size_t size) {
        if (leased()) {
            own_.emplace(data, size);
            return;
        }
        if (!made()) {
            new (storage()) MemoryInput(nullptr, 0);
            made() = true;
        }
        leased() = true;
        shared().reset(data, size);
    }
    ~Lease() {
        if (!own_) leased() = false;  // the thread's stream was this lease's
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    MemoryInput& stream() { return own_ ? *own_ : shared(); }

  private:
    static unsigned char* storage() {
        alignas(MemoryInput) thread_local unsigned char bytes[sizeof(MemoryInput)];
        return bytes;
    }
    static MemoryInput& shared() {
        return *std::launder(reinterpret_cast<MemoryInput*>(storage()));
    }
    static bool& made() {
        thread_local bool flag = false;
        return flag;
    }
    static bool& leased() {
        thread_local bool flag = false;
        return flag;
    }

    std::optional<MemoryInput> own_;  // set when the thread's stream was out
};

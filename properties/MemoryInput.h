#pragma once

#include <cstddef>
#include <istream>
#include <streambuf>

// An input stream over bytes that someone else owns and keeps alive for the
// stream's life: reading a stored set through it costs no copy of the bytes.
class MemoryInput : public std::istream {
  public:
    MemoryInput(const char* data, std::size_t size) : std::istream(nullptr), buffer_(data, size) {
        rdbuf(&buffer_);
    }

  private:
    struct Buffer : std::streambuf {
        Buffer(const char* data, std::size_t size) {
            char* begin = const_cast<char*>(data);
            setg(begin, begin, begin + size);
        }
    };
    Buffer buffer_;
};

#pragma once

#include <iostream>
#include <memory>

#include "platform/Path.h"

// A byte stream over one file, read and written through FileSystem (so the
// platform places the file and tests can make its calls fail). Modes follow
// std::fstream: in reads an existing file; out creates it and cuts it to 0
// (unless app, which appends, or in|out, which keeps the bytes). When the file
// cannot be opened the stream starts failed and errno tells why. A failed
// read or write sets badbit, with errno from the failing call (a read error is
// never taken for the end of the file). Unbuffered in effect
// only at flush/close; the descriptor is closed when the stream is.
class FileStream : public std::iostream {
  public:
    FileStream();
    FileStream(const Path& path, std::ios::openmode mode, mode_t permissions = 0666);
    // Works on a descriptor the caller opened (and keeps owning unless `owns`).
    FileStream(int fd, std::ios::openmode mode, bool owns);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    bool open(const Path& path, std::ios::openmode mode, mode_t permissions = 0666);
    bool is_open() const;
    // Flushes and closes; false when the flush or the close failed.
    bool close();
    int fd() const;

  private:
    class Buffer;
    std::unique_ptr<Buffer> buffer_;
};

#pragma once

#include <cstddef>
#include <memory>

#include "platform/Path.h"
#include "platform/String.h"

// A configuration-parameter file read one line at a time with bounded memory,
// through FileSystem. Only a regular file is read: a FIFO, a device or a
// directory could block the reader or never end, so it is refused at open,
// which itself never waits. A line is the bytes before "\n" (or before the end
// of the file for a last line without one); no line may be longer than
// lineLimit bytes.
class ConfigurationFile {
  public:
    // The longest line read whole, its "\n" not counted. Values are kept in
    // memory and a command's output is at most a short line, so a longer line
    // can only be a mistake or an attack; the limit keeps the cost of one
    // line bounded while leaving room for megabyte values.
    static constexpr std::size_t lineLimit = std::size_t{4} << 20;
    // What open() returns for a file that exists but is not regular nor a
    // directory.
    static constexpr int notRegular = -1;

    enum Result {
        NoLine,   // end of the file before any byte of a line: line is empty
        Line,     // a line of at most lineLimit bytes
        TooLong,  // a longer line: line holds its first lineLimit bytes, and
                  // the rest of it has been read and dropped
        Failed    // a read failed; error() tells why
    };

    ConfigurationFile();
    ~ConfigurationFile();
    ConfigurationFile(const ConfigurationFile&) = delete;
    ConfigurationFile& operator=(const ConfigurationFile&) = delete;

    // Opens path for reading. Returns 0 on success; otherwise the errno of
    // the failing call, EISDIR for a directory, or notRegular.
    int open(const Path& path);
    // Reads the next line into line (replacing its content).
    Result read(String& line);
    // The errno of the read that failed.
    int error() const { return error_; }

  private:
    // Refills the buffer when it is drained; false at end of file or on error.
    bool fill();

    int fd_ = -1;
    int error_ = 0;
    bool ended_ = false;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

#pragma once

#include <istream>

#include "platform/String.h"

// Reads one line from a byte stream; the line end ("\n") is not part of it.
class LineReader {
  public:
    enum Result {
        NoLine,       // end of file before any byte: line is empty
        Line,         // a line ended by "\n"
        Unterminated  // a last line without "\n"; the stream is at end of file
    };
    static Result read(std::istream& in, String& line);
};

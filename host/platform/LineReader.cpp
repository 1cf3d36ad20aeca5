#include "platform/LineReader.h"

LineReader::Result LineReader::read(std::istream& in, String& line) {
    line.clear();
    if (!std::getline(in, line)) return NoLine;
    return in.eof() ? Unterminated : Line;
}

#pragma once

#include <cstdint>

// A usage mark of the platform: counts the timed calls of one kind of message
// and their total elapsed time. Marks are built once (usually as statics at
// load time) and live for the whole process.
class Usagemark {
  public:
    // The mark's identifier, given by the platform's usage registry when the
    // mark registers: 0 or above when the mark is active, -1 when the registry
    // had no room for it. First field of the mark.
    int id;

    // `flag`: the platform's (kept, not interpreted by the stand-in);
    // `length` and `opcode`: the message the mark describes; `text`: its name
    // (a string that outlives the mark, normally a literal).
    Usagemark(bool flag, int length, int opcode, const char* text);
    Usagemark(const Usagemark&) = delete;
    Usagemark& operator=(const Usagemark&) = delete;

    // Records one call that began at tick `start` (from get_ptick()) and ends
    // now. Ignored when the mark is not active. Safe from any thread.
    void perf(std::int64_t start);

    // What the mark has recorded so far (host diagnostics).
    std::uint64_t calls() const;
    std::uint64_t totalTicks() const;

    bool flag() const { return flag_; }
    int length() const { return length_; }
    int opcode() const { return opcode_; }
    const char* text() const { return text_; }

  private:
    bool flag_;
    int length_;
    int opcode_;
    const char* text_;
};

#pragma once

#include <streambuf>

// The get area of a stream buffer, reached through pointers to the members a
// derived class may name (the standard's way to reach them from outside): a
// reader that finds what it wants whole in the buffer takes it from there,
// without the stream's formatted or unformatted calls.
struct GetArea : std::streambuf {
    static const char* next(std::streambuf* b) { return (b->*&GetArea::gptr)(); }
    static const char* end(std::streambuf* b) { return (b->*&GetArea::egptr)(); }
    static void consume(std::streambuf* b, int n) { (b->*&GetArea::gbump)(n); }
};

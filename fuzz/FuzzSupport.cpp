#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "platform/FileSystem.h"

namespace fuzz {

namespace {

String& rootText() {
    static String* text = new String;
    return *text;
}

void removeRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(rootText(), ignored);
}

}  // namespace

void setUpOnce() {
    if (!rootText().empty()) return;
    const char* tmp = std::getenv("TMPDIR");
    String pattern = String(tmp && *tmp ? tmp : "/tmp") + "/cfgadm-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    rootText() = pattern;
    std::atexit(removeRoot);
    HostPlatform::setRoot(pattern);
    HostPlatform::setBox(1);
    HostTrace::setLevel(0);
    HostTrace::setStderr(false);
    HostTrace::setLogFile(EmptyPath);
    if (!FileSystem::makeDirectories(Path("/vm/tmp"))) {
        std::perror("/vm/tmp");
        std::abort();
    }
    static NullBuffer* nothing = new NullBuffer;
    std::cerr.rdbuf(nothing);
}

const String& root() {
    return rootText();
}

void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    __builtin_trap();
}

String written(const Properties& set) {
    std::ostringstream out;
    FUZZ_CHECK(set.save(out));
    return out.str();
}

std::size_t temporaryFiles() {
    std::size_t n = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(root() + "/vm/tmp", error), end;
         !error && it != end; it.increment(error))
        ++n;
    FUZZ_CHECK(!error);
    return n;
}

String Bytes::take(std::size_t n) {
    std::size_t count = std::min(n, size_ - std::min(at_, size_));
    String text(reinterpret_cast<const char*>(data_) + at_, count);
    at_ += count;
    return text;
}

}  // namespace fuzz

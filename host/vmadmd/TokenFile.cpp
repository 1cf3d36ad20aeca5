#include "host/vmadmd/TokenFile.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "host/platform/HexText.h"
#include "host/vmadmd/PrivateFile.h"

namespace {

constexpr std::size_t kTokenBytes = 32;

bool isToken(const String& text) {
    return text.size() == 2 * kTokenBytes &&
           text.find_first_not_of("0123456789abcdef") == String::npos;
}

}  // namespace

String TokenFile::fresh(std::size_t count) {
    String bytes(count, '\0');
    std::size_t got = 0;
    while (got < count) {
        ssize_t n = ::getrandom(bytes.data() + got, count - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return String();
        got += static_cast<std::size_t>(n);
    }
    return hexBytes(bytes);
}

bool TokenFile::obtain(const String& path, String& token, String& error) {
    token.clear();
    if (!read(path, token, error)) return false;
    if (!token.empty()) return true;
    token = fresh();
    if (token.empty()) {
        error = String("no random bytes for the token: ") + std::strerror(errno);
        return false;
    }
    return write(path, token, error);
}

bool TokenFile::read(const String& path, String& token, String& error) {
    String held;
    bool exists = false;
    if (!PrivateFile::read(path, "token file", 2 * kTokenBytes + 2, held, exists, error))
        return false;
    if (!held.empty() && held.back() == '\n') held.pop_back();
    if (isToken(held)) token = held;
    return true;
}

bool TokenFile::write(const String& path, const String& token, String& error) {
    return PrivateFile::write(path, "token file", token + "\n", error);
}

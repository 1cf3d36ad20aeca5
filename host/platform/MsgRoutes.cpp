#include "host/platform/MsgRoutes.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "host/platform/HostPlatform.h"

namespace {

String trimmed(const String& text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == String::npos) return String();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool allDigits(const String& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool validHost(const String& host) {
    if (host.empty()) return false;
    for (char c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::strchr(".-_:", c) == nullptr)
            return false;
    return true;
}

// What the process last read, and which file state it came from.
struct Cache {
    std::mutex mutex;
    bool loaded = false;
    String path;
    struct stat state {};
    bool exists = false;
    MsgRoutes::Table table;
    String error;
};

Cache& cache() {
    static Cache* instance = new Cache;  // never destroyed: used until exit
    return *instance;
}

bool sameState(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

void reload(Cache& c, const String& path, bool exists, const struct stat& state) {
    c.loaded = true;
    c.path = path;
    c.exists = exists;
    c.state = state;
    c.table.clear();
    c.error.clear();
    if (!exists) return;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        c.error = "cannot read the routes file " + path + ": " + std::strerror(errno);
        return;
    }
    if (!MsgRoutes::parse(text.str(), path, c.table, c.error)) c.table.clear();
}

}  // namespace

String MsgRoutes::Route::text() const {
    bool v6 = host.find(':') != String::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

String MsgRoutes::file() {
    const char* named = std::getenv("VM_MSG_ROUTES");
    if (named != nullptr && *named != '\0') return named;
    return HostPlatform::hostPath(Path("/VM/config/msg_routes"));
}

bool MsgRoutes::parseAddress(const String& text, Route& route, String& error, bool allowPortZero) {
    std::size_t colon = text.rfind(':');
    if (colon == String::npos) {
        error = "'" + text + "' is not HOST:PORT";
        return false;
    }
    String host = text.substr(0, colon), port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != String::npos)
        host.clear();  // IPv6 needs brackets
    if (!validHost(host)) {
        error = "'" + text + "' has no valid host (an IPv6 address goes in brackets)";
        return false;
    }
    long number = allDigits(port) && port.size() <= 5 ? std::strtol(port.c_str(), nullptr, 10) : -1;
    if (number < (allowPortZero ? 0 : 1) || number > 65535) {
        error = "'" + text + "' has no valid port (1-65535)";
        return false;
    }
    route.host = host;
    route.port = static_cast<std::uint16_t>(number);
    return true;
}

bool MsgRoutes::parse(const String& text, const String& fileName, Table& table, String& error) {
    std::istringstream in(text);
    String line;
    for (int number = 1; std::getline(in, line); ++number) {
        String where = fileName + ":" + std::to_string(number) + ": ";
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        std::size_t gap = line.find_first_of(" \t");
        String box = line.substr(0, gap);
        String address = gap == String::npos ? String() : trimmed(line.substr(gap));
        long boxNumber =
            allDigits(box) && box.size() <= 5 ? std::strtol(box.c_str(), nullptr, 10) : 0;
        if (boxNumber < 1 || boxNumber > 65535) {
            error = where + "'" + box + "' is not a box number (1-65535)";
            return false;
        }
        if (address.empty() || address.find_first_of(" \t") != String::npos) {
            error = where + "expected 'BOX HOST:PORT', got '" + line + "'";
            return false;
        }
        Route route;
        String why;
        if (!parseAddress(address, route, why)) {
            error = where + why;
            return false;
        }
        if (!table.emplace(static_cast<std::uint32_t>(boxNumber), route).second) {
            error = where + "box " + box + " has a route already";
            return false;
        }
    }
    return true;
}

MsgRoutes::Lookup MsgRoutes::find(std::uint32_t box, Route& route, String& error) {
    String path = file();
    struct stat state {};
    bool exists = ::stat(path.c_str(), &state) == 0;
    Cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!c.loaded || c.path != path || c.exists != exists || (exists && !sameState(c.state, state)))
        reload(c, path, exists, state);
    if (!c.error.empty()) {
        error = c.error;
        return Lookup::bad;
    }
    auto it = c.table.find(box);
    if (it == c.table.end()) return Lookup::local;
    route = it->second;
    return Lookup::tcp;
}

#include "platform/FileNaming.h"

#include <cstring>
#include <string>

void zrb_filename(const char* dir, const char* name, char* out) {
    std::string path;
    if (name != nullptr && name[0] == '/') {
        path = name;
    } else if (name != nullptr) {
        path = dir != nullptr && dir[0] != '\0' ? dir : "/VM/config";
        if (path.back() != '/') path += '/';
        path += name;
    }
    if (path.size() >= static_cast<std::size_t>(zrbFilenameMax)) path.clear();
    std::memcpy(out, path.c_str(), path.size() + 1);
}

#include "platform/Path.h"

const Path EmptyPath;

Path Path::operator/(const String& name) const {
    if (text_.empty() || text_.back() == '/') return Path(text_ + name);
    return Path(text_ + "/" + name);
}

std::ostream& operator<<(std::ostream& out, const Path& path) {
    return out << path.text();
}

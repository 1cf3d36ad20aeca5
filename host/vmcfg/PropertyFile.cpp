#include "host/vmcfg/PropertyFile.h"

#include <cerrno>

#include "platform/FileStream.h"
#include "platform/FileSystem.h"

PropertyFile::PropertyFile(Path path) : path_(std::move(path)) {}

bool PropertyFile::load(bool allowMissing) {
    reinit();
    if (allowMissing && !FileSystem::exists(path_)) return true;
    return obtain(true);
}

bool PropertyFile::obtain(bool replace) {
    FileStream in(path_, std::ios::in);
    return obtain(in, replace);
}

bool PropertyFile::saveThem() {
    Path temporary(path_.text() + ".new");
    std::size_t slash = path_.text().rfind('/');
    if (slash != String::npos && slash > 0)
        FileSystem::makeDirectories(path_.text().substr(0, slash));
    FileStream out(temporary, std::ios::out | std::ios::trunc, 0644);
    if (out.is_open()) save(out);
    bool written = out.is_open() && !out.fail();
    written = out.close() && written;
    if (!written || FileSystem::rename(temporary, path_) != 0) {
        int error = errno;
        FileSystem::unlink(temporary);
        errno = error;
        error_ = OS_SYSTEM_ERROR;
        return false;
    }
    modified_ = false;
    return true;
}

#include "properties/PropertyValueFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "platform/FileStream.h"
#include "platform/FileSystem.h"

namespace {

const Path TempDirectory("/vm/tmp");

// Size of an open file; -1 when it cannot be told.
off_t openFileSize(const FileStream& file) {
    struct stat info;
    return FileSystem::fstat(file.fd(), &info) == 0 ? info.st_size : -1;
}

}  // namespace

PropertyValueFile::PropertyValueFile()
    : path_(FileSystem::uniqueTempPath(TempDirectory, String(), ".p")) {}

PropertyValueFile::PropertyValueFile(const String& bytes) : PropertyValueFile() {
    modify(bytes, 0);
}

// The file may never have been written; a missing file is no failure here.
PropertyValueFile::~PropertyValueFile() {
    FileSystem::unlink(path_);
}

PropertyValueFile::operator String() const {
    FileStream file(path_, std::ios::in);
    off_t size = file ? openFileSize(file) : -1;
    if (size <= 0) return String();
    String bytes(static_cast<std::size_t>(size), '\0');
    file.read(bytes.data(), size);
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

String PropertyValueFile::get(unsigned long position, unsigned long count) const {
    FileStream file(path_, std::ios::in);
    off_t size = file ? openFileSize(file) : -1;
    if (size < 0 || position >= static_cast<unsigned long>(size)) return String();
    // Never more than the file holds, however large `count` is.
    std::size_t wanted =
        std::min<unsigned long>(count, static_cast<unsigned long>(size) - position);
    if (!file.seekg(static_cast<std::streamoff>(position), std::ios::beg)) return String();
    String bytes(wanted, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(wanted));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

void PropertyValueFile::modify(const String& text, unsigned long position) {
    struct stat info;
    if (FileSystem::stat(path_, &info) == 0 &&
        static_cast<unsigned long>(info.st_size) > position) {
        if (FileSystem::truncate(path_, static_cast<off_t>(position)) != 0) {
            int error = errno;
            std::cerr << "PropertyValueFile::modify() - can't truncate " << path_ << " from "
                      << info.st_size << " bytes to " << position << " bytes, errno = " << error
                      << " (" << std::strerror(error) << ")" << std::endl;
            return;
        }
    }
    FileStream file(path_, std::ios::out | std::ios::app);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
}

unsigned long PropertyValueFile::length() const {
    struct stat info;
    if (FileSystem::stat(path_, &info) != 0) return 0;
    return static_cast<unsigned long>(info.st_size);
}

bool PropertyValueFile::read(std::istream& in, unsigned long count) {
    FileStream file(path_, std::ios::out);
    if (!file) return false;
    char chunk[ChunkSize];
    for (unsigned long left = count; left > 0;) {
        std::size_t step = std::min<unsigned long>(ChunkSize, left);
        in.read(chunk, static_cast<std::streamsize>(step));
        file.write(chunk, in.gcount());
        if (static_cast<std::size_t>(in.gcount()) < step) return false;
        left -= step;
    }
    return file.close() && in.good();
}

bool PropertyValueFile::write(std::ostream& out) const {
    FileStream file(path_, std::ios::in);
    return file && copy_stream(file, out);
}

bool PropertyValueFile::copy_stream(std::istream& from, std::ostream& to) const {
    char chunk[ChunkSize];
    while (from) {
        from.read(chunk, ChunkSize);
        to.write(chunk, from.gcount());
        if (static_cast<std::size_t>(from.gcount()) < ChunkSize) break;
    }
    return to.good();
}

bool PropertyValueFile::can_handle_size(unsigned long size) const {
    return size > StringRequired;
}

PropertyValueRepresentationBase* PropertyValueFile::clone() const {
    auto* copy = new PropertyValueFile;
    FileStream to(copy->path_, std::ios::out);
    FileStream from(path_, std::ios::in);
    if (to && from) copy_stream(from, to);
    return copy;
}

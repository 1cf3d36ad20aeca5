#include "util/MarkerFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "platform/FileNaming.h"
#include "platform/FileSystem.h"
#include "platform/TraceService.h"

namespace {

char markerPath[zrbFilenameMax];

int cantWrite() {
    verbose("lv_mkr: can't write file");
    return 9;
}

}  // namespace

int lv_mkr(const char* name, const char* text) {
    if (name == nullptr) return cantWrite();
    zrb_filename(nullptr, name, markerPath);
    const Path path(markerPath);
    int fd = markerPath[0] == '\0' ? -1 : FileSystem::open(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return cantWrite();
    if (text == nullptr) {
        FileSystem::close(fd);
        return cantWrite();
    }
    verbose("writing %s to %s", text, markerPath);
    // One write of the whole line: a failed write leaves the file empty,
    // which the size check below reports.
    std::string line = std::string(text) + '\n';
    (void)FileSystem::write(fd, line.data(), line.size());
    struct stat info;
    int rc = FileSystem::stat(path, &info);
    int result = 0;
    if (rc != 0) {
        verbose("lv_mkr: stat failed rc=%d", rc);
        result = rc;
    } else if (info.st_size == 0) {
        verbose("lv_mkr: %s", "ESRCH");
        result = 3;
    } else {
        verbose("lv_mkr: %s", "pass");
    }
    FileSystem::close(fd);
    return result;
}

#include "host/platform/PlatformConnection.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>

#include "host/platform/HostPlatform.h"
#include "host/platform/PlatformDatabase.h"

PlatformConnection::PlatformConnection(bool write) {
    String file = HostPlatform::hostPath(PlatformDatabase::path);
    struct stat info;
    if (::stat(file.c_str(), &info) != 0) {
        missing_ = errno == ENOENT;
        return;
    }
    int flags = (write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        return;
    }
    sqlite3_busy_timeout(db_, 5000);
    sqlite3_exec(db_, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
}

PlatformConnection::~PlatformConnection() {
    sqlite3_close(db_);
}

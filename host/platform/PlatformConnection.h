#pragma once

struct sqlite3;

// One open connection to the stand-in's database (PlatformDatabase::path
// under the platform root), with foreign keys enforced and a 5 s busy wait;
// closed by the destructor. For the directory and message-store calls.
class PlatformConnection {
  public:
    // Opens the database read-only or for writing; a missing database is not
    // created (ok() is then false and missing() true).
    explicit PlatformConnection(bool write);
    ~PlatformConnection();
    PlatformConnection(const PlatformConnection&) = delete;
    PlatformConnection& operator=(const PlatformConnection&) = delete;

    bool ok() const { return db_ != nullptr; }
    bool missing() const { return missing_; }
    sqlite3* db() const { return db_; }

  private:
    sqlite3* db_ = nullptr;
    bool missing_ = false;
};

#pragma once

// An SQLite VFS over the default one that writes each WAL frame with one
// system call instead of two. SQLite writes a frame as its 24-byte header
// and then its page, two pwrite(2)s side by side; on a virtual machine a
// system call costs about a microsecond, and a journaled save writes six
// frames. The header is held back and goes out in one write with the page
// that follows it.
//
// Nothing else changes: the bytes, their offsets and their order on disk
// are those SQLite asked for. SQLite's writer follows a header with its
// page at once, and a header still held is written before any other call
// on the file (a write elsewhere, read, sync, size, lock, close), so no
// reader, checkpoint or crash can tell the difference. When memory to join
// them is short, the two go out as SQLite wrote them. If the joined write
// fails, SQLite sees the page's write fail and rolls back, as it would
// after a failed page write. Files other than WAL files are the default
// VFS's own, untouched.
class FrameJoiningVfs {
  public:
    // The name to open a database with (sqlite3_open_v2's last argument),
    // registered with SQLite on the first call (not as the default); null
    // when it could not be registered, which opens with the default VFS.
    // Safe from any thread.
    static const char* name();
};

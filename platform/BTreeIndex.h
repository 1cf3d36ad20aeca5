#pragma once

#include <cstdint>

#include "platform/Path.h"

// The platform's B-tree index service: files of keyed records shared by many
// processes. A record is found by a key of up to 65535 bytes and holds one
// byte string. Descriptors are small non-negative numbers owned by the
// process; several descriptors may name one index file.
//
// Every call answers with a result code: 0 success, 2 no such record (reads
// and deletes), otherwise one of the failure codes below. None of the calls
// gives up the run token; each returns once the index has answered. A write
// is durable when it returns 0, and every later read in any process sees it.
// Descriptors stay usable in a child made by fork: the child reopens the
// index on its first call. Do not fork while another thread of the process
// is inside one of these calls.
//
// The stand-in platform keeps each index in an LMDB file, whose keys are at
// most 511 bytes: it refuses longer keys with BTREE_BAD_ARGUMENT. With
// $VM_INDEX set to an etcd:// URL it keeps them in an etcd cluster instead
// (keys up to 65535 bytes, a record at most the cluster's request limit, else
// BTREE_FULL).

// The key type an index is created with (4 class of service, 5 subscriber).
using indx_key_t = std::int32_t;

enum BTreeIndexResult : int {
    BTREE_OK = 0,
    BTREE_NO_RECORD = 2,
    BTREE_IO_ERROR = 5,        // the index file could not be read or written
    BTREE_BAD_DESCRIPTOR = 9,  // not a descriptor of an open index
    BTREE_READ_ONLY = 13,      // a write through a descriptor opened read-only
    BTREE_BAD_ARGUMENT = 22,   // an empty key, or a null pointer where data is needed
    BTREE_FULL = 28,           // the index file has no room left for the record
};

// Open flags: 0 read only, 2 read and write.
constexpr int BTREE_READ = 0;
constexpr int BTREE_READ_WRITE = 2;

// Opens an existing index file. Returns a descriptor, or -1 when the file
// does not exist (errno ENOENT) or is not an index (EINVAL). Never creates it.
int zrbopen(const Path& path, int flags, int mode);
// Creates the index file and its directory (or opens it when another process
// has just created it; it keeps the key type it was created with) and returns
// a descriptor, or -1 with errno set. `mode` applies to created files, under
// the umask.
int creat_index(const Path& path, indx_key_t keyType, int flags, int mode);
// Forgets the descriptor; the index file stays open for the process's other
// descriptors. 0, or BTREE_BAD_DESCRIPTOR.
int close_index(int fd);

// Reads at most bufferSize bytes of the key's record into buffer and sets
// *dataLength to the record's whole length (0 when there is no record).
int reade(int fd, std::uint16_t keyLength, const char* key, unsigned long bufferSize,
          unsigned long* dataLength, char* buffer);
// Reads the key's whole record: *data points at its bytes, *dataLength holds
// their count. The bytes belong to the service and stay valid until the
// calling thread's next call of the service.
int reade_dvalp(int fd, std::uint16_t keyLength, const char* key, unsigned long* dataLength,
                char** data);
// Stores data as the key's record, replacing what was there.
int writerec(int fd, std::uint16_t keyLength, const char* key, unsigned long dataLength,
             const char* data);
// Stores data as the key's record only if the record is still what the
// calling thread's last read of the key through fd saw (no record included),
// so that an owner's read-then-write cannot silently undo another writer's
// write in between. A read is good for one fenced write. When the record has
// changed since, nothing is written and the answer is BTREE_IO_ERROR with
// errno ESTALE (traced at level 1 with the key): read again, redo the change,
// write again. BTREE_BAD_ARGUMENT when the thread's last read was of another
// key or descriptor, or has been used by a write already.
int writerec_fenced(int fd, std::uint16_t keyLength, const char* key, unsigned long dataLength,
                    const char* data);
// Deletes the key's record; 2 when there was none.
int deleterec(int fd, std::uint16_t keyLength, const char* key);
// Deletes the key's record only if it is still what the calling thread's last
// read of the key through fd saw, as writerec_fenced writes: a record written
// or deleted since is left alone, and the answer is BTREE_IO_ERROR with errno
// ESTALE. 2 when there was no record when read and there is none still.
int deleterec_fenced(int fd, std::uint16_t keyLength, const char* key);
// Drops any copy of the key's record that the service keeps for this process,
// so that the next read sees what the owner wrote last. The stand-in keeps no
// copies (each read sees the last durable write), so it only checks its
// arguments.
int invalidate_key(int fd, std::uint16_t keyLength, const char* key);

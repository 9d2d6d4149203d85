// Locks between client processes, on a companion file next to each record
// file ("<file>-lock").
//
// Open-file-description locks (F_OFD_SETLK) are used because the kernel
// drops them when the last descriptor of the open file goes away, so a
// client that crashes or is killed never leaves a lock behind, and because,
// unlike classic POSIX record locks, closing some other descriptor of the
// same file does not silently release them.  They are kept on a separate
// file so they cannot interfere with the POSIX locks SQLite takes on the
// database itself.  Byte ranges of the companion file:
//   byte 0          the gate: shared by every open, exclusive for an
//                   exclusive open or while a file is being replaced
//   byte 1          the transaction byte: exclusive while a client's
//                   transaction has written to the file
//   2^32 + position one byte per record, for single and multiple record locks
// The companion file is never removed: removing a lock file while another
// process holds it open would split the clients into two groups.
#pragma once

#include <cstdint>
#include <string>

namespace kestrova {

inline constexpr uint64_t kGateLockByte = 0;
inline constexpr uint64_t kTransactionLockByte = 1;
inline constexpr uint64_t kRecordLockBase = uint64_t{1} << 32;

enum class OsLockResult { kAcquired, kBusy, kError };

// Opens (creating when missing) the companion lock file of a data file given
// by its native path.  Returns the descriptor (close-on-exec) or -1.
int OpenLockFile(const std::string& nativeDataPath);
void CloseLockFile(int fd);

// Takes a shared or exclusive lock on one byte.  With `wait` the call blocks
// until the lock is granted.  A lock this descriptor already holds is
// converted (shared <-> exclusive).
OsLockResult LockByte(int fd, uint64_t offset, bool exclusive, bool wait);
void UnlockByte(int fd, uint64_t offset);

// The change counter kept in the first 8 bytes of the lock file (mapped
// shared): writers make it odd while they may commit and even again after,
// so a reader can tell in one memory read whether anything was committed
// since it last looked.  nullptr when the file cannot be mapped (the reader
// then always asks the database).
uint64_t* MapChangeCounter(int fd);
void UnmapChangeCounter(uint64_t* counter);
// Writers' side: odd before a commit may happen, even after it.
void MarkChangeStarting(uint64_t* counter);
void MarkChangeDone(uint64_t* counter);
// Readers' side: the current value (odd = a change may be in flight).
uint64_t ReadChangeCounter(const uint64_t* counter);

// True when another open file description holds a lock on the byte that
// conflicts with a lock of the given kind.
bool ByteHeldByOther(int fd, uint64_t offset, bool exclusive);

}  // namespace kestrova

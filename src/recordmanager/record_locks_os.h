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
#include <vector>

namespace kestrova {

inline constexpr uint64_t kGateLockByte = 0;
inline constexpr uint64_t kTransactionLockByte = 1;
inline constexpr uint64_t kRecordLockBase = uint64_t{1} << 32;

enum class OsLockResult { kAcquired, kBusy, kError };

// Opens (creating when missing, as the umask allows) the companion lock
// file of a data file given by its native path.  Returns the descriptor
// (close-on-exec) or -1.  A lock file this process may not write to is
// opened for reading, and `readOnly` (when given) says so.
int OpenLockFile(const std::string& nativeDataPath, bool* readOnly = nullptr);
void CloseLockFile(int fd);

// Takes a shared or exclusive lock on one byte.  With `wait` the call blocks
// until the lock is granted.  A lock this descriptor already holds is
// converted (shared <-> exclusive).
OsLockResult LockByte(int fd, uint64_t offset, bool exclusive, bool wait);
void UnlockByte(int fd, uint64_t offset);

// The change counter kept in the first 8 bytes of the lock file (mapped
// shared): a cache hint for readers, never a lock.  Every writer, holding
// SQLite's write lock and before it may commit, moves the counter to the
// next odd value (its mark); after its commit or rollback it makes it even
// (mark + 1) only if the counter still holds its mark, since a later mark
// means a later writer that may still commit.  So the counter only grows,
// it is odd whenever a writer may be between its mark and its commit, and
// a reader that saw the same even value before and after reading knows
// nothing was committed in between.  nullptr when the file cannot be
// mapped (the reader then always asks the database).
uint64_t* MapChangeCounter(int fd);
void UnmapChangeCounter(uint64_t* counter);
// Writers' side: returns the mark to hand to MarkChangeDone (0 without a
// counter).
uint64_t MarkChangeStarting(uint64_t* counter);
void MarkChangeDone(uint64_t* counter, uint64_t mark);
// Readers' side: the current value (odd = a change may be in flight).
uint64_t ReadChangeCounter(const uint64_t* counter);

// Beside the counter, the same mapping holds a short journal of the
// records writers changed: the number of entries ever written, the number
// there was when the latest writer set its mark, and a ring of the latest
// kJournalSlots entries.  A writer notes every record it inserts, updates
// or deletes before it commits, while it holds SQLite's write lock and its
// mark (so one writer notes at a time), and notes "anything" for a change it
// cannot name by record (a dead transaction put back).  A reader holding
// records read ahead then reads again only the records named since, instead
// of the whole batch.  Like the counter, the journal is a hint for caches
// only; see docs/record-manager.md (Read-ahead) for why a reader may trust it.
constexpr uint64_t kJournalSlots = 509;
// Writers' side.  `keysKept`: the record was updated without changing any
// key, or deleted (a reader only cares if it holds it); otherwise it was
// inserted or moved along some key (it may now be anywhere).
void NoteRecordChanged(uint64_t* counter, uint32_t pos, bool keysKept);
void NoteAnythingChanged(uint64_t* counter);

// Readers' side.  A view of the journal, read before a database read: a
// change that read does not see has all its notes from `resume` on, where
// the next check starts.  When the view read after the database read is
// the same, nothing was noted meanwhile, so every change the read saw was
// noted before `head`.
struct JournalView {
  uint64_t counter = 1;
  uint64_t head = 0;
  uint64_t resume = 0;  // the head, or where the writer in flight began noting
  bool usable = false;  // no mapping: nothing can be told
};
JournalView ReadJournal(const uint64_t* counter);
bool SameJournal(const JournalView& a, const JournalView& b);
// The records noted from entry `from` to `to`, split as NoteRecordChanged
// was told.  False when that cannot be told (the ring has moved on, or
// something was noted as "anything").
bool NotedRecords(const uint64_t* counter, uint64_t from, uint64_t to,
                  std::vector<uint32_t>& keptKeys, std::vector<uint32_t>& moved);

// True when another open file description holds a lock on the byte that
// conflicts with a lock of the given kind.
bool ByteHeldByOther(int fd, uint64_t offset, bool exclusive);

}  // namespace kestrova

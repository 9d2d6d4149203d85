// The calling process's side of the record manager: its open files, its
// position blocks, its record locks and its transaction.  Internal to
// src/recordmanager/.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "recordmanager/store.h"

namespace kestrova {

// One record file as this process has it open, shared by all the position
// blocks that opened it: one SQLite connection (so a transaction sees its
// own changes through every position block) and one descriptor of the lock
// file (so the record locks are the process's, as the interface wants).
struct SharedFile {
  std::string realPath;
  StoreFile store;
  int lockFd = -1;
  uint64_t* changes = nullptr;  // the shared change counter (record_locks_os.h)
  uint64_t changeMark = 0;      // this process's mark on it while it writes
  bool lockReadOnly = false;    // the lock file could only be opened for reading
  uint64_t localWrites = 0;     // writes of this process, which its own reads must see
  int refs = 0;                 // open position blocks
  int exclusiveOpens = 0;       // of those, opened exclusively
  bool inTransaction = false;
  std::map<uint32_t, int> recordLocks;  // position -> how many handles hold it
  // Stat answers are cached until the database changes.
  bool countsValid = false;
  unsigned dataVersion = 0;
  uint32_t recordCount = 0;
  std::vector<uint32_t> distinctValues;
};

// What a position block stands for.
struct Handle {
  bool used = false;
  uint64_t token = 0;
  SharedFile* file = nullptr;
  bool readOnly = false;
  bool exclusive = false;
  // The position: a place on a key path (Get Next/Previous go on from it)
  // and, unless the record was deleted, a current record.
  int keyNumber = -1;
  bool hasPosition = false;
  bool hasCurrent = false;
  uint32_t pos = 0;
  int64_t ver = 0;  // the version read, for the optimistic Update check
  std::string encodedKey;
  bool keyIsNull = false;
  int64_t seq = 0;
  uint32_t singleLock = 0;  // 0 = none
  std::set<uint32_t> multipleLocks;
  // Records read ahead by Get Next/Previous, kept up to date through the
  // change journal (record_locks_os.h) while this process does not write
  // to the file.
  std::vector<StoreRow> ahead;
  std::size_t aheadNext = 0;
  // Where each record of the batch stands in it, by position (pos, index),
  // sorted; made when a change is first noted, remade when one is dropped.
  std::vector<std::pair<uint32_t, uint32_t>> aheadPlaces;
  // Records further on that others changed in place: read again at their
  // turn rather than at every step.
  std::vector<uint32_t> aheadStale;
  int aheadKey = -1;
  bool aheadForward = true;
  int aheadLimit = 0;         // how many records the last batch asked for
  bool aheadTrusted = false;  // false: only the record given out was current
  uint64_t aheadResume = 0;   // the journal entry the next check starts from
  uint64_t aheadLocalWrites = 0;
};

struct ClientState {
  pid_t pid = 0;
  std::vector<std::unique_ptr<SharedFile>> files;
  std::vector<Handle> handles;
  bool inTransaction = false;
  uint64_t nextToken = 0;
  bool exitHookRegistered = false;
};

// The process's state.  After a fork the child starts with an empty state:
// the parent's SQLite connections must not be used by a second process.
ClientState& Client();

// The handle a position block names, or nullptr (never opened, closed,
// overwritten, or opened by another process).
Handle* HandleOf(const void* positionBlock);
// Claims a handle for `file` and writes its reference into the block.
Handle& NewHandle(void* positionBlock, SharedFile& file);
// Releases the handle's locks and its share of the file; clears the block.
void CloseHandle(Handle& handle, void* positionBlock);

SharedFile* FindSharedFile(const std::string& realPath);
// Closes the connection and the lock file when no handle and no
// transaction uses the file any more.
void ReleaseSharedFileIfUnused(SharedFile& file);

// SQLite result codes as statuses.
RecordStatus StatusFromSqlite(int rc);

// Record locks of the process (counted per handle holding them).
// kStatusRecordLocked when another client holds the record (no wait).
RecordStatus LockRecord(SharedFile& file, uint32_t pos, bool wait);
void UnlockRecord(SharedFile& file, uint32_t pos);
void ReleaseSingleLock(Handle& handle);
void ReleaseAllLocks(Handle& handle);

// Brackets one writing operation: outside a transaction, its own committed
// SQLite transaction; inside one, a savepoint of the client's transaction
// (the first write to a file takes the file's transaction lock).
RecordStatus BeginWrite(SharedFile& file);
RecordStatus FinishWrite(SharedFile& file, bool keep);

// Ends the client's transaction on every file it wrote to: one file is
// simply committed; several go through the transaction log so that a crash
// or power loss at any point leaves all of them changed or none (see
// docs/record-manager.md, Transactions).
RecordStatus CommitTransaction();
void RollBackTransaction();

// Aborts the transaction, releases every lock, closes every file.
void ResetClient();

// Settles the undo images that a dead client's End left in a file just
// opened by this process: put back when its transaction had not committed,
// dropped when it had.  Skipped while another client has a transaction on
// the file (it will be done by the next open or write).  Then removes the
// logs beside the file that no file needs any more.
void RecoverOnOpen(SharedFile& file);

// Points of a multi-file End, for tests that end the process there.
enum class EndStep {
  kLogWritten,      // the log is durable, no file committed yet
  kFileCommitted,   // `count` files committed
  kLogCommitted,    // the log says committed
  kImagesCleared,   // the images of `count` files dropped
};
using EndHook = void (*)(EndStep step, int count);
// Tests only: called at every point above (nullptr: none).
void SetEndTransactionHook(EndHook hook);

}  // namespace kestrova

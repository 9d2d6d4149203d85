#include "recordmanager/client_state.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/host.h"
#include "recordmanager/position_block.h"
#include "recordmanager/record_locks_os.h"
#include "recordmanager/transaction_log.h"

namespace kestrova {
namespace {

// The position blocks of record files on disk.
constexpr uint8_t kBlockMarker[4] = {'K', 's', 'R', 'm'};

ClientState& RawState() {
  static ClientState state;
  return state;
}

// Connections a forked child inherited: never closed by the child (that
// would checkpoint and unlink files the parent still uses), kept reachable.
std::vector<std::unique_ptr<SharedFile>>& Abandoned() {
  static std::vector<std::unique_ptr<SharedFile>> files;
  return files;
}

void ResetForExit() { ResetClient(); }

// Set in a child right after fork.  Asking getpid() on every call instead
// would cost a system call per record read.
std::atomic<bool> g_forked{false};
void MarkForked() { g_forked.store(true); }

EndHook g_endHook = nullptr;

void AtEndStep(EndStep step, int count) {
  if (g_endHook) g_endHook(step, count);
}

// Inside a write transaction of `store`: settles the images of every
// transaction whose owner has ended.  `settled` receives their ids;
// `ownerActive` tells whether images of a live owner were left alone.
int SettleUndoImages(StoreFile& store, std::vector<std::string>& settled, bool& ownerActive) {
  settled.clear();
  ownerActive = false;
  std::vector<std::string> txs;
  int rc = PendingUndoTransactions(store, txs);
  for (const std::string& tx : txs) {
    if (rc != SQLITE_OK) break;
    switch (InspectTransactionLog(tx)) {
      case LogState::kOwnerActive:
        ownerActive = true;
        continue;
      case LogState::kCommitted:
        rc = ClearUndoImages(store, tx);
        break;
      case LogState::kNotCommitted:
        rc = RestoreUndoImages(store, tx);
        break;
    }
    settled.push_back(tx);
  }
  return rc;
}

// Takes SQLite's write lock on the file for a change, once the file holds
// no undo images: images of dead owners are settled first, in a transaction
// of their own; images of a live owner (its End is under way) answer
// SQLITE_BUSY.  The check runs under the same lock that orders every write,
// so no change can begin between it and the write.  On SQLITE_OK the write
// transaction is open.
int BeginSettledWrite(SharedFile& file) {
  for (;;) {
    int rc = ExecStore(file.store, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return rc;
    std::vector<std::string> txs;
    rc = PendingUndoTransactions(file.store, txs);
    if (rc == SQLITE_OK && txs.empty()) return SQLITE_OK;
    std::vector<std::string> settled;
    bool ownerActive = false;
    if (rc == SQLITE_OK) rc = SettleUndoImages(file.store, settled, ownerActive);
    if (rc == SQLITE_OK && settled.empty()) rc = SQLITE_BUSY;  // only live owners' images
    uint64_t mark = 0;
    if (rc == SQLITE_OK) {
      mark = MarkChangeStarting(file.changes);
      NoteAnythingChanged(file.changes);  // records put back are not named one by one
      rc = ExecStore(file.store, "COMMIT");
      MarkChangeDone(file.changes, mark);
    }
    if (rc != SQLITE_OK) {
      ExecStore(file.store, "ROLLBACK");
      return rc;
    }
    for (const std::string& tx : settled) RemoveLogIfSettled(tx);
    // Round again: the write starts only on a file without images.
  }
}

// Runs `work` in a write transaction of its own on a file of this client.
template <typename Work>
bool InOwnWriteTransaction(SharedFile& file, Work work) {
  if (ExecStore(file.store, "BEGIN IMMEDIATE") != SQLITE_OK) return false;
  if (work() == SQLITE_OK && ExecStore(file.store, "COMMIT") == SQLITE_OK) return true;
  ExecStore(file.store, "ROLLBACK");
  return false;
}

// Ends the SQLite transactions of a multi-file End.  The order is what makes
// it all or nothing: images and log durable before the first commit, the
// log marked committed only after the last one.
RecordStatus CommitAcrossFiles(const std::vector<SharedFile*>& files) {
  TransactionLog log;
  std::vector<std::string> names;
  for (SharedFile* file : files) names.push_back(file->realPath);
  // The log's path is the transaction's id, so the log is made first; the
  // images only have to be in place before the first commit.
  bool ok = WriteTransactionLog(files.front()->realPath, names, log);
  for (SharedFile* file : files) {
    ok = ok && KeepUndoImages(file->store, log.path) == SQLITE_OK &&
         DropCapturedImages(file->store) == SQLITE_OK;
  }
  if (!ok) {
    for (SharedFile* file : files) ExecStore(file->store, "ROLLBACK");
    if (log.fd >= 0) RemoveTransactionLog(log);
    return kStatusIoError;
  }
  AtEndStep(EndStep::kLogWritten, 0);

  std::size_t committed = 0;
  while (committed < files.size() &&
         ExecStore(files[committed]->store, "COMMIT") == SQLITE_OK) {
    ++committed;
    AtEndStep(EndStep::kFileCommitted, static_cast<int>(committed));
  }
  const bool allCommitted = committed == files.size() && MarkTransactionCommitted(log);
  if (!allCommitted) {
    // Undo it ourselves: the rest rolled back, the committed ones put back
    // from their images.  Whatever fails here is left, with the log still
    // pending, to the recovery of the next client.
    for (std::size_t i = committed; i < files.size(); ++i) ExecStore(files[i]->store, "ROLLBACK");
    // A failed mark may have reached the disk all the same: it must say
    // pending again before any file is put back, or a crash in between
    // would have recovery keep the files not yet put back.
    bool undone = committed < files.size() ||
                  (pwrite(log.fd, "P", 1, 0) == 1 && fdatasync(log.fd) == 0);
    for (std::size_t i = 0; undone && i < committed; ++i) {
      undone = InOwnWriteTransaction(*files[i], [&] {
        NoteAnythingChanged(files[i]->changes);  // still under this transaction's mark
        return RestoreUndoImages(files[i]->store, log.path);
      });
    }
    if (undone) {
      RemoveTransactionLog(log);
    } else {
      CloseTransactionLog(log);
    }
    return kStatusIoError;
  }
  AtEndStep(EndStep::kLogCommitted, 0);

  // Committed.  Dropping the images is housekeeping: one that fails is
  // dropped later by recovery, which finds the log committed.
  bool cleared = true;
  int count = 0;
  for (SharedFile* file : files) {
    cleared = InOwnWriteTransaction(*file, [&] { return ClearUndoImages(file->store, log.path); }) &&
              cleared;
    AtEndStep(EndStep::kImagesCleared, ++count);
  }
  if (cleared) {
    RemoveTransactionLog(log);
  } else {
    CloseTransactionLog(log);
  }
  return kStatusOk;
}

}  // namespace

void SetEndTransactionHook(EndHook hook) { g_endHook = hook; }

void RecoverOnOpen(SharedFile& file) {
  std::vector<std::string> txs;
  if (PendingUndoTransactions(file.store, txs) == SQLITE_OK && !txs.empty() &&
      LockByte(file.lockFd, kTransactionLockByte, true, false) == OsLockResult::kAcquired) {
    // Held: no client's transaction is between its first write here and
    // its End, so the write lock comes at once.  Images of a live owner
    // (an End under way) make it give up; the next open or write settles.
    if (BeginSettledWrite(file) == SQLITE_OK) ExecStore(file.store, "ROLLBACK");
    UnlockByte(file.lockFd, kTransactionLockByte);
  }
  // Logs beside the file whose transactions left nothing to settle.
  SweepTransactionLogs(file.realPath);
}

ClientState& Client() {
  ClientState& state = RawState();
  if (state.pid == 0) pthread_atfork(nullptr, nullptr, &MarkForked);
  // A plain load first: the exchange is a locked instruction on every call.
  if (state.pid == 0 || (g_forked.load(std::memory_order_relaxed) && g_forked.exchange(false))) {
    const pid_t pid = getpid();
    for (auto& file : state.files) {
      // The lock descriptors are the parent's open file descriptions: the
      // child's copy goes, the parent's locks stay with the parent.
      CloseLockFile(file->lockFd);
      file->lockFd = -1;
      Abandoned().push_back(std::move(file));
    }
    state.files.clear();
    state.handles.clear();
    state.inTransaction = false;
    state.pid = pid;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    state.nextToken = (static_cast<uint64_t>(pid) << 40) ^ static_cast<uint64_t>(now.tv_nsec) ^
                      (static_cast<uint64_t>(now.tv_sec) << 20);
  }
  if (!state.exitHookRegistered) {
    RegisterExitHook(&ResetForExit);
    state.exitHookRegistered = true;
  }
  return state;
}

Handle* HandleOf(const void* positionBlock) {
  return HandleInBlock(Client().handles, kBlockMarker, positionBlock);
}

Handle& NewHandle(void* positionBlock, SharedFile& file) {
  ClientState& client = Client();
  Handle& handle = ClaimHandle(client.handles, client.nextToken, kBlockMarker, positionBlock);
  handle.file = &file;
  ++file.refs;
  return handle;
}

void CloseHandle(Handle& handle, void* positionBlock) {
  SharedFile& file = *handle.file;
  ReleaseAllLocks(handle);
  if (handle.exclusive && --file.exclusiveOpens == 0) {
    // Other position blocks of this process keep the file open: back to a
    // shared hold of the gate.
    LockByte(file.lockFd, kGateLockByte, false, false);
  }
  --file.refs;
  handle = Handle{};
  if (positionBlock) std::memset(positionBlock, 0, 128);
  ReleaseSharedFileIfUnused(file);
}

SharedFile* FindSharedFile(const std::string& realPath) {
  for (auto& file : Client().files) {
    if (file->realPath == realPath) return file.get();
  }
  return nullptr;
}

void ReleaseSharedFileIfUnused(SharedFile& file) {
  if (file.refs > 0 || file.inTransaction) return;
  auto& files = Client().files;
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (it->get() == &file) {
      CloseStoreFile(file.store);
      UnmapChangeCounter(file.changes);
      CloseLockFile(file.lockFd);  // drops the gate and every lock at once
      files.erase(it);
      return;
    }
  }
}

RecordStatus StatusFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return kStatusOk;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kStatusFileLocked;
    case SQLITE_READONLY:
      return kStatusReadOnly;
    case SQLITE_CONSTRAINT:
      return kStatusDuplicateKey;
    default:
      return kStatusIoError;
  }
}

RecordStatus LockRecord(SharedFile& file, uint32_t pos, bool wait) {
  int& count = file.recordLocks[pos];
  if (count == 0) {
    const OsLockResult result = LockByte(file.lockFd, kRecordLockBase + pos, true, wait);
    if (result != OsLockResult::kAcquired) {
      file.recordLocks.erase(pos);
      return result == OsLockResult::kBusy ? kStatusRecordLocked : kStatusIoError;
    }
  }
  ++count;
  return kStatusOk;
}

void UnlockRecord(SharedFile& file, uint32_t pos) {
  auto it = file.recordLocks.find(pos);
  if (it == file.recordLocks.end()) return;
  if (--it->second <= 0) {
    UnlockByte(file.lockFd, kRecordLockBase + pos);
    file.recordLocks.erase(it);
  }
}

void ReleaseSingleLock(Handle& handle) {
  if (handle.singleLock != 0) UnlockRecord(*handle.file, handle.singleLock);
  handle.singleLock = 0;
}

void ReleaseAllLocks(Handle& handle) {
  ReleaseSingleLock(handle);
  for (uint32_t pos : handle.multipleLocks) UnlockRecord(*handle.file, pos);
  handle.multipleLocks.clear();
}

RecordStatus BeginWrite(SharedFile& file) {
  ClientState& client = Client();
  ++file.localWrites;
  if (client.inTransaction && !file.inTransaction) {
    // The transaction lock tells other clients at once (85) that this file
    // is being changed by a transaction that may last.
    if (LockByte(file.lockFd, kTransactionLockByte, true, false) != OsLockResult::kAcquired) {
      return kStatusFileLocked;
    }
    // Before the transaction: what the temp table holds is the
    // connection's own, and a rollback must not take the table with it.
    int rc = PrepareUndoCapture(file.store);
    if (rc == SQLITE_OK) rc = BeginSettledWrite(file);
    if (rc == SQLITE_OK) rc = StartUndoCapture(file.store);
    if (rc != SQLITE_OK) {
      file.store.captureUndo = false;
      if (!sqlite3_get_autocommit(file.store.db)) ExecStore(file.store, "ROLLBACK");
      UnlockByte(file.lockFd, kTransactionLockByte);
      return StatusFromSqlite(rc);
    }
    file.changeMark = MarkChangeStarting(file.changes);
    file.inTransaction = true;
  } else if (!client.inTransaction) {
    if (ByteHeldByOther(file.lockFd, kTransactionLockByte, false)) return kStatusFileLocked;
    const int rc = BeginSettledWrite(file);
    if (rc != SQLITE_OK) return StatusFromSqlite(rc);
    file.changeMark = MarkChangeStarting(file.changes);
    return kStatusOk;  // the operation's own transaction undoes a failure
  }
  // Inside the client's transaction a failed operation (a duplicate key
  // found after some keys were written) is undone by its savepoint alone.
  const int rc = ExecStore(file.store, "SAVEPOINT operation");
  return rc == SQLITE_OK ? kStatusOk : StatusFromSqlite(rc);
}

RecordStatus FinishWrite(SharedFile& file, bool keep) {
  if (Client().inTransaction) {
    if (!keep) ExecStore(file.store, "ROLLBACK TO operation");
    ExecStore(file.store, "RELEASE operation");
    return kStatusOk;
  }
  RecordStatus status = kStatusOk;
  if (!keep) {
    ExecStore(file.store, "ROLLBACK");
  } else if (const int rc = ExecStore(file.store, "COMMIT"); rc != SQLITE_OK) {
    ExecStore(file.store, "ROLLBACK");
    status = StatusFromSqlite(rc) == kStatusFileLocked ? kStatusFileLocked : kStatusIoError;
  }
  MarkChangeDone(file.changes, file.changeMark);
  return status;
}

RecordStatus CommitTransaction() {
  ClientState& client = Client();
  std::vector<SharedFile*> touched;
  for (auto& file : client.files) {
    if (file->inTransaction) touched.push_back(file.get());
  }
  RecordStatus status = kStatusOk;
  if (touched.size() > 1) {
    status = CommitAcrossFiles(touched);
  } else if (!touched.empty()) {
    // One file: its own commit is atomic; no images, no log, no extra sync.
    StoreFile& store = touched.front()->store;
    if (DropCapturedImages(store) != SQLITE_OK || ExecStore(store, "COMMIT") != SQLITE_OK) {
      ExecStore(store, "ROLLBACK");
      status = kStatusIoError;
    }
  }
  // The counters go even and the transaction locks go only now, so that
  // until the images are settled no other client writes to these files.
  for (SharedFile* file : touched) {
    MarkChangeDone(file->changes, file->changeMark);
    UnlockByte(file->lockFd, kTransactionLockByte);
    file->store.captureUndo = false;
    file->inTransaction = false;
  }
  client.inTransaction = false;
  std::vector<SharedFile*> all;
  for (auto& file : client.files) all.push_back(file.get());
  for (SharedFile* file : all) ReleaseSharedFileIfUnused(*file);
  return status;
}

void RollBackTransaction() {
  ClientState& client = Client();
  for (auto& file : client.files) {
    if (!file->inTransaction) continue;
    ExecStore(file->store, "ROLLBACK");  // the captured images go with it
    MarkChangeDone(file->changes, file->changeMark);
    UnlockByte(file->lockFd, kTransactionLockByte);
    file->store.captureUndo = false;
    file->inTransaction = false;
  }
  client.inTransaction = false;
  for (Handle& handle : client.handles) {
    if (handle.used) ReleaseAllLocks(handle);
  }
  std::vector<SharedFile*> all;
  for (auto& file : client.files) all.push_back(file.get());
  for (SharedFile* file : all) ReleaseSharedFileIfUnused(*file);
}

void ResetClient() {
  ClientState& client = Client();
  if (client.inTransaction) RollBackTransaction();
  for (Handle& handle : client.handles) {
    if (handle.used) CloseHandle(handle, nullptr);
  }
  client.handles.clear();
  // Files without handles were closed with their last handle; anything left
  // (none expected) goes now.
  for (auto& file : client.files) {
    CloseStoreFile(file->store);
    UnmapChangeCounter(file->changes);
    CloseLockFile(file->lockFd);
  }
  client.files.clear();
}

}  // namespace kestrova

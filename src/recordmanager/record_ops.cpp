// The record operations: the Gets, Get Direct, Get Position, Insert, Update
// and Delete.
#include <algorithm>
#include <cstring>

#include "recordmanager/key_encoding.h"
#include "recordmanager/operations.h"
#include "recordmanager/read_ahead_batch.h"
#include "recordmanager/record_locks_os.h"

namespace kestrova {
namespace {

bool ValidKey(const Handle& handle, int key) {
  return key >= 0 && key < static_cast<int>(handle.file->store.description.keys.size());
}

// A Get that met a record another client was changing re-reads it after the
// lock; a record that keeps moving away is given up on after a few rounds.
constexpr int kLockedReadAttempts = 8;

void ForgetReadAhead(Handle& handle) {
  handle.ahead.clear();
  handle.aheadNext = 0;
  handle.aheadPlaces.clear();
  handle.aheadStale.clear();
}

// Copies a record and its key to the caller and makes it the position.
RecordStatus Deliver(const Call& call, Handle& handle, int key, StoreRow&& row) {
  const FileDescription& description = handle.file->store.description;
  const uint32_t n = std::min<uint32_t>(call.dataSize, description.recordLength);
  if (n > 0) std::memcpy(call.data, row.data.data(), n);
  call.SetDataLength(n);
  const auto* record = reinterpret_cast<const uint8_t*>(row.data.data());
  ReturnKeyValue(call, KeyValueOfRecord(description, key, record));
  handle.keyNumber = key;
  handle.hasPosition = true;
  handle.hasCurrent = true;
  handle.pos = row.pos;
  handle.ver = row.ver;
  handle.encodedKey = std::move(row.encodedKey);
  handle.keyIsNull = row.keyIsNull;
  handle.seq = row.seq;
  return n < description.recordLength ? kStatusDataBufferTooShort : kStatusOk;
}

// How many records a plain Get Next/Previous reads at once: 64, doubled
// for every batch a walk uses up whole, up to 1 024.  Stepping is how the
// job walks its files; one SQLite query per record would cost a read
// transaction each time, and each query still costs one (with its lock
// calls), so a long walk makes fewer of them.
constexpr int kReadAhead = 64;
constexpr int kLongestReadAhead = 1024;

// Brings the records read ahead up to date when others committed since
// they were read: the journal names the records changed, and those read
// again are read in one read transaction (read_ahead_batch.h).  Nothing
// noted meanwhile, the records held are then what the file holds now
// (docs/record-manager.md, Read-ahead).  False: read a fresh batch.
bool RefreshReadAhead(Handle& handle, int key, bool forward) {
  SharedFile& file = *handle.file;
  const JournalView before = ReadJournal(file.changes);
  std::vector<uint32_t> kept, moved;
  if (!before.usable ||
      !NotedRecords(file.changes, handle.aheadResume, before.head, kept, moved)) {
    return false;
  }
  auto readAgain = [&](const std::vector<uint32_t>& again, std::vector<std::pair<bool, StoreRow>>& fresh) {
    const bool own = !sqlite3_get_autocommit(file.store.db);
    if (!own && ExecStore(file.store, "BEGIN") != SQLITE_OK) return false;
    bool ok = true;
    for (uint32_t pos : again) {
      StoreRow row;
      const int rc = ReadRecordAt(file.store, pos, key, row);
      ok = ok && (rc == SQLITE_ROW || rc == SQLITE_DONE);
      fresh.emplace_back(rc == SQLITE_ROW, std::move(row));
    }
    if (!own) ExecStore(file.store, "COMMIT");
    // Records read again in a later snapshot than the rest may only be
    // mixed with them when nothing was noted in between.
    return ok && SameJournal(before, ReadJournal(file.changes));
  };
  if (!BringBatchUpToDate(handle, handle.encodedKey, handle.seq, forward, kept, std::move(moved),
                          readAgain)) {
    return false;
  }
  handle.aheadResume = before.resume;
  return true;
}

// A plain Get Next/Previous: from the records read ahead while they can be
// brought up to date, otherwise a fresh batch.
RecordStatus StepWithReadAhead(const Call& call, Handle& handle, int key, bool forward) {
  SharedFile& file = *handle.file;
  const bool sameBatch = handle.aheadTrusted && file.localWrites == handle.aheadLocalWrites &&
                         key == handle.aheadKey && forward == handle.aheadForward &&
                         handle.aheadNext < handle.ahead.size();
  if (!sameBatch || !RefreshReadAhead(handle, key, forward)) {
    // The walk used up a whole batch: the next is longer.  Beside a writer
    // too: a batch is kept across others' commits, while every new query
    // is a read transaction that finds SQLite's page cache emptied by them.
    const bool walking = handle.aheadTrusted && !handle.ahead.empty() &&
                         handle.aheadNext >= handle.ahead.size() && key == handle.aheadKey &&
                         forward == handle.aheadForward;
    handle.aheadLimit = walking ? std::min(2 * handle.aheadLimit, kLongestReadAhead) : kReadAhead;
    handle.aheadNext = 0;  // the batch's rows are written over by the next
    handle.aheadPlaces.clear();
    handle.aheadStale.clear();
    const JournalView before = ReadJournal(file.changes);
    const int rc = FindRecords(file.store, key, forward, handle.encodedKey, handle.seq,
                               handle.aheadLimit, handle.ahead);
    if (rc != SQLITE_OK) {
      ForgetReadAhead(handle);
      return StatusFromSqlite(rc);
    }
    if (handle.ahead.empty()) return kStatusEndOfFile;
    // One query, one snapshot: whatever it missed is noted from `resume` on
    // (without the journal, only the record given out is current).
    handle.aheadTrusted = before.usable;
    handle.aheadResume = before.resume;
    handle.aheadLocalWrites = file.localWrites;
    handle.aheadKey = key;
    handle.aheadForward = forward;
  }
  return Deliver(call, handle, key, std::move(handle.ahead[handle.aheadNext++]));
}

template <typename Finder>
RecordStatus ReadAndPosition(const Call& call, Handle& handle, int key, Finder find,
                             RecordStatus notFound) {
  SharedFile& file = *handle.file;
  const bool locking = call.bias != 0;
  const bool wait = call.bias == kBiasSingleWait || call.bias == kBiasMultipleWait;
  const bool single = call.bias == kBiasSingleWait || call.bias == kBiasSingleNoWait;

  ForgetReadAhead(handle);

  // 1. A locked read first gives up the position block's single lock, and
  // meets another client's transaction as a locked file.
  if (locking) {
    if (single) ReleaseSingleLock(handle);
    if (!file.inTransaction) {
      if (wait) {
        if (LockByte(file.lockFd, kTransactionLockByte, false, true) == OsLockResult::kAcquired) {
          UnlockByte(file.lockFd, kTransactionLockByte);
        }
      } else if (ByteHeldByOther(file.lockFd, kTransactionLockByte, false)) {
        return kStatusFileLocked;
      }
    }
  }

  // 2. The record, and its lock.  The lock is taken after the read (the
  // position is not known before); the record is then read again, so what
  // the caller gets is what it holds locked.
  StoreRow row;
  bool heldBefore = false;
  for (int attempt = 0;; ++attempt) {
    int rc = find(row);
    if (rc == SQLITE_DONE) return notFound;
    if (rc != SQLITE_ROW) return StatusFromSqlite(rc);
    if (!locking) break;
    heldBefore = !single && handle.multipleLocks.count(row.pos) > 0;
    if (!heldBefore) {
      const RecordStatus status = LockRecord(file, row.pos, wait);
      if (status != kStatusOk) return status;  // the position stays where it was
    }
    StoreRow fresh;
    rc = ReadRecordAt(file.store, row.pos, key, fresh);
    if (rc == SQLITE_ROW && fresh.keyIsNull == row.keyIsNull &&
        fresh.encodedKey == row.encodedKey) {
      row = std::move(fresh);
      break;
    }
    if (!heldBefore) UnlockRecord(file, row.pos);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return StatusFromSqlite(rc);
    if (attempt + 1 >= kLockedReadAttempts) return kStatusRecordLocked;
  }
  if (locking && !heldBefore) {
    if (single) {
      handle.singleLock = row.pos;
    } else {
      handle.multipleLocks.insert(row.pos);
    }
  }

  // 3. The answer and the new position.
  return Deliver(call, handle, key, std::move(row));
}

// The key value the caller searches for: the key buffer as far as it goes,
// completed with NUL bytes to the key's length.
std::string SearchValue(const Call& call, const FileDescription& description, int key) {
  const uint32_t n = std::min<uint32_t>(call.keySize, description.keys[key].length);
  std::string value(reinterpret_cast<const char*>(call.key), n);
  value.resize(description.keys[key].length, '\0');
  return value;
}

std::string RecordFromCall(const Call& call, const FileDescription& description) {
  return std::string(reinterpret_cast<const char*>(call.data), description.recordLength);
}

void PositionOn(Handle& handle, int key, const StoreRow& row) {
  ForgetReadAhead(handle);
  handle.keyNumber = key;
  handle.hasPosition = true;
  handle.hasCurrent = true;
  handle.pos = row.pos;
  handle.ver = row.ver;
  handle.encodedKey = row.encodedKey;
  handle.keyIsNull = row.keyIsNull;
  handle.seq = row.seq;
}

}  // namespace

void ReturnKeyValue(const Call& call, const std::string& value) {
  const std::size_t n = std::min<std::size_t>(call.keySize, value.size());
  if (n > 0) std::memcpy(call.key, value.data(), n);
}

RecordStatus OpGet(const Call& call, Handle& handle) {
  const int key = call.keyNumber;
  if (!ValidKey(handle, key)) return kStatusInvalidKeyNumber;
  StoreFile& store = handle.file->store;
  Seek seek = Seek::kFirst;
  std::string reference;
  int64_t seq = 0;
  switch (call.operation) {
    case kOpGetNext:
    case kOpGetPrevious:
      // Stepping goes on from the record reached last (its key and place
      // among duplicates), not from whatever the key buffer holds now.
      if (!handle.hasPosition || handle.keyIsNull) return kStatusInvalidPositioning;
      if (key != handle.keyNumber) return kStatusDifferentKeyNumber;
      if (call.bias == 0) return StepWithReadAhead(call, handle, key, call.operation == kOpGetNext);
      seek = call.operation == kOpGetNext ? Seek::kNext : Seek::kPrevious;
      reference = handle.encodedKey;
      seq = handle.seq;
      break;
    case kOpGetFirst:
      seek = Seek::kFirst;
      break;
    case kOpGetLast:
      seek = Seek::kLast;
      break;
    default: {
      const Seek byOperation[] = {Seek::kEqual,      Seek::kNext,           Seek::kPrevious,
                                  Seek::kGreater,    Seek::kGreaterOrEqual, Seek::kLess,
                                  Seek::kLessOrEqual};
      seek = byOperation[call.operation - kOpGetEqual];
      reference = EncodeKeyValue(store.description, key, SearchValue(call, store.description, key));
    }
  }
  const RecordStatus notFound =
      call.operation == kOpGetEqual ? kStatusKeyNotFound : kStatusEndOfFile;
  return ReadAndPosition(
      call, handle, key,
      [&](StoreRow& row) { return FindRecord(store, key, seek, reference, seq, row); }, notFound);
}

RecordStatus OpGetDirect(const Call& call, Handle& handle) {
  if (call.dataSize < 4) return kStatusDataBufferTooShort;
  const int key = call.keyNumber;
  if (!ValidKey(handle, key)) return kStatusInvalidKeyNumber;
  uint32_t pos = 0;
  for (int i = 3; i >= 0; --i) pos = (pos << 8) | call.data[i];
  if (pos == 0) return kStatusInvalidPosition;
  StoreFile& store = handle.file->store;
  return ReadAndPosition(
      call, handle, key, [&](StoreRow& row) { return ReadRecordAt(store, pos, key, row); },
      kStatusInvalidPosition);
}

RecordStatus OpGetPosition(const Call& call, Handle& handle) {
  if (!handle.hasCurrent) return kStatusInvalidPositioning;
  if (call.dataSize < 4) return kStatusDataBufferTooShort;
  for (int i = 0; i < 4; ++i) call.data[i] = static_cast<uint8_t>(handle.pos >> (8 * i));
  call.SetDataLength(4);
  return kStatusOk;
}

RecordStatus OpInsert(const Call& call, Handle& handle) {
  SharedFile& file = *handle.file;
  const FileDescription& description = file.store.description;
  if (handle.readOnly) return kStatusReadOnly;
  const int key = call.keyNumber;
  if (!ValidKey(handle, key)) return kStatusInvalidKeyNumber;
  if (call.dataSize < description.recordLength) return kStatusDataBufferTooShort;
  const std::string data = RecordFromCall(call, description);

  RecordStatus status = BeginWrite(file);
  if (status != kStatusOk) return status;
  uint32_t pos = 0;
  StoreRow row;
  int rc = InsertRecord(file.store, data, pos);
  if (rc == SQLITE_OK) NoteRecordChanged(file.changes, pos, false);
  if (rc == SQLITE_OK)
    rc = ReadRecordAt(file.store, pos, key, row) == SQLITE_ROW ? SQLITE_OK : SQLITE_ERROR;
  status = FinishWrite(file, rc == SQLITE_OK);
  if (rc != SQLITE_OK) return StatusFromSqlite(rc);
  if (status != kStatusOk) return status;
  PositionOn(handle, key, row);
  ReturnKeyValue(call,
                 KeyValueOfRecord(description, key, reinterpret_cast<const uint8_t*>(data.data())));
  return kStatusOk;
}

namespace {

// Whether this client may write the record it holds: no other client locks
// it, and the record as stored is the one this client read (gone or changed
// since then: 80).  `stored` receives the record as stored.
RecordStatus CheckRecordUnchanged(SharedFile& file, const Handle& handle, int key,
                                  StoreRow& stored) {
  if (ByteHeldByOther(file.lockFd, kRecordLockBase + handle.pos, true)) {
    return kStatusRecordLocked;
  }
  const int rc = ReadRecordAt(file.store, handle.pos, key, stored);
  if (rc == SQLITE_DONE) return kStatusConflict;
  if (rc != SQLITE_ROW) return StatusFromSqlite(rc);
  if (stored.ver != handle.ver) return kStatusConflict;
  return kStatusOk;
}

}  // namespace

RecordStatus OpUpdate(const Call& call, Handle& handle) {
  SharedFile& file = *handle.file;
  const FileDescription& description = file.store.description;
  if (handle.readOnly) return kStatusReadOnly;
  if (!handle.hasCurrent) return kStatusInvalidPositioning;
  if (call.dataSize < description.recordLength) return kStatusDataBufferTooShort;
  const std::string data = RecordFromCall(call, description);
  const auto* newRecord = reinterpret_cast<const uint8_t*>(data.data());
  const int key = handle.keyNumber;

  RecordStatus status = BeginWrite(file);
  if (status != kStatusOk) return status;
  auto fail = [&](RecordStatus why) {
    FinishWrite(file, false);
    return why;
  };
  // 1-2. Another client's lock on the record; the record as stored, gone
  //      or changed since this client read it.
  StoreRow stored;
  status = CheckRecordUnchanged(file, handle, key, stored);
  if (status != kStatusOk) return fail(status);
  // 3. Keys that may not change.
  const auto* oldRecord = reinterpret_cast<const uint8_t*>(stored.data.data());
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    if (!description.keys[k].modifiable && KeyValueOfRecord(description, k, oldRecord) !=
                                               KeyValueOfRecord(description, k, newRecord)) {
      return fail(kStatusKeyNotModifiable);
    }
  }
  // 4. The write, and the record as it now stands for the position.
  int rc = UpdateRecord(file.store, handle.pos, data);
  if (rc != SQLITE_OK) return fail(StatusFromSqlite(rc));
  bool keysKept = true;
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    keysKept = keysKept && KeyValueOfRecord(description, k, oldRecord) ==
                               KeyValueOfRecord(description, k, newRecord);
  }
  NoteRecordChanged(file.changes, handle.pos, keysKept);
  StoreRow row;
  if (ReadRecordAt(file.store, handle.pos, key, row) != SQLITE_ROW) return fail(kStatusIoError);
  status = FinishWrite(file, true);
  if (status != kStatusOk) return status;
  PositionOn(handle, key, row);
  ReleaseSingleLock(handle);
  ReturnKeyValue(call, KeyValueOfRecord(description, key, newRecord));
  return kStatusOk;
}

RecordStatus OpDelete(const Call& call, Handle& handle) {
  (void)call;
  SharedFile& file = *handle.file;
  if (handle.readOnly) return kStatusReadOnly;
  if (!handle.hasCurrent) return kStatusInvalidPositioning;

  RecordStatus status = BeginWrite(file);
  if (status != kStatusOk) return status;
  auto fail = [&](RecordStatus why) {
    FinishWrite(file, false);
    return why;
  };
  StoreRow stored;
  status = CheckRecordUnchanged(file, handle, std::max(handle.keyNumber, 0), stored);
  if (status != kStatusOk) return fail(status);
  const int rc = DeleteRecord(file.store, handle.pos);
  if (rc != SQLITE_OK) return fail(StatusFromSqlite(rc));
  NoteRecordChanged(file.changes, handle.pos, true);  // a reader only drops it
  status = FinishWrite(file, true);
  if (status != kStatusOk) return status;
  // The place on the key path stays, so Get Next/Previous find the
  // neighbours of the deleted record; there is no current record.
  handle.hasCurrent = false;
  ReleaseSingleLock(handle);
  if (handle.multipleLocks.erase(handle.pos) > 0) UnlockRecord(file, handle.pos);
  return kStatusOk;
}

}  // namespace kestrova

// BTRCALL: checks every argument, then dispatches.  File-level operations
// (Open, Close, Create, Stat, Unlock, the transactions and Reset) are here;
// the record operations are in record_ops.cpp.
#include "recordmanager/btrcall.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/files.h"
#include "recordmanager/operations.h"
#include "recordmanager/pg_store.h"
#include "recordmanager/record_locks_os.h"

namespace kestrova {
namespace {

// Paths come in the key buffer, ended by a NUL or a blank within the
// buffer (and never beyond 255 bytes, the longest path the job passes).
constexpr uint32_t kMaxPathBytes = 255;

enum OpenMode : int8_t {
  kModeNormal = 0,
  kModeAccelerated = -1,
  kModeReadOnly = -2,
  kModeVerify = -3,
  kModeExclusive = -4,
};

// A plain open that finds the gate held exclusively retries for this long:
// a Create moving a new file into place holds it only for a moment.
constexpr int kGateRetries = 15;
constexpr int kGateRetryMicroseconds = 20000;

bool PathFromKey(const Call& call, std::string& path) {
  const uint32_t limit = std::min(call.keySize, kMaxPathBytes);
  const auto* begin = reinterpret_cast<const char*>(call.key);
  const char* end = begin ? std::find(begin, begin + limit, '\0') : nullptr;
  if (end == nullptr) return false;
  if (end == begin + limit) {
    end = std::find(begin, begin + limit, ' ');
    if (end == begin + limit) return false;
  }
  path.assign(begin, end);
  while (!path.empty() && path.back() == ' ') path.pop_back();
  return !path.empty();
}

// The owner name in the data buffer, up to its NUL, blanks trimmed.
std::string OwnerFromData(const Call& call) {
  const auto* begin = reinterpret_cast<const char*>(call.data);
  if (!begin) return {};
  std::string owner(begin, std::find(begin, begin + call.dataSize, '\0'));
  while (!owner.empty() && owner.back() == ' ') owner.pop_back();
  return owner;
}

// Takes the gate for a new SharedFile: shared for a plain open, exclusive
// for an exclusive one.
RecordStatus TakeGate(int lockFd, bool exclusive) {
  if (exclusive) {
    const OsLockResult result = LockByte(lockFd, kGateLockByte, true, false);
    if (result == OsLockResult::kAcquired) return kStatusOk;
    if (result == OsLockResult::kError) return kStatusIoError;
    // Held exclusively by another client: locked; merely open elsewhere:
    // the exclusive mode cannot be granted.
    return ByteHeldByOther(lockFd, kGateLockByte, false) ? kStatusFileLocked
                                                         : kStatusIncompatibleMode;
  }
  for (int attempt = 0;; ++attempt) {
    const OsLockResult result = LockByte(lockFd, kGateLockByte, false, false);
    if (result == OsLockResult::kAcquired) return kStatusOk;
    if (result == OsLockResult::kError) return kStatusIoError;
    if (attempt >= kGateRetries) return kStatusFileLocked;
    usleep(kGateRetryMicroseconds);
  }
}

RecordStatus OpOpen(const Call& call) {
  if (call.positionBlock == nullptr) return kStatusFileNotOpen;
  std::string jobPath;
  if (!PathFromKey(call, jobPath)) return kStatusInvalidFileName;
  const int8_t mode = call.keyNumber;
  if (mode > kModeNormal || mode < kModeExclusive) return kStatusIncompatibleMode;
  const bool exclusive = mode == kModeExclusive;

  // Reopening an open block closes what it held first.
  if (Handle* old = HandleOf(call.positionBlock)) CloseHandle(*old, call.positionBlock);
  PgCloseBlock(call.positionBlock);

  const std::string native = NativePath(jobPath);
  const StoreRoute route = RouteOfPath(native);
  if (!route.valid) return kStatusIoError;
  if (route.postgres) return PgOpen(call, route, OwnerFromData(call));
  char resolved[PATH_MAX];
  if (realpath(native.c_str(), resolved) == nullptr) return kStatusFileNotFound;
  const std::string realPath = resolved;

  SharedFile* file = FindSharedFile(realPath);
  const bool alreadyOpen = file != nullptr;
  if (!alreadyOpen) {
    // Something that is not a record file is refused before a lock file
    // is made beside it.
    if (!IsRecordFileHeader(realPath)) return kStatusIoError;
    auto fresh = std::make_unique<SharedFile>();
    fresh->realPath = realPath;
    fresh->lockFd = OpenLockFile(realPath, &fresh->lockReadOnly);
    if (fresh->lockFd < 0) return errno == EACCES ? kStatusPermissionError : kStatusIoError;
    // Through a lock file it may only read, a client could neither lock
    // for writing nor tell the others of its changes: only a read-only
    // open may go on.
    if (fresh->lockReadOnly && mode != kModeReadOnly) {
      CloseLockFile(fresh->lockFd);
      return kStatusPermissionError;
    }
    RecordStatus status = TakeGate(fresh->lockFd, exclusive);
    if (status == kStatusOk) status = OpenStoreFile(realPath, fresh->store);
    if (status != kStatusOk) {
      CloseLockFile(fresh->lockFd);
      return status;
    }
    fresh->changes = MapChangeCounter(fresh->lockFd);
    // A dead client's half-ended transaction is settled before anyone
    // here reads the file.
    RecoverOnOpen(*fresh);
    file = fresh.get();
    Client().files.push_back(std::move(fresh));
  }

  // A file created with an owner name opens only under that name.
  if (!file->store.owner.empty() && OwnerFromData(call) != file->store.owner) {
    ReleaseSharedFileIfUnused(*file);
    return kStatusOwnerMismatch;
  }
  if (alreadyOpen && file->lockReadOnly && mode != kModeReadOnly) {
    return kStatusPermissionError;
  }
  if (alreadyOpen && exclusive && file->exclusiveOpens == 0) {
    // This process has it open already: exclusive only if nobody else does.
    if (LockByte(file->lockFd, kGateLockByte, true, false) != OsLockResult::kAcquired) {
      return kStatusIncompatibleMode;
    }
  }
  Handle& handle = NewHandle(call.positionBlock, *file);
  handle.readOnly = mode == kModeReadOnly;
  handle.exclusive = exclusive;
  if (exclusive) ++file->exclusiveOpens;
  return kStatusOk;
}

RecordStatus OpCreate(const Call& call) {
  std::string jobPath;
  if (!PathFromKey(call, jobPath)) return kStatusInvalidFileName;
  if (call.keyNumber != 0 && call.keyNumber != -1) return kStatusInvalidKeyNumber;
  FileDescription description;
  const RecordStatus status = ParseFileDescription(call.data, call.dataSize, description);
  if (status != kStatusOk) return status;
  return CreateRecordFile(NativePath(jobPath), description, std::string(), call.keyNumber == 0);
}

RecordStatus OpStat(const Call& call, Handle& handle) {
  SharedFile& file = *handle.file;
  // Counting is a scan of every key: done again only when the database
  // changed (the job asks for the description before every key search).
  unsigned version = 0;
  sqlite3_file_control(file.store.db, "main", SQLITE_FCNTL_DATA_VERSION, &version);
  if (!file.countsValid || version != file.dataVersion) {
    const int rc = CountRecords(file.store, file.recordCount, file.distinctValues);
    if (rc != SQLITE_OK) return StatusFromSqlite(rc);
    file.countsValid = true;
    file.dataVersion = version;
  }
  const std::string answer =
      StatAnswer(file.store.description, file.recordCount, file.distinctValues);
  const uint32_t n = std::min<uint32_t>(call.dataSize, answer.size());
  if (n > 0) std::memcpy(call.data, answer.data(), n);
  call.SetDataLength(n);
  return n < answer.size() ? kStatusDataBufferTooShort : kStatusOk;
}

RecordStatus OpUnlock(const Call& call, Handle& handle) {
  if (call.keyNumber >= 0) {
    ReleaseSingleLock(handle);
    return kStatusOk;
  }
  if (call.keyNumber == -1) {  // one multiple-record lock, by its position
    if (call.dataSize < 4) return kStatusDataBufferTooShort;
    uint32_t pos = 0;
    for (int i = 3; i >= 0; --i) pos = (pos << 8) | call.data[i];
    if (handle.multipleLocks.erase(pos) > 0) UnlockRecord(*handle.file, pos);
    return kStatusOk;
  }
  if (call.keyNumber == -2) {  // every multiple-record lock
    for (uint32_t pos : handle.multipleLocks) UnlockRecord(*handle.file, pos);
    handle.multipleLocks.clear();
    return kStatusOk;
  }
  return kStatusInvalidKeyNumber;
}

bool IsGet(uint16_t op) { return (op >= kOpGetEqual && op <= kOpGetLast) || op == kOpGetDirect; }

bool ValidBias(uint16_t bias) {
  return bias == 0 || bias == kBiasSingleWait || bias == kBiasSingleNoWait ||
         bias == kBiasMultipleWait || bias == kBiasMultipleNoWait;
}

RecordStatus Dispatch(const Call& call) {
  ClientState& client = Client();
  switch (call.operation) {
    case kOpOpen:
      return OpOpen(call);
    case kOpCreate:
      return OpCreate(call);
    case kOpReset:
      ResetClient();
      PgReset();
      return kStatusOk;
    case kOpBeginTransaction:
      if (client.inTransaction) return kStatusTransactionActive;
      client.inTransaction = true;
      PgBeginTransaction();
      return kStatusOk;
    case kOpEndTransaction: {
      if (!client.inTransaction) return kStatusNoTransaction;
      const RecordStatus onServer = PgEndTransaction();
      const RecordStatus onDisk = CommitTransaction();
      return onServer != kStatusOk ? onServer : onDisk;
    }
    case kOpAbortTransaction:
      if (!client.inTransaction) return kStatusNoTransaction;
      PgAbortTransaction();
      RollBackTransaction();
      return kStatusOk;
    default:
      break;
  }
  Handle* handle = HandleOf(call.positionBlock);
  if (handle == nullptr && PgHoldsBlock(call.positionBlock)) return PgOperation(call);
  if (handle == nullptr) {
    const bool known = call.operation <= kOpStat || call.operation == kOpGetPosition ||
                       call.operation == kOpGetDirect || call.operation == kOpUnlock;
    return known ? kStatusFileNotOpen : kStatusInvalidOperation;
  }
  switch (call.operation) {
    case kOpClose:
      CloseHandle(*handle, call.positionBlock);
      return kStatusOk;
    case kOpInsert:
      return OpInsert(call, *handle);
    case kOpUpdate:
      return OpUpdate(call, *handle);
    case kOpDelete:
      return OpDelete(call, *handle);
    case kOpStat:
      return OpStat(call, *handle);
    case kOpGetPosition:
      return OpGetPosition(call, *handle);
    case kOpGetDirect:
      return OpGetDirect(call, *handle);
    case kOpUnlock:
      return OpUnlock(call, *handle);
    default:
      if (IsGet(call.operation)) return OpGet(call, *handle);
      return kStatusInvalidOperation;
  }
}

}  // namespace

RecordStatus CreateRecordFile(const std::string& nativePath, const FileDescription& description,
                              const std::string& owner, bool replace) {
  const StoreRoute route = RouteOfPath(nativePath);
  if (!route.valid) return kStatusIoError;
  if (route.postgres) return PgCreate(route, description, owner, replace);
  return CreateStoreFile(nativePath, description, owner, replace);
}

int16_t BTRCALL(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                void* keyBuffer, uint8_t keyLength, int8_t keyNumber) {
  Call call;
  call.operation = operation % 100;
  call.bias = operation - call.operation;
  if (!ValidBias(call.bias)) return kStatusInvalidOperation;
  if (call.bias != 0 && !IsGet(call.operation)) {
    // Callers that lock by mode add the bias to Begin Transaction and Get
    // Position too; neither reads a record, so there is nothing to lock.
    if (call.operation != kOpBeginTransaction && call.operation != kOpGetPosition) {
      return kStatusInvalidOperation;
    }
    call.bias = 0;
  }
  call.positionBlock = positionBlock;
  call.data = static_cast<uint8_t*>(dataBuffer);
  call.dataLength = dataLength;
  call.dataSize = (dataBuffer && dataLength) ? *dataLength : 0;
  call.key = static_cast<uint8_t*>(keyBuffer);
  call.keySize = keyBuffer ? keyLength : 0;
  call.keyNumber = keyNumber;
  return Dispatch(call);
}

}  // namespace kestrova

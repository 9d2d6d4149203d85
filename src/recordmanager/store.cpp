#include "recordmanager/store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "recordmanager/key_encoding.h"
#include "recordmanager/record_locks_os.h"

namespace kestrova {
namespace {

constexpr char kFormatMarker[] = "kestrova-records 1";

// Waits of SQLite on another connection's short write (an auto-committed
// record); a long one means a transaction holds the file, which the caller
// answers with 85 instead of waiting.
constexpr int kBusyTimeoutMs = 5000;

enum StatementKind {
  kReadAt = 16,
  kMaxSeq,
  kInsert,
  kUpdate,
  kDelete,
  kCountAll,
  kCountDistinct,
  kReadForUpdate,
  kNextBatch,
  kPreviousBatch,
  kCaptureBefore,
  kCaptureInsert,
  kUndoTransactions,
};

std::string Col(const char* prefix, int key) {
  std::string name(prefix);
  name += std::to_string(key);
  return name;
}

std::string SchemaSql(const FileDescription& description) {
  std::string sql =
      "CREATE TABLE kestrova_file(format TEXT NOT NULL, description BLOB NOT NULL, owner BLOB NOT "
      "NULL);"
      "CREATE TABLE records(pos INTEGER PRIMARY KEY AUTOINCREMENT, ver INTEGER NOT NULL, "
      "data BLOB NOT NULL";
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    sql += ", " + Col("k", k) + " BLOB";
    if (description.keys[k].duplicates) sql += ", " + Col("s", k) + " INTEGER";
  }
  sql += ");";
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    const std::string kc = Col("k", k);
    if (description.keys[k].duplicates) {
      sql += "CREATE INDEX key" + std::to_string(k) + " ON records(" + kc + ", " + Col("s", k) +
             ") WHERE " + kc + " IS NOT NULL;";
    } else {
      sql += "CREATE UNIQUE INDEX key" + std::to_string(k) + " ON records(" + kc + ") WHERE " + kc +
             " IS NOT NULL;";
    }
  }
  return sql;
}

// The SQL of a statement kind for key `key`.
std::string StatementSql(const FileDescription& description, int kind, int key) {
  const bool dups =
      key < static_cast<int>(description.keys.size()) && description.keys[key].duplicates;
  const std::string k = Col("k", key);
  const std::string s = dups ? Col("s", key) : std::string("0");
  const std::string select = "SELECT pos, ver, data, " + k + ", " + s + " FROM records ";
  const std::string asc =
      dups ? " ORDER BY " + k + ", " + s + " LIMIT 1" : " ORDER BY " + k + " LIMIT 1";
  const std::string desc = dups ? " ORDER BY " + k + " DESC, " + s + " DESC LIMIT 1"
                                : " ORDER BY " + k + " DESC LIMIT 1";
  const std::string notNull = "WHERE " + k + " IS NOT NULL";
  switch (kind) {
    case static_cast<int>(Seek::kFirst):
      return select + notNull + asc;
    case static_cast<int>(Seek::kLast):
      return select + notNull + desc;
    case static_cast<int>(Seek::kEqual):
      return select + "WHERE " + k + " = ?1" + asc;
    case static_cast<int>(Seek::kGreater):
      return select + "WHERE " + k + " > ?1" + asc;
    case static_cast<int>(Seek::kGreaterOrEqual):
      return select + "WHERE " + k + " >= ?1" + asc;
    case static_cast<int>(Seek::kLess):
      return select + "WHERE " + k + " < ?1" + desc;
    case static_cast<int>(Seek::kLessOrEqual):
      return select + "WHERE " + k + " <= ?1" + desc;
    // "k IS NOT NULL" changes no answer (a NULL key compares to nothing)
    // but lets SQLite see that the key's partial index holds every row the
    // comparison can match: without it, each step of a key with duplicates
    // scanned and sorted the whole table.
    case static_cast<int>(Seek::kNext):
      return dups ? select + notNull + " AND (" + k + ", " + s + ") > (?1, ?2)" + asc
                  : select + "WHERE " + k + " > ?1" + asc;
    case static_cast<int>(Seek::kPrevious):
      return dups ? select + notNull + " AND (" + k + ", " + s + ") < (?1, ?2)" + desc
                  : select + "WHERE " + k + " < ?1" + desc;
    case kNextBatch:
    case kPreviousBatch: {
      std::string sql = StatementSql(
          description,
          kind == kNextBatch ? static_cast<int>(Seek::kNext) : static_cast<int>(Seek::kPrevious),
          key);
      return sql.substr(0, sql.size() - 1) + "?3";  // LIMIT 1 -> LIMIT ?3
    }
    case kReadAt:
      return select + "WHERE pos = ?1";
    case kMaxSeq:
      return "SELECT " + s + " FROM records WHERE " + k + " = ?1 ORDER BY " + s + " DESC LIMIT 1";
    case kInsert: {
      std::string cols = "ver, data", vals = "1, ?1";
      int n = 2;
      for (std::size_t i = 0; i < description.keys.size(); ++i) {
        cols += ", " + Col("k", i);
        vals += ", ?" + std::to_string(n++);
        if (description.keys[i].duplicates) {
          cols += ", " + Col("s", i);
          vals += ", ?" + std::to_string(n++);
        }
      }
      return "INSERT INTO records(" + cols + ") VALUES(" + vals + ")";
    }
    case kUpdate: {
      std::string sets = "ver = ver + 1, data = ?2";
      int n = 3;
      for (std::size_t i = 0; i < description.keys.size(); ++i) {
        sets += ", " + Col("k", i) + " = ?" + std::to_string(n++);
        if (description.keys[i].duplicates)
          sets += ", " + Col("s", i) + " = ?" + std::to_string(n++);
      }
      return "UPDATE records SET " + sets + " WHERE pos = ?1";
    }
    case kReadForUpdate: {
      std::string cols = "data";
      for (std::size_t i = 0; i < description.keys.size(); ++i) {
        cols += ", " + Col("k", i) + ", " + (description.keys[i].duplicates ? Col("s", i) : "0");
      }
      return "SELECT " + cols + " FROM records WHERE pos = ?1";
    }
    case kDelete:
      return "DELETE FROM records WHERE pos = ?1";
    case kCaptureBefore:
      // The first image of a record in the transaction is the one to keep.
      return "INSERT OR IGNORE INTO temp.undo_images SELECT 1, * FROM main.records WHERE pos = ?1";
    case kCaptureInsert:
      // present = 0: the position held no record before the transaction.
      return "INSERT OR IGNORE INTO temp.undo_images(present, pos) VALUES(0, ?1)";
    case kUndoTransactions:
      return "SELECT DISTINCT tx FROM main.kestrova_undo";
    case kCountAll:
      return "SELECT count(*) FROM records";
    case kCountDistinct:
      return "SELECT count(DISTINCT " + k + ") FROM records";
  }
  return {};
}

sqlite3_stmt* Statement(StoreFile& file, int kind, int key) {
  const int id = kind * 256 + key;
  auto it = file.statements.find(id);
  if (it != file.statements.end()) {
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
  }
  sqlite3_stmt* stmt = nullptr;
  const std::string sql = StatementSql(file.description, kind, key);
  if (sqlite3_prepare_v3(file.db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
      SQLITE_OK) {
    return nullptr;
  }
  file.statements[id] = stmt;
  return stmt;
}

void BindBlob(sqlite3_stmt* stmt, int index, const std::string& bytes) {
  sqlite3_bind_blob(stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

std::string ColumnBlob(sqlite3_stmt* stmt, int column) {
  const void* p = sqlite3_column_blob(stmt, column);
  const int n = sqlite3_column_bytes(stmt, column);
  return p ? std::string(static_cast<const char*>(p), n) : std::string();
}

// The same into `out`, reusing its buffer.
void AssignColumnBlob(sqlite3_stmt* stmt, int column, std::string& out) {
  const void* p = sqlite3_column_blob(stmt, column);
  const int n = sqlite3_column_bytes(stmt, column);
  if (p) {
    out.assign(static_cast<const char*>(p), static_cast<std::size_t>(n));
  } else {
    out.clear();
  }
}

// The columns of a row of the select form above.
void ReadRowColumns(const StoreFile& file, sqlite3_stmt* stmt, StoreRow& row) {
  row.pos = static_cast<uint32_t>(sqlite3_column_int64(stmt, 0));
  row.ver = sqlite3_column_int64(stmt, 1);
  AssignColumnBlob(stmt, 2, row.data);
  row.keyIsNull = sqlite3_column_type(stmt, 3) == SQLITE_NULL;
  AssignColumnBlob(stmt, 3, row.encodedKey);
  row.seq = sqlite3_column_int64(stmt, 4);
  // A record shorter than the description says can only come from a file
  // changed behind our back; pad it rather than let a caller read past it.
  if (row.data.size() != file.description.recordLength)
    row.data.resize(file.description.recordLength, '\0');
}

// Steps a row statement of the select form above into `row`.
int StepRow(StoreFile& file, sqlite3_stmt* stmt, StoreRow& row) {
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) ReadRowColumns(file, stmt, row);
  sqlite3_reset(stmt);
  return rc;
}

// The next duplicate order number for an encoded key value.
int NextSeq(StoreFile& file, int key, const std::string& encoded, int64_t& seq) {
  sqlite3_stmt* stmt = Statement(file, kMaxSeq, key);
  if (!stmt) return sqlite3_errcode(file.db);
  BindBlob(stmt, 1, encoded);
  const int rc = sqlite3_step(stmt);
  seq = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) + 1 : 1;
  sqlite3_reset(stmt);
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Binds the key columns of an insert or update, starting at parameter `n`.
// `old` holds the key encodings before an update (absent on insert): a key
// whose encoding did not change keeps its duplicate order.
int BindKeys(StoreFile& file, sqlite3_stmt* stmt, int n, const std::string& data,
             const std::vector<std::pair<std::string, int64_t>>* old,
             const std::vector<bool>* oldNull) {
  const auto* record = reinterpret_cast<const uint8_t*>(data.data());
  for (std::size_t k = 0; k < file.description.keys.size(); ++k) {
    const std::string value = KeyValueOfRecord(file.description, k, record);
    const bool isNull = IsNullKeyValue(file.description, k, value);
    std::string encoded;
    if (isNull) {
      sqlite3_bind_null(stmt, n++);
    } else {
      encoded = EncodeKeyValue(file.description, k, value);
      BindBlob(stmt, n++, encoded);
    }
    if (!file.description.keys[k].duplicates) continue;
    int64_t seq = 0;
    if (isNull) {
      sqlite3_bind_null(stmt, n++);
      continue;
    }
    if (old && !(*oldNull)[k] && (*old)[k].first == encoded) {
      seq = (*old)[k].second;
    } else {
      const int rc = NextSeq(file, k, encoded, seq);
      if (rc != SQLITE_OK) return rc;
    }
    sqlite3_bind_int64(stmt, n++, seq);
  }
  return SQLITE_OK;
}

// Keeps the record at `pos` as it is now in the transaction's images, unless
// the transaction inserted it.
int CaptureImage(StoreFile& file, uint32_t pos, bool inserted = false) {
  if (!file.captureUndo) return SQLITE_OK;
  sqlite3_stmt* stmt = Statement(file, inserted ? kCaptureInsert : kCaptureBefore, 0);
  if (!stmt) return sqlite3_errcode(file.db);
  sqlite3_bind_int64(stmt, 1, pos);
  const int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// The columns of `records`, in table order.
std::string RecordColumns(const FileDescription& description) {
  std::string cols = "pos, ver, data";
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    cols += ", " + Col("k", k);
    if (description.keys[k].duplicates) cols += ", " + Col("s", k);
  }
  return cols;
}

// Runs one statement with `text` bound to ?1 (the rare undo statements are
// not worth keeping prepared).
int ExecWithText(StoreFile& file, const std::string& sql, const std::string& text) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(file.db, sql.c_str(), -1, &stmt, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) rc = SQLITE_OK;
  }
  sqlite3_finalize(stmt);
  return rc;
}

}  // namespace

int PrepareUndoCapture(StoreFile& file) {
  if (file.undoImagesReady) return SQLITE_OK;
  const int rc = ExecStore(file,
                           "CREATE TEMP TABLE IF NOT EXISTS undo_images AS "
                           "SELECT 1 AS present, * FROM main.records WHERE 0;"
                           "CREATE UNIQUE INDEX IF NOT EXISTS temp.undo_images_pos "
                           "ON undo_images(pos);");
  file.undoImagesReady = rc == SQLITE_OK;
  return rc;
}

int StartUndoCapture(StoreFile& file) {
  file.captureUndo = true;
  return SQLITE_OK;
}

int KeepUndoImages(StoreFile& file, const std::string& tx) {
  int rc = ExecStore(file,
                     "CREATE TABLE IF NOT EXISTS main.kestrova_undo AS "
                     "SELECT '' AS tx, * FROM temp.undo_images WHERE 0");
  if (rc != SQLITE_OK) return rc;
  return ExecWithText(file, "INSERT INTO main.kestrova_undo SELECT ?1, * FROM temp.undo_images",
                      tx);
}

int DropCapturedImages(StoreFile& file) {
  if (!file.undoImagesReady) return SQLITE_OK;
  return ExecStore(file, "DELETE FROM temp.undo_images");
}

int PendingUndoTransactions(StoreFile& file, std::vector<std::string>& txs) {
  txs.clear();
  // Asked before every write: prepared once, once the table exists.  No
  // table: no multi-file transaction ever ended in this file.
  sqlite3_stmt* stmt = Statement(file, kUndoTransactions, 0);
  if (!stmt) return SQLITE_OK;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(stmt, 0);
    txs.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
  }
  sqlite3_reset(stmt);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int RestoreUndoImages(StoreFile& file, const std::string& tx) {
  const std::string cols = RecordColumns(file.description);
  // Only the records the transaction touched, each by its own image: a
  // record it inserted (present = 0) goes, one it changed or deleted comes
  // back as it was, in its place among duplicates.  The version moves on
  // past every version the record had, so a client that read the undone
  // state gets 80 on its Update instead of writing over the old record.
  int rc = ExecWithText(file,
                        "UPDATE main.kestrova_undo SET ver = 1 + max(ver, coalesce((SELECT r.ver "
                        "FROM main.records r WHERE r.pos = kestrova_undo.pos), 0)) "
                        "WHERE tx = ?1 AND present = 1",
                        tx);
  if (rc == SQLITE_OK) {
    rc = ExecWithText(file,
                      "DELETE FROM main.records WHERE pos IN (SELECT pos FROM main.kestrova_undo "
                      "WHERE tx = ?1)",
                      tx);
  }
  if (rc == SQLITE_OK) {
    rc = ExecWithText(file,
                      "INSERT INTO main.records(" + cols + ") SELECT " + cols +
                          " FROM main.kestrova_undo WHERE tx = ?1 AND present = 1",
                      tx);
  }
  if (rc == SQLITE_OK) rc = ClearUndoImages(file, tx);
  return rc;
}

int ClearUndoImages(StoreFile& file, const std::string& tx) {
  return ExecWithText(file, "DELETE FROM main.kestrova_undo WHERE tx = ?1", tx);
}

bool IsRecordFileHeader(const std::string& nativePath) {
  // Read with a descriptor opened and closed before SQLite opens the file in
  // this process (closing a descriptor drops the process's POSIX locks on
  // the file, which SQLite relies on).
  const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char header[100];
  const ssize_t n = read(fd, header, sizeof header);
  close(fd);
  // Byte 18 and 19 are the write and read format versions: 2 = WAL.  We
  // only open WAL databases, so opening never has to change a file's mode.
  return n == 100 && std::memcmp(header, "SQLite format 3", 16) == 0 && header[18] == 2 &&
         header[19] == 2;
}

namespace {

void SyncDirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

mode_t CurrentUmask() {
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

std::string TemporaryNameFor(const std::string& nativePath) {
  static std::atomic<unsigned> counter{0};
  const auto slash = nativePath.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : nativePath.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? nativePath : nativePath.substr(slash + 1);
  return dir + "." + base + ".new-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

// Writes a complete, closed database at `path`.
RecordStatus BuildDatabase(const std::string& path, const FileDescription& description,
                           const std::string& owner) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(db);
    return kStatusIoError;
  }
  std::string sql =
      "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; BEGIN;" + SchemaSql(description);
  bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_stmt* stmt = nullptr;
    const std::string createForm = SerializeFileDescription(description);
    ok = sqlite3_prepare_v2(db, "INSERT INTO kestrova_file VALUES(?1, ?2, ?3)", -1, &stmt,
                            nullptr) == SQLITE_OK;
    if (ok) {
      sqlite3_bind_text(stmt, 1, kFormatMarker, -1, SQLITE_STATIC);
      BindBlob(stmt, 2, createForm);
      BindBlob(stmt, 3, owner);
      ok = sqlite3_step(stmt) == SQLITE_DONE;
    }
    sqlite3_finalize(stmt);
  }
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  // Closing the only connection checkpoints the WAL into the file and
  // removes it, so what gets moved into place is self-contained.
  ok = sqlite3_close(db) == SQLITE_OK && ok;
  // SQLite makes its files 0644; a record file is for every user the umask
  // lets in (a group sharing an installation works with umask 002).  The
  // -wal and -shm files of later connections take the file's mode.
  ok = ok && chmod(path.c_str(), 0666 & ~CurrentUmask()) == 0;
  return ok ? kStatusOk : kStatusIoError;
}

void RemoveSideFiles(const std::string& path) {
  unlink((path + "-wal").c_str());
  unlink((path + "-shm").c_str());
}

}  // namespace

RecordStatus CreateStoreFile(const std::string& nativePath, const FileDescription& description,
                             const std::string& owner, bool replace) {
  struct stat st {};
  if (!replace && stat(nativePath.c_str(), &st) == 0) return kStatusFileExists;

  // 1. The whole file under a temporary name.
  const std::string temporary = TemporaryNameFor(nativePath);
  RecordStatus status = BuildDatabase(temporary, description, owner);
  if (status != kStatusOk) {
    unlink(temporary.c_str());
    RemoveSideFiles(temporary);
    return status;
  }

  // 2. Moved into place under the exclusive gate, so no client has the old
  // file (or stale -wal/-shm files of it) open while the names change.  A
  // competing Create holds the gate only for a moment: retry briefly.
  const int lockFd = OpenLockFile(nativePath);
  OsLockResult gate = OsLockResult::kError;
  for (int attempt = 0; attempt < 100; ++attempt) {
    gate = LockByte(lockFd, kGateLockByte, true, false);
    if (gate != OsLockResult::kBusy) break;
    if (stat(nativePath.c_str(), &st) == 0) break;  // in use and existing: no need to wait
    usleep(20000);
  }
  const bool exists = stat(nativePath.c_str(), &st) == 0;
  if (gate != OsLockResult::kAcquired) {
    status = exists ? (replace ? kStatusFileLocked : kStatusFileExists) : kStatusIoError;
  } else if (exists && !replace) {
    status = kStatusFileExists;
  } else {
    // Stale side files would be replayed into the new database.
    RemoveSideFiles(nativePath);
    status = rename(temporary.c_str(), nativePath.c_str()) == 0 ? kStatusOk : kStatusIoError;
    if (status == kStatusOk) SyncDirectoryOf(nativePath);
  }
  if (status != kStatusOk) unlink(temporary.c_str());
  CloseLockFile(lockFd);
  return status;
}

RecordStatus OpenStoreFile(const std::string& nativePath, StoreFile& file) {
  struct stat st {};
  if (stat(nativePath.c_str(), &st) != 0) return kStatusFileNotFound;
  if (!S_ISREG(st.st_mode) || !IsRecordFileHeader(nativePath)) return kStatusIoError;

  sqlite3* db = nullptr;
  // One thread uses a process's record files: SQLite need not take its
  // connection mutex around every call (eight per record read ahead).
  if (sqlite3_open_v2(nativePath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return kStatusIoError;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);

  // Our marker and a description that reads back as valid; anything else is
  // some other database and is left alone.
  sqlite3_stmt* stmt = nullptr;
  RecordStatus status = kStatusIoError;
  if (sqlite3_prepare_v2(db, "SELECT format, description, owner FROM kestrova_file", -1, &stmt,
                         nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    const auto* format = sqlite3_column_text(stmt, 0);
    const std::string createForm = ColumnBlob(stmt, 1);
    if (format && std::strcmp(reinterpret_cast<const char*>(format), kFormatMarker) == 0 &&
        ParseFileDescription(reinterpret_cast<const uint8_t*>(createForm.data()), createForm.size(),
                             file.description) == kStatusOk) {
      file.owner = ColumnBlob(stmt, 2);
      status = kStatusOk;
    }
  }
  sqlite3_finalize(stmt);
  if (status != kStatusOk) {
    sqlite3_close(db);
    return status;
  }
  file.db = db;
  return kStatusOk;
}

void CloseStoreFile(StoreFile& file) {
  for (auto& [id, stmt] : file.statements) sqlite3_finalize(stmt);
  file.statements.clear();
  file.undoImagesReady = false;
  file.captureUndo = false;
  if (file.db) sqlite3_close(file.db);
  file.db = nullptr;
}

int ExecStore(StoreFile& file, const char* sql) {
  return sqlite3_exec(file.db, sql, nullptr, nullptr, nullptr);
}

int FindRecord(StoreFile& file, int key, Seek seek, const std::string& encoded, int64_t seq,
               StoreRow& row) {
  sqlite3_stmt* stmt = Statement(file, static_cast<int>(seek), key);
  if (!stmt) return sqlite3_errcode(file.db);
  if (seek != Seek::kFirst && seek != Seek::kLast) BindBlob(stmt, 1, encoded);
  if ((seek == Seek::kNext || seek == Seek::kPrevious) && file.description.keys[key].duplicates) {
    sqlite3_bind_int64(stmt, 2, seq);
  }
  return StepRow(file, stmt, row);
}

int FindRecords(StoreFile& file, int key, bool forward, const std::string& encoded, int64_t seq,
                int limit, std::vector<StoreRow>& rows) {
  sqlite3_stmt* stmt = Statement(file, forward ? kNextBatch : kPreviousBatch, key);
  if (!stmt) {
    rows.clear();
    return sqlite3_errcode(file.db);
  }
  BindBlob(stmt, 1, encoded);
  if (file.description.keys[key].duplicates) sqlite3_bind_int64(stmt, 2, seq);
  sqlite3_bind_int(stmt, 3, limit);
  // The rows `rows` already holds are written over: their buffers are
  // reused instead of allocated again for every record of every batch.
  std::size_t n = 0;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    if (n == rows.size()) rows.emplace_back();
    ReadRowColumns(file, stmt, rows[n++]);
  }
  rows.resize(n);
  sqlite3_reset(stmt);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int ReadRecordAt(StoreFile& file, uint32_t pos, int key, StoreRow& row) {
  sqlite3_stmt* stmt = Statement(file, kReadAt, key);
  if (!stmt) return sqlite3_errcode(file.db);
  sqlite3_bind_int64(stmt, 1, pos);
  return StepRow(file, stmt, row);
}

int InsertRecord(StoreFile& file, const std::string& data, uint32_t& pos) {
  sqlite3_stmt* stmt = Statement(file, kInsert, 0);
  if (!stmt) return sqlite3_errcode(file.db);
  BindBlob(stmt, 1, data);
  int rc = BindKeys(file, stmt, 2, data, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) return rc;
  const sqlite3_int64 rowid = sqlite3_last_insert_rowid(file.db);
  // Positions are 32-bit: a file that has used them all up is full.
  if (rowid <= 0 || rowid > 0xFFFFFFFFLL) return SQLITE_FULL;
  pos = static_cast<uint32_t>(rowid);
  return CaptureImage(file, pos, true);
}

int UpdateRecord(StoreFile& file, uint32_t pos, const std::string& data) {
  // The stored keys decide which keys changed, so equal keys keep their
  // place among duplicates.
  int rc = CaptureImage(file, pos);
  if (rc != SQLITE_OK) return rc;
  sqlite3_stmt* read = Statement(file, kReadForUpdate, 0);
  if (!read) return sqlite3_errcode(file.db);
  sqlite3_bind_int64(read, 1, pos);
  rc = sqlite3_step(read);
  if (rc != SQLITE_ROW) {
    sqlite3_reset(read);
    return rc;
  }
  std::vector<std::pair<std::string, int64_t>> old;
  std::vector<bool> oldNull;
  for (std::size_t k = 0; k < file.description.keys.size(); ++k) {
    const int col = 1 + 2 * static_cast<int>(k);
    oldNull.push_back(sqlite3_column_type(read, col) == SQLITE_NULL);
    old.emplace_back(ColumnBlob(read, col), sqlite3_column_int64(read, col + 1));
  }
  sqlite3_reset(read);

  sqlite3_stmt* stmt = Statement(file, kUpdate, 0);
  if (!stmt) return sqlite3_errcode(file.db);
  sqlite3_bind_int64(stmt, 1, pos);
  BindBlob(stmt, 2, data);
  rc = BindKeys(file, stmt, 3, data, &old, &oldNull);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int DeleteRecord(StoreFile& file, uint32_t pos) {
  if (const int rc = CaptureImage(file, pos); rc != SQLITE_OK) return rc;
  sqlite3_stmt* stmt = Statement(file, kDelete, 0);
  if (!stmt) return sqlite3_errcode(file.db);
  sqlite3_bind_int64(stmt, 1, pos);
  const int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int CountRecords(StoreFile& file, uint32_t& records, std::vector<uint32_t>& distinct) {
  distinct.clear();
  sqlite3_stmt* stmt = Statement(file, kCountAll, 0);
  if (!stmt) return sqlite3_errcode(file.db);
  int rc = sqlite3_step(stmt);
  records = rc == SQLITE_ROW ? static_cast<uint32_t>(sqlite3_column_int64(stmt, 0)) : 0;
  sqlite3_reset(stmt);
  if (rc != SQLITE_ROW) return rc;
  for (std::size_t k = 0; k < file.description.keys.size(); ++k) {
    stmt = Statement(file, kCountDistinct, k);
    if (!stmt) return sqlite3_errcode(file.db);
    rc = sqlite3_step(stmt);
    distinct.push_back(rc == SQLITE_ROW ? static_cast<uint32_t>(sqlite3_column_int64(stmt, 0)) : 0);
    sqlite3_reset(stmt);
    if (rc != SQLITE_ROW) return rc;
  }
  return SQLITE_OK;
}

}  // namespace kestrova

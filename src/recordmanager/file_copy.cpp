#include "recordmanager/file_copy.h"

#include <sqlite3.h>

#include <string>

#include "platform/files.h"
#include "recordmanager/btrcall.h"
#include "recordmanager/key_encoding.h"
#include "recordmanager/pg_store.h"
#include "recordmanager/store.h"
#include "recordmanager/store_setting.h"

namespace kestrova {
namespace {

std::string Col(const char* prefix, std::size_t key) { return prefix + std::to_string(key); }

RecordStatus ReadSqliteRecords(const std::string& path, FileDescription& description, std::string& owner,
                               std::vector<RawRecord>& records) {
  StoreFile file;
  RecordStatus status = OpenStoreFile(path, file);
  if (status != kStatusOk) return status;
  description = file.description;
  owner = file.owner;
  std::string sql = "SELECT pos, ver, data";
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    sql += description.keys[k].duplicates ? ", " + Col("s", k) : std::string(", 0");
  }
  sql += " FROM records ORDER BY pos";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(file.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) status = kStatusIoError;
  int rc = SQLITE_DONE;
  while (status == kStatusOk && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    RawRecord record;
    record.pos = static_cast<uint32_t>(sqlite3_column_int64(stmt, 0));
    record.ver = sqlite3_column_int64(stmt, 1);
    const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, 2));
    record.data.assign(data ? data : "", sqlite3_column_bytes(stmt, 2));
    record.data.resize(description.recordLength, '\0');
    for (std::size_t k = 0; k < description.keys.size(); ++k) {
      record.places.push_back(sqlite3_column_int64(stmt, 3 + static_cast<int>(k)));
    }
    records.push_back(std::move(record));
  }
  if (rc != SQLITE_DONE) status = kStatusIoError;
  sqlite3_finalize(stmt);
  CloseStoreFile(file);
  return status;
}

RecordStatus WriteSqliteRecords(const std::string& path, const std::vector<RawRecord>& records) {
  StoreFile file;
  RecordStatus status = OpenStoreFile(path, file);
  if (status != kStatusOk) return status;
  const FileDescription& d = file.description;
  std::string cols = "pos, ver, data";
  std::string vals = "?, ?, ?";
  for (std::size_t k = 0; k < d.keys.size(); ++k) {
    cols += ", " + Col("k", k);
    vals += ", ?";
    if (d.keys[k].duplicates) {
      cols += ", " + Col("s", k);
      vals += ", ?";
    }
  }
  const std::string sql = "INSERT INTO records(" + cols + ") VALUES(" + vals + ")";
  sqlite3_stmt* stmt = nullptr;
  if (ExecStore(file, "BEGIN IMMEDIATE") != SQLITE_OK ||
      sqlite3_prepare_v2(file.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    status = kStatusIoError;
  }
  for (const RawRecord& record : records) {
    if (status != kStatusOk) break;
    int n = 1;
    sqlite3_bind_int64(stmt, n++, record.pos);
    sqlite3_bind_int64(stmt, n++, record.ver);
    sqlite3_bind_blob(stmt, n++, record.data.data(), static_cast<int>(record.data.size()), SQLITE_STATIC);
    const auto* bytes = reinterpret_cast<const uint8_t*>(record.data.data());
    std::vector<std::string> encoded(d.keys.size());
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
      const std::string value = KeyValueOfRecord(d, k, bytes);
      if (IsNullKeyValue(d, k, value)) {
        sqlite3_bind_null(stmt, n++);
      } else {
        encoded[k] = EncodeKeyValue(d, k, value);
        sqlite3_bind_blob(stmt, n++, encoded[k].data(), static_cast<int>(encoded[k].size()), SQLITE_STATIC);
      }
      if (d.keys[k].duplicates) sqlite3_bind_int64(stmt, n++, record.places[k]);
    }
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE) status = (rc & 0xFF) == SQLITE_CONSTRAINT ? kStatusDuplicateKey : kStatusIoError;
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  if (status != kStatusOk || ExecStore(file, "COMMIT") != SQLITE_OK) {
    ExecStore(file, "ROLLBACK");
    if (status == kStatusOk) status = kStatusIoError;
  }
  CloseStoreFile(file);
  return status;
}

// Holds a file open exclusively through BTRCALL for as long as it lives.
class ExclusiveOpen {
 public:
  ExclusiveOpen(const std::string& path, const std::string& owner) {
    std::string key = path + std::string(1, '\0');
    std::string data = owner + std::string(1, '\0');
    uint32_t length = static_cast<uint32_t>(data.size());
    status_ = key.size() > 255 ? kStatusInvalidFileName
                               : static_cast<RecordStatus>(BTRCALL(kOpOpen, block_, data.data(), &length,
                                                                   key.data(), static_cast<uint8_t>(key.size()),
                                                                   -4));
  }
  ~ExclusiveOpen() {
    if (status_ == kStatusOk) BTRCALL(kOpClose, block_, nullptr, nullptr, nullptr, 0, 0);
  }
  RecordStatus Status() const { return status_; }

 private:
  uint8_t block_[kPositionBlockSize] = {};
  RecordStatus status_ = kStatusOk;
};

}  // namespace

RecordStatus CopyRecordFile(const std::string& sourceJobPath, const std::string& targetJobPath,
                            bool replace) {
  const std::string source = NativePath(sourceJobPath);
  const std::string target = NativePath(targetJobPath);
  const StoreRoute from = RouteOfPath(source);
  const StoreRoute to = RouteOfPath(target);
  if (!from.valid || !to.valid) return kStatusIoError;
  FileDescription description;
  std::string owner;
  std::vector<RawRecord> records;
  // The owner is not known before reading: the first read says who it is,
  // the exclusive open then holds the file still while it is read again.
  RecordStatus status = from.postgres ? PgReadRecords(from, description, owner, records)
                                      : ReadSqliteRecords(source, description, owner, records);
  if (status != kStatusOk) return status;
  ExclusiveOpen holdSource(sourceJobPath, owner);
  if (holdSource.Status() != kStatusOk) return holdSource.Status();
  records.clear();
  status = from.postgres ? PgReadRecords(from, description, owner, records)
                         : ReadSqliteRecords(source, description, owner, records);
  if (status != kStatusOk) return status;

  status = CreateRecordFile(target, description, owner, replace);
  if (status != kStatusOk) return status;
  ExclusiveOpen holdTarget(targetJobPath, owner);
  if (holdTarget.Status() != kStatusOk) return holdTarget.Status();
  return to.postgres ? PgWriteRecords(to, description, records) : WriteSqliteRecords(target, records);
}

}  // namespace kestrova

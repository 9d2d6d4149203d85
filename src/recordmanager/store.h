// One record file as an SQLite database.
//
// Tables of a record file:
//   kestrova_file  one row: a format marker, the description as created
//                  (Create form) and the owner name
//   records        pos INTEGER PRIMARY KEY AUTOINCREMENT  (the record's
//                  stable position; AUTOINCREMENT so a position is never
//                  given to another record), ver (bumped by every update,
//                  for optimistic reads), data (the record), and per key n:
//                  k<n> (the memcmp-ordered key, NULL for a null key) and,
//                  for keys with duplicates, s<n> (the order among equal
//                  keys: one more than the highest so far, so duplicates
//                  keep the order in which they got their value)
//   one index per key on (k<n>) UNIQUE, or (k<n>, s<n>) with duplicates
//   kestrova_undo  made by the first multi-file End: (tx, present, and the
//                  columns of records) the images of records as they were
//                  before a transaction whose End is not settled yet;
//                  present = 0 for a position the transaction inserted
// The database runs in WAL mode with full synchronisation; see
// docs/record-manager.md for why and what a power loss can take.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "recordmanager/file_description.h"

namespace kestrova {

struct StoreFile {
  sqlite3* db = nullptr;
  FileDescription description;
  std::string owner;
  std::map<int, sqlite3_stmt*> statements;  // prepared on first use
  // Inside a client transaction: every record's image before its first
  // change, and the position of every record it inserts, are kept in a
  // connection-private table (temp.undo_images), so a transaction that
  // spans several files can make them durable at End.
  bool captureUndo = false;
  bool undoImagesReady = false;  // the temp table exists
};

// A record as read, with the key it was reached by.
struct StoreRow {
  uint32_t pos = 0;
  int64_t ver = 0;
  std::string data;
  std::string encodedKey;  // of the key asked for; empty with keyIsNull
  bool keyIsNull = false;
  int64_t seq = 0;
};

enum class Seek {
  kFirst,
  kLast,
  kEqual,
  kGreater,
  kGreaterOrEqual,
  kLess,
  kLessOrEqual,
  kNext,      // after (key, seq)
  kPrevious,  // before (key, seq)
};

// Builds the file in a temporary name beside `nativePath` and moves it into
// place only when complete, so no other process ever sees half a file.
// `replace` false: kStatusFileExists when the file exists.  Replacing a
// file another client has open answers kStatusFileLocked.
RecordStatus CreateStoreFile(const std::string& nativePath, const FileDescription& description,
                             const std::string& owner, bool replace);

// True when the file starts as our record files do (an SQLite database in
// WAL mode).  Reads the header with a descriptor of its own: call it only
// while this process does not have the file open through SQLite, whose
// POSIX locks would be dropped when that descriptor is closed.
bool IsRecordFileHeader(const std::string& nativePath);

// Opens an existing file.  kStatusFileNotFound when missing, kStatusIoError
// when it is not one of our record files (it is then not changed at all).
RecordStatus OpenStoreFile(const std::string& nativePath, StoreFile& file);
void CloseStoreFile(StoreFile& file);

// Statements that take no arguments (BEGIN, COMMIT, SAVEPOINT ...).
int ExecStore(StoreFile& file, const char* sql);

// Finds the first record along key `key` as `seek` says.  `encoded` and
// `seq` are the reference point (unused for kFirst/kLast).  Returns
// SQLITE_ROW with `row` filled, SQLITE_DONE when none, or an error code.
int FindRecord(StoreFile& file, int key, Seek seek, const std::string& encoded, int64_t seq,
               StoreRow& row);

// Up to `limit` records after (forward) or before (key, seq), in key order;
// fewer at the end of the key.  SQLITE_OK or an error code.
int FindRecords(StoreFile& file, int key, bool forward, const std::string& encoded, int64_t seq,
                int limit, std::vector<StoreRow>& rows);

// Reads the record at a position, with its key `key`.  SQLITE_ROW/DONE/error.
int ReadRecordAt(StoreFile& file, uint32_t pos, int key, StoreRow& row);

// Writes.  The caller holds a write transaction.  SQLITE_CONSTRAINT means a
// duplicate on a unique key.  `pos` receives the new record's position.
int InsertRecord(StoreFile& file, const std::string& data, uint32_t& pos);
// Rewrites the record at `pos`; for every key whose encoding changed the
// record moves to the end of its new duplicates.  SQLITE_DONE when no record
// holds `pos`.
int UpdateRecord(StoreFile& file, uint32_t pos, const std::string& data);
int DeleteRecord(StoreFile& file, uint32_t pos);

// Undo images of a transaction (see docs/record-manager.md, Transactions).
// Makes the connection-private image table; call outside any transaction.
int PrepareUndoCapture(StoreFile& file);
// Inside the transaction's write lock, before its first change to the file:
// starts capturing.
int StartUndoCapture(StoreFile& file);
// Copies the images captured so far into kestrova_undo, tagged `tx`, inside
// the caller's open write transaction.
int KeepUndoImages(StoreFile& file, const std::string& tx);
// Forgets the captured images (inside the transaction being ended).
int DropCapturedImages(StoreFile& file);
// The transactions that left undo images in the file (committed state as
// this connection sees it).  SQLITE_OK, with none, when there never were.
int PendingUndoTransactions(StoreFile& file, std::vector<std::string>& txs);
// Inside a write transaction: puts back every record `tx` changed as it was
// before `tx` (by its images alone: records it inserted deleted, records it
// changed or deleted written back with a new version), then drops its
// images.
int RestoreUndoImages(StoreFile& file, const std::string& tx);
// Inside a write transaction: drops the images of `tx` (its changes stand).
int ClearUndoImages(StoreFile& file, const std::string& tx);

// Record count and distinct values per key (for Stat).
int CountRecords(StoreFile& file, uint32_t& records, std::vector<uint32_t>& distinct);

}  // namespace kestrova

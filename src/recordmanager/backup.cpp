#include "recordmanager/backup.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "recordmanager/record_locks_os.h"
#include "recordmanager/store.h"

namespace kestrova {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string Directory(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncPath(const std::string& path, bool directory) {
  const int fd = ::open(path.c_str(), (directory ? O_DIRECTORY : 0) | O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// A connection to a record file, closed with the object.
struct Connection {
  sqlite3* db = nullptr;
  bool inWrite = false;
  ~Connection() {
    if (inWrite) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (db != nullptr) sqlite3_close(db);
  }
};

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// True when the file holds images of a multi-file End: one under way, or
// one of a dead client not settled yet.  Either way the committed state may
// be half of a transaction, so it is not copied now.
bool HoldsEndImages(sqlite3* db) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM main.sqlite_master WHERE name = 'kestrova_undo'", -1,
                         &statement, nullptr) != SQLITE_OK) {
    return true;
  }
  const bool hasTable = sqlite3_step(statement) == SQLITE_ROW;
  sqlite3_finalize(statement);
  if (!hasTable) return false;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM main.kestrova_undo LIMIT 1", -1, &statement,
                         nullptr) != SQLITE_OK) {
    return true;
  }
  const bool any = sqlite3_step(statement) == SQLITE_ROW;
  sqlite3_finalize(statement);
  return any;
}

// The whole database of `source` into a new file at `temporary`, in WAL
// mode like every record file, synced.
bool CopyDatabase(sqlite3* source, const std::string& temporary, std::string& why) {
  sqlite3* target = nullptr;
  if (sqlite3_open_v2(temporary.c_str(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    why = sqlite3_errmsg(target);
    sqlite3_close(target);
    return false;
  }
  sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
  int rc = SQLITE_ERROR;
  if (backup != nullptr) {
    rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
  }
  bool ok = rc == SQLITE_DONE && Exec(target, "PRAGMA journal_mode=WAL") &&
            Exec(target, "PRAGMA wal_checkpoint(TRUNCATE)");
  if (!ok) why = sqlite3_errmsg(target);
  ok = sqlite3_close(target) == SQLITE_OK && ok;
  ::unlink((temporary + "-wal").c_str());
  ::unlink((temporary + "-shm").c_str());
  return ok && SyncPath(temporary, false);
}

std::string TemporaryName(const std::string& target) {
  return target + ".part-" + std::to_string(::getpid());
}

}  // namespace

RecordStatus BackupRecordFiles(const std::vector<std::string>& sources,
                               const std::vector<std::string>& targets, int waitMs,
                               std::string& error) {
  if (sources.size() != targets.size()) {
    error = "as many targets as files are needed";
    return kStatusInvalidOperation;
  }
  for (const std::string& target : targets) {
    if (Exists(target)) {
      error = target + ": exists already";
      return kStatusFileExists;
    }
  }
  std::vector<Connection> files(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (!Exists(sources[i])) {
      error = sources[i] + ": no such file";
      return kStatusFileNotFound;
    }
    if (sqlite3_open_v2(sources[i].c_str(), &files[i].db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
      error = sources[i] + ": " + sqlite3_errmsg(files[i].db);
      return kStatusIoError;
    }
  }

  // Every write lock at once, in the order given, and no End's images in any
  // file.  A writer holding one lock never waits for another of ours, so a
  // refusal gives back what was taken and tries again a little later.
  std::minstd_rand random(static_cast<unsigned>(::getpid()));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    bool all = true;
    for (Connection& file : files) {
      file.inWrite = Exec(file.db, "BEGIN IMMEDIATE");
      if (!file.inWrite || HoldsEndImages(file.db)) {
        all = false;
        break;
      }
    }
    if (all) break;
    for (Connection& file : files) {
      if (file.inWrite) Exec(file.db, "ROLLBACK");
      file.inWrite = false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      error = "the files were never free of writers for long enough";
      return kStatusFileLocked;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 40));
  }

  std::vector<std::string> made;
  auto undo = [&] {
    for (const std::string& path : made) ::unlink(path.c_str());
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string temporary = TemporaryName(targets[i]);
    made.push_back(temporary);
    std::string why;
    // The copy reads through a connection of its own: SQLite will not back
    // up through the one that holds the write lock.  With every writer held
    // off, what it reads is the state all the files had at one moment.
    Connection reader;
    if (sqlite3_open_v2(sources[i].c_str(), &reader.db, SQLITE_OPEN_READONLY, nullptr) !=
            SQLITE_OK ||
        !CopyDatabase(reader.db, temporary, why)) {
      if (why.empty()) why = sqlite3_errmsg(reader.db);
      undo();
      error = targets[i] + ": " + why;
      return kStatusIoError;
    }
  }
  // The copies are complete: the writers may go on while they are named.
  for (Connection& file : files) {
    Exec(file.db, "ROLLBACK");
    file.inWrite = false;
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (::rename(made[i].c_str(), targets[i].c_str()) != 0) {
      undo();
      for (std::size_t k = 0; k < i; ++k) ::unlink(targets[k].c_str());
      error = targets[i] + ": cannot be written";
      return kStatusIoError;
    }
    made[i] = targets[i];
    SyncPath(Directory(targets[i]), true);
  }
  return kStatusOk;
}

RecordStatus RestoreRecordFile(const std::string& backup, const std::string& target, bool replace,
                               std::string& error) {
  if (!IsRecordFileHeader(backup)) {
    error = backup + ": not a record file";
    return kStatusIoError;
  }
  const bool exists = Exists(target);
  if (exists && !replace) {
    error = target + ": exists already";
    return kStatusFileExists;
  }
  // The gate of the target's lock file, taken exclusively, keeps every
  // client out while the file is replaced, and is refused while one has it
  // open.
  const int lockFd = OpenLockFile(target);
  if (lockFd < 0) {
    error = target + "-lock: cannot be opened";
    return kStatusIoError;
  }
  if (LockByte(lockFd, kGateLockByte, true, false) != OsLockResult::kAcquired) {
    CloseLockFile(lockFd);
    error = target + ": in use by a program of the suite";
    return kStatusFileLocked;
  }
  sqlite3* source = nullptr;
  RecordStatus status = kStatusOk;
  const std::string temporary = TemporaryName(target);
  std::string why;
  if (sqlite3_open_v2(backup.c_str(), &source, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      !CopyDatabase(source, temporary, why)) {
    error = target + ": " + (why.empty() ? sqlite3_errmsg(source) : why);
    ::unlink(temporary.c_str());
    status = kStatusIoError;
  }
  sqlite3_close(source);
  if (status == kStatusOk) {
    // The replaced file's journal goes with it: left beside the new file it
    // would be read as the new file's.
    ::unlink((target + "-wal").c_str());
    ::unlink((target + "-shm").c_str());
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
      ::unlink(temporary.c_str());
      error = target + ": cannot be written";
      status = kStatusIoError;
    } else {
      SyncPath(Directory(target), true);
    }
  }
  UnlockByte(lockFd, kGateLockByte);
  CloseLockFile(lockFd);
  return status;
}

}  // namespace kestrova

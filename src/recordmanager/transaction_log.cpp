#include "recordmanager/transaction_log.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "recordmanager/record_locks_os.h"

namespace kestrova {
namespace {

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncDirectory(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

constexpr char kLogPrefix[] = ".kestrova-tx-";
constexpr char kLogHeader[] = " kestrova transaction\n";  // after the state byte

// Whether the record file at `path` may still hold undo images of `tx`
// (true when that cannot be told).  Read through a connection of its own,
// which SQLite keeps apart from this process's other connections to the
// file.
bool MayHoldImagesOf(const std::string& path, const std::string& tx) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno != ENOENT;
  sqlite3* db = nullptr;
  bool holds = true;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db, "SELECT 1 FROM main.kestrova_undo WHERE tx = ?1 LIMIT 1",
                                      -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_bind_text(stmt, 1, tx.data(), static_cast<int>(tx.size()), SQLITE_TRANSIENT);
      holds = sqlite3_step(stmt) != SQLITE_DONE;
    } else {
      // A file that never had the table never had images.
      const char* message = sqlite3_errmsg(db);
      holds = std::string(message).find("no such table") == std::string::npos;
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return holds;
}

}  // namespace

bool WriteTransactionLog(const std::string& firstFile, const std::vector<std::string>& files,
                         TransactionLog& log) {
  static std::atomic<unsigned> counter{0};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // Unique among live and dead owners alike: a reused process id must never
  // name the log of an earlier, crashed transaction.
  const std::string dir = DirectoryOf(firstFile);
  std::string text = std::string("P") + kLogHeader;
  for (const std::string& file : files) text += file + "\n";
  // Between creating the log and locking it, a client removing dead
  // owners' logs can take it for one and remove it: then the name no
  // longer leads to this log, and a new one is made.
  for (int attempt = 0;; ++attempt) {
    log.path = dir + "/" + kLogPrefix + std::to_string(getpid()) + "-" +
               std::to_string(now.tv_sec) + std::to_string(now.tv_nsec) + "-" +
               std::to_string(counter++);
    log.fd = open(log.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (log.fd < 0) return false;
    struct stat mine {}, named {};
    if (LockByte(log.fd, 0, true, false) == OsLockResult::kAcquired && fstat(log.fd, &mine) == 0 &&
        stat(log.path.c_str(), &named) == 0 && mine.st_ino == named.st_ino &&
        mine.st_dev == named.st_dev) {
      break;
    }
    close(log.fd);
    log.fd = -1;
    if (attempt >= 4) return false;
  }
  if (!WriteAll(log.fd, text) || fsync(log.fd) != 0 || !SyncDirectory(dir)) {
    unlink(log.path.c_str());
    close(log.fd);
    log.fd = -1;
    return false;
  }
  return true;
}

bool MarkTransactionCommitted(TransactionLog& log) {
  // One byte in place: a sector is written whole or not at all.
  const char committed = 'C';
  return pwrite(log.fd, &committed, 1, 0) == 1 && fdatasync(log.fd) == 0;
}

void RemoveTransactionLog(TransactionLog& log) {
  unlink(log.path.c_str());
  CloseTransactionLog(log);
}

void CloseTransactionLog(TransactionLog& log) {
  if (log.fd >= 0) close(log.fd);
  log.fd = -1;
}

LogState InspectTransactionLog(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  // A missing log was removed when no file showed images of it.  A
  // committed transaction's images cannot show up again after that (every
  // file had committed visibly before the log said 'C'), but a commit cut
  // short inside SQLite can: durable in the WAL, unseen until the next WAL
  // recovery.  Such images belong to a transaction that never answered 0.
  if (fd < 0) return errno == ENOENT ? LogState::kNotCommitted : LogState::kOwnerActive;
  LogState state = LogState::kNotCommitted;
  char first = 0;
  if (ByteHeldByOther(fd, 0, true)) {
    state = LogState::kOwnerActive;
  } else if (pread(fd, &first, 1, 0) == 1 && first == 'C') {
    state = LogState::kCommitted;
  }
  close(fd);
  return state;
}

void RemoveLogIfSettled(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  // Held by us, the lock keeps out an owner still alive; an owner that has
  // only just made its log finds it taken or gone and makes another.
  if (LockByte(fd, 0, true, false) == OsLockResult::kAcquired) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (text.size() < (1u << 20) && (n = pread(fd, buffer, sizeof buffer, text.size())) > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    // A log not written whole belongs to an owner that died before it
    // committed anything: no file can hold its images.
    bool settled = true;
    const std::string header(kLogHeader);
    if (text.size() > header.size() && text.compare(1, header.size(), header) == 0 &&
        text.back() == '\n') {
      std::size_t at = 1 + header.size();
      while (settled && at < text.size()) {
        const std::size_t end = text.find('\n', at);
        settled = !MayHoldImagesOf(text.substr(at, end - at), path);
        at = end + 1;
      }
    }
    if (settled) unlink(path.c_str());
  }
  close(fd);
}

void SweepTransactionLogs(const std::string& file) {
  const std::string dir = DirectoryOf(file);
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> logs;
  while (const dirent* entry = readdir(d)) {
    if (std::string(entry->d_name).rfind(kLogPrefix, 0) == 0) logs.push_back(dir + "/" + entry->d_name);
  }
  closedir(d);
  for (const std::string& log : logs) RemoveLogIfSettled(log);
}

}  // namespace kestrova

#include "recordmanager/transaction_log.h"

#include <fcntl.h>
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

}  // namespace

bool WriteTransactionLog(const std::string& firstFile, const std::vector<std::string>& files,
                         TransactionLog& log) {
  static std::atomic<unsigned> counter{0};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // Unique among live and dead owners alike: a reused process id must never
  // name the log of an earlier, crashed transaction.
  const std::string dir = DirectoryOf(firstFile);
  log.path = dir + "/.kestrova-tx-" + std::to_string(getpid()) + "-" + std::to_string(now.tv_sec) +
             std::to_string(now.tv_nsec) + "-" + std::to_string(counter++);
  log.fd = open(log.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (log.fd < 0) return false;
  std::string text = "P kestrova transaction\n";
  for (const std::string& file : files) text += file + "\n";
  if (LockByte(log.fd, 0, true, false) != OsLockResult::kAcquired || !WriteAll(log.fd, text) ||
      fsync(log.fd) != 0 || !SyncDirectory(dir)) {
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
  if (fd < 0) return errno == ENOENT ? LogState::kCommitted : LogState::kOwnerActive;
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

}  // namespace kestrova

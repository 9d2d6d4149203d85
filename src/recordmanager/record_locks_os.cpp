#include "recordmanager/record_locks_os.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kestrova {
namespace {

struct flock ByteRange(uint64_t offset, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(offset);
  lock.l_len = 1;
  lock.l_pid = 0;  // must be 0 for open-file-description locks
  return lock;
}

}  // namespace

int OpenLockFile(const std::string& nativeDataPath, bool* readOnly) {
  const std::string path = nativeDataPath + "-lock";
  // 0666: the process's umask decides, so a group sharing the files
  // (umask 002) can all write to the lock file one of them made.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (readOnly) *readOnly = false;
  // A lock file we may only read still serves a reader: shared locks work,
  // but the change counter cannot be moved and exclusive locks fail, so
  // the caller must not let anything write through it.
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && readOnly) *readOnly = true;
  }
  return fd;
}

void CloseLockFile(int fd) {
  if (fd >= 0) close(fd);
}

OsLockResult LockByte(int fd, uint64_t offset, bool exclusive, bool wait) {
  if (fd < 0) return OsLockResult::kError;
  struct flock lock = ByteRange(offset, exclusive ? F_WRLCK : F_RDLCK);
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return OsLockResult::kAcquired;
    if (errno == EINTR) continue;  // a signal interrupted the wait: wait again
    if (errno == EAGAIN || errno == EACCES) return OsLockResult::kBusy;
    return OsLockResult::kError;
  }
}

void UnlockByte(int fd, uint64_t offset) {
  if (fd < 0) return;
  struct flock lock = ByteRange(offset, F_UNLCK);
  fcntl(fd, F_OFD_SETLK, &lock);
}

uint64_t* MapChangeCounter(int fd) {
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) return nullptr;
  // Growing the file to 8 bytes is harmless when several processes do it.
  if (st.st_size < 8 && ftruncate(fd, 8) != 0) return nullptr;
  void* p = mmap(nullptr, 8, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint64_t*>(p);
}

void UnmapChangeCounter(uint64_t* counter) {
  if (counter) munmap(counter, 8);
}

uint64_t MarkChangeStarting(uint64_t* counter) {
  if (!counter) return 0;
  std::atomic_ref<uint64_t> value(*counter);
  // A writer that died between its two marks left the counter odd: moving
  // to the next odd value still tells every reader that something changed.
  uint64_t v = value.load();
  while (!value.compare_exchange_weak(v, (v | 1) + 2)) {
  }
  return (v | 1) + 2;
}

void MarkChangeDone(uint64_t* counter, uint64_t mark) {
  if (!counter || mark == 0) return;
  // Only the latest writer's mark is turned even: a writer that started
  // after ours (and so after our commit) may still be about to commit.
  uint64_t expected = mark;
  std::atomic_ref<uint64_t>(*counter).compare_exchange_strong(expected, mark + 1);
}

uint64_t ReadChangeCounter(const uint64_t* counter) {
  if (!counter) return 1;  // odd: never trust a cache
  return std::atomic_ref<uint64_t>(*const_cast<uint64_t*>(counter)).load();
}

bool ByteHeldByOther(int fd, uint64_t offset, bool exclusive) {
  if (fd < 0) return false;
  struct flock lock = ByteRange(offset, exclusive ? F_WRLCK : F_RDLCK);
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace kestrova

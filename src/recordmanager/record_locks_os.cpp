#include "recordmanager/record_locks_os.h"

#include <fcntl.h>
#include <unistd.h>

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

int OpenLockFile(const std::string& nativeDataPath) {
  const std::string path = nativeDataPath + "-lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  // In a directory we may not write to, a lock file made by the
  // administrator can still be opened for reading: shared locks (plain
  // opens) then work and exclusive ones answer busy.
  if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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

bool ByteHeldByOther(int fd, uint64_t offset, bool exclusive) {
  if (fd < 0) return false;
  struct flock lock = ByteRange(offset, exclusive ? F_WRLCK : F_RDLCK);
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace kestrova

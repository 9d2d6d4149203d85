#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace kestrova {
namespace {

ExclusiveOpenResult OpenWithFlags(std::string_view jobPath, int flags, ExclusiveFile& file) {
  file.descriptor = -1;
  const std::string path = NativePath(jobPath);
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | flags, 0666);
  if (fd < 0) return errno == ENOENT ? ExclusiveOpenResult::kNoPath : ExclusiveOpenResult::kFailed;
  struct stat info = {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return ExclusiveOpenResult::kFailed;
  }
  const ExclusiveOpenResult locked = LockWholeFile(fd);
  if (locked != ExclusiveOpenResult::kOpened) {
    ::close(fd);
    return locked;
  }
  file.descriptor = fd;
  return ExclusiveOpenResult::kOpened;
}

}  // namespace

ExclusiveOpenResult LockWholeFile(int descriptor) {
  // An open-file-description lock belongs to this open only, and goes with
  // its close or with the process.
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  if (::fcntl(descriptor, F_OFD_SETLK, &lock) == 0) return ExclusiveOpenResult::kOpened;
  return errno == EAGAIN || errno == EACCES ? ExclusiveOpenResult::kBusy : ExclusiveOpenResult::kFailed;
}

ExclusiveOpenResult OpenExclusiveFile(std::string_view jobPath, ExclusiveFile& file) {
  return OpenWithFlags(jobPath, O_CREAT, file);
}

ExclusiveOpenResult OpenExistingExclusiveFile(std::string_view jobPath, ExclusiveFile& file) {
  return OpenWithFlags(jobPath, 0, file);
}

bool ReadExclusiveFile(const ExclusiveFile& file, std::string& contents) {
  contents.clear();
  if (file.descriptor < 0) return false;
  char buffer[8192];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(file.descriptor, buffer, sizeof buffer, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      contents.clear();
      return false;
    }
    if (n == 0) return true;
    contents.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
}

bool WriteExclusiveFileAt(const ExclusiveFile& file, int64_t offset, std::string_view bytes) {
  if (file.descriptor < 0 || offset < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(file.descriptor, bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void CloseExclusiveFile(ExclusiveFile& file) {
  if (file.descriptor >= 0) ::close(file.descriptor);
  file.descriptor = -1;
}

}  // namespace kestrova

#include "platform/exclusive_append.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/exclusive_file.h"
#include "platform/files.h"

namespace kestrova {

AppendResult AppendExclusively(std::string_view jobPath, std::string_view contents) {
  const std::string path = NativePath(jobPath);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return AppendResult::kFailed;
  // The lock is released by the close below, or by the kernel when the
  // process dies.
  const ExclusiveOpenResult locked = LockWholeFile(fd);
  if (locked != ExclusiveOpenResult::kOpened) {
    ::close(fd);
    return locked == ExclusiveOpenResult::kBusy ? AppendResult::kBusy : AppendResult::kFailed;
  }
  std::size_t done = 0;
  bool ok = true;
  while (done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok ? AppendResult::kWritten : AppendResult::kFailed;
}

}  // namespace kestrova

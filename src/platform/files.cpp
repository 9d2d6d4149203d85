#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/codepage.h"

namespace kestrova {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Letter-case folding for matching names: ASCII and the Latin-1 letters that
// the suite's file names may carry.
std::u32string FoldName(std::string_view utf8) {
  std::u32string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = codepage_detail::DecodeUtf8(utf8.data(), utf8.size(), i);
    if (cp >= 'A' && cp <= 'Z') cp += 32;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) cp += 32;
    out.push_back(cp);
  }
  return out;
}

// The entry of `dir` whose name matches `name` without regard to case, or
// empty when none does.  An exact match wins over a folded one.
std::string FindEntry(const std::string& dir, const std::string& name) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return {};
  const std::u32string wanted = FoldName(name);
  std::string found;
  while (dirent* e = ::readdir(d)) {
    const std::string entry = e->d_name;
    if (entry == name) {
      found = entry;
      break;
    }
    if (found.empty() && FoldName(entry) == wanted) found = entry;
  }
  ::closedir(d);
  return found;
}

}  // namespace

std::string NativePath(std::string_view jobPath) {
  std::string path = Cp850ToUtf8(jobPath);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || Exists(path)) return path;

  // Walk the components, replacing each by the directory entry it matches.
  std::string resolved;
  std::size_t pos = 0;
  if (path[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  while (pos <= path.size()) {
    std::size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    std::string component = path.substr(pos, next - pos);
    const bool last = next >= path.size();
    if (!component.empty() && component != "." && component != "..") {
      const std::string dir = resolved.empty() ? "." : resolved;
      const std::string candidate = resolved + component;
      if (!Exists(candidate)) {
        std::string entry = FindEntry(dir, component);
        if (entry.empty()) {
          // Nothing matches: keep the rest as written.
          return resolved + path.substr(pos);
        }
        component = entry;
      }
    }
    resolved += component;
    if (!last) resolved += '/';
    pos = next + 1;
  }
  return resolved;
}

bool PathExists(std::string_view jobPath) { return Exists(NativePath(jobPath)); }

bool IsDirectory(std::string_view jobPath) {
  struct stat st;
  return ::stat(NativePath(jobPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsWritableDirectory(std::string_view jobPath) {
  const std::string path = NativePath(jobPath);
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool ReadWholeFile(std::string_view jobPath, std::string& contents) {
  contents.clear();
  const int fd = ::open(NativePath(jobPath).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      contents.clear();
      return false;
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

namespace {

bool WriteAll(int fd, std::string_view contents) {
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteWithFlags(std::string_view jobPath, std::string_view contents, int flags) {
  const int fd = ::open(NativePath(jobPath).c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, contents);
  return ::close(fd) == 0 && ok;
}

}  // namespace

// The file is written over in place and then cut to its new length, not
// emptied first: ext4 takes a file emptied and written again for a file
// being replaced and starts writing it to disk at its close, which made
// every letter's merge data file (written once per lease) wait for the
// disk, about 0.1 ms each.  The file ends up holding exactly `contents`
// either way.
bool WriteWholeFile(std::string_view jobPath, std::string_view contents) {
  const int fd = ::open(NativePath(jobPath).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, contents) && ::ftruncate(fd, static_cast<off_t>(contents.size())) == 0;
  return ::close(fd) == 0 && ok;
}

bool AppendToFile(std::string_view jobPath, std::string_view contents) {
  return WriteWithFlags(jobPath, contents, O_APPEND);
}

bool RemoveFile(std::string_view jobPath) { return ::unlink(NativePath(jobPath).c_str()) == 0; }

bool MakeDirectories(std::string_view jobPath) {
  const std::string path = NativePath(jobPath);
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      const std::string prefix = path.substr(0, i);
      if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ChangeDirectory(std::string_view jobPath) {
  return ::chdir(NativePath(jobPath).c_str()) == 0;
}

}  // namespace kestrova

namespace kestrova {

std::string AbsoluteJobPath(std::string_view jobPath) {
  if (jobPath.empty() || jobPath.front() == '/' || jobPath.front() == '\\') {
    return std::string(jobPath);
  }
  char buffer[4096];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return std::string(jobPath);
  std::string cwd = Utf8ToCp850(buffer);
  if (cwd.empty() || cwd.back() != '/') cwd += '/';
  return cwd + std::string(jobPath);
}

}  // namespace kestrova

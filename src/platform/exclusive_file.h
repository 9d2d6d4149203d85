// A byte file that no other process may have open while this one works on
// it: the suite's "no sharing" open, used for its lock files.
//
// The exclusion is an open-file-description lock over the whole file, taken
// without waiting right after the open.  The kernel drops it when the file
// is closed or when the process dies, however it dies, so a job killed in
// the middle of its work never leaves a file that nobody can open again.
// Other programs that honour the same lock are kept out; the caller decides
// how long to retry when the file is busy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

enum class ExclusiveOpenResult {
  kOpened,     // the file is open, read and write, and held by this process
  kBusy,       // another process holds it: nothing was opened
  kNoPath,     // a directory of the path does not exist
  kFailed,     // any other failure (permissions, not a regular file ...)
};

struct ExclusiveFile {
  int descriptor = -1;
};

// Opens the file (job path) for reading and writing, created empty when
// missing, and takes the exclusive lock.  On anything but kOpened `file` is
// left closed.
ExclusiveOpenResult OpenExclusiveFile(std::string_view jobPath, ExclusiveFile& file);

// Opens only an existing file, as above; kNoPath when it does not exist.
ExclusiveOpenResult OpenExistingExclusiveFile(std::string_view jobPath, ExclusiveFile& file);

// The whole contents; false on a read error (contents then empty).
bool ReadExclusiveFile(const ExclusiveFile& file, std::string& contents);

// Writes `bytes` at byte offset `offset` (0-based), nothing else; false when
// not all of them were written.
bool WriteExclusiveFileAt(const ExclusiveFile& file, int64_t offset, std::string_view bytes);

// Takes the exclusive lock on an open descriptor, without waiting: kOpened
// when held, kBusy when another process holds the file, kFailed otherwise.
// The lock belongs to this open of the file and goes with its close.
ExclusiveOpenResult LockWholeFile(int descriptor);

// Closes the file, which releases the lock.  Closing a closed file does
// nothing.
void CloseExclusiveFile(ExclusiveFile& file);

}  // namespace kestrova

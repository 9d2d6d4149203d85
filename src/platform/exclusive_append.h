// Appending to a shared text file while no other process may write to it.
//
// The suite's logs are appended to by every workstation; a line is written
// with exclusive access so that two jobs never interleave their bytes.  The
// exclusive access is an open-file-description lock over the whole file,
// taken without waiting: the caller decides how long to retry.
#pragma once

#include <string_view>

namespace kestrova {

enum class AppendResult {
  kWritten,  // the whole text was appended under the exclusive lock
  kBusy,     // another process holds the file: nothing was written
  kFailed,   // the file cannot be opened or written
};

// Appends `contents` to the file (job path, created when missing) while
// holding an exclusive lock on it; never waits for the lock.
AppendResult AppendExclusively(std::string_view jobPath, std::string_view contents);

}  // namespace kestrova

// Files and paths as the job names them.
//
// The job builds paths exactly as on the suite's Windows installations, by
// plain concatenation of code page 850 texts ("JOBROOT" + "DADES\FinquesV").
// NativePath turns such a path into the name of a file on this system:
// backslashes become slashes, the text becomes UTF-8, and when the exact path
// does not exist each component is looked up without regard to letter case,
// so an installation copied from a Windows share works unchanged.
#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// The native (UTF-8, "/"-separated) path for a job path in code page 850.
// Resolution of letter case stops at the first component that matches no
// entry; the rest is kept as written (so a file about to be created gets the
// case of its existing parent directories and the name as given).
std::string NativePath(std::string_view jobPath);

// True when the job path names an existing file or directory.
bool PathExists(std::string_view jobPath);
bool IsDirectory(std::string_view jobPath);

// True when the job path names a directory this process may create files
// in (write and search permission, and not on a read-only file system).
bool IsWritableDirectory(std::string_view jobPath);

// Reads a whole file (job path).  False when it cannot be opened or is not a
// regular file; `contents` is then empty.
bool ReadWholeFile(std::string_view jobPath, std::string& contents);

// Writes (replaces) or appends to a file (job path).  False on any failure.
bool WriteWholeFile(std::string_view jobPath, std::string_view contents);
bool AppendToFile(std::string_view jobPath, std::string_view contents);

// Removes a file; false when it did not exist or could not be removed.
bool RemoveFile(std::string_view jobPath);

// Creates a directory and its missing parents; true when it exists afterwards.
bool MakeDirectories(std::string_view jobPath);

// Makes the job path the process's current directory; false on failure.
bool ChangeDirectory(std::string_view jobPath);

}  // namespace kestrova

namespace kestrova {

// A job path made absolute against the current directory when it is
// relative; separators and code page as given.  Empty stays empty.
std::string AbsoluteJobPath(std::string_view jobPath);

}  // namespace kestrova

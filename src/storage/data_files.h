// Opening the data files: a logical name becomes the record manager's path,
// a missing file is created from its dictionary, and the file is bound to a
// slot of the FileSlotTable under the caller's file number.
//
// Dictionary file: JOBROOT + "ddf\" + base name + ".xdf", a byte file holding
// n (16-bit little-endian) and then the n bytes of the record manager's
// Create buffer (file description and key segments).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// A name split as the opening scans it from its end: the directory up to
// the last ":", "\" or "/"; the extension from the first "." of the last
// component (".dat" when there is none); the base between them.
struct DataFileName {
  std::string directory;
  std::string base;
  std::string extension;
};
DataFileName SplitDataFileName(std::string_view name);

// The record manager's path for a name: directory + base + extension.
std::string DataFilePath(std::string_view name);

// The dictionary a missing file is created from: JOBROOT + "ddf\" + base +
// ".xdf", whatever directory the name had.
std::string DictionaryPath(std::string_view name);

// Whether opening `name`, found missing, would create it: its dictionary
// reads whole and the file's directory takes new files.  Looks only; the
// record manager may still refuse a description it finds invalid.
bool MissingFileCanBeCreated(std::string_view name);

// What the record variable bound to a file is.  A file whose record length
// is below minimumLength (the fields the job reads) or above the capacity
// is refused with status 1005.
struct RecordVariable {
  uint8_t* bytes = nullptr;
  int32_t capacity = 0;
  int32_t minimumLength = 0;
};

// Opens a data file under fileNumber: 0 on success; 1002 when the number is
// open already and 1003 when all slots are taken (nothing changes).  Any
// other failure shows the opening-failure message, waits for a key and ends
// the job with a non-zero exit code.  The record variable is not touched.
int16_t OpenDataFile(int16_t fileNumber, std::string_view name, RecordVariable variable);

// The same without the ending: the status of the opening (Open, Create or
// the layer's), and on failure the slot is given back.  With createMissing
// false a missing file is reported (12), not created.
int16_t TryOpenDataFile(int16_t fileNumber, std::string_view name, RecordVariable variable,
                        bool createMissing);

// The opening-failure message in the session language: text + name +
// " (" + status + ")"; for status 94 (the lock file may not be written to)
// followed by ": " + that cause + the lock file's path.
std::string OpeningFailureMessage(std::string_view name, int16_t status);

// Shows the opening-failure message at row 12 with a beep, waits for one key
// (after discarding those typed before), closes the message, releases the
// record manager's files and ends the job with kOpeningFailureExitCode.
[[noreturn]] void EndJobOnOpeningFailure(std::string_view name, int16_t status);

inline constexpr int kOpeningFailureExitCode = 3;

}  // namespace kestrova

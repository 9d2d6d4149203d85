// Dictionary files are installation data an administrator may damage or
// replace: opening a missing data file from any dictionary bytes must give a
// status (a file created from a sound description, or a refusal), never a
// read outside the file or a crash.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "session/session.h"
#include "storage/data_files.h"
#include "storage/record_interface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  static const std::string root = [] {
    char pattern[] = "/tmp/kestrova-fuzz-ddf-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return std::string(made ? made : "/tmp") + "/";
  }();
  static uint8_t record[kDataBufferSize];
  Session().jobRoot = root;
  MakeDirectories(root + "ddf");
  WriteWholeFile(root + "ddf/Fuzz.xdf", std::string(reinterpret_cast<const char*>(data), size));
  RemoveFile(root + "Fuzz.dat");
  ResetFiles();
  (void)TryOpenDataFile(9, root + "Fuzz", {record, sizeof record, 0}, true);
  ResetFiles();
  return 0;
}

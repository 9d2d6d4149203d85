// Lock files are written by every program of the suite at every
// workstation: whatever bytes one holds, a lock and a release must neither
// crash nor write outside whole entries.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "session/session.h"
#include "storage/lock_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  static const std::string root = [] {
    char pattern[] = "/tmp/kestrova-fuzz-locks-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    return std::string(pattern) + "/";
  }();
  Session().jobRoot = root;
  Session().jobTmp = root;
  SetSleepHookForTesting([](int32_t) {});
  Workstation().number = 4242;
  Workstation().name = "ESTACIO1       ";
  LockWaitMode() = 'S';
  // The first byte chooses the request; the rest is the file.
  const char type = size > 0 && (data[0] & 1) ? 'F' : 'K';
  const std::string contents(reinterpret_cast<const char*>(data), size);
  MakeDirectories(root + "LOCKS");
  WriteWholeFile(LockFilePath("DepartaV"), contents.substr(size > 0 ? 1 : 0));
  const int16_t locked = LockResource("DepartaV", std::string(1, type), "0001", "0002");
  if (locked == 0 && ReleaseLock("DepartaV") != 0) std::abort();
  std::string after;
  ReadWholeFile(LockFilePath("DepartaV"), after);
  // A granted lock writes whole entries in step with the file's own: a
  // damaged tail is either covered by the new entry or left as it was (a
  // free entry earlier in the file takes the lock), never extended.
  const std::size_t before = contents.size() - (size > 0 ? 1 : 0);
  if (locked == 0 && after.size() != before && after.size() % kLockEntryBytes != 0) std::abort();
  return 0;
}

#include "storage/lock_files.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "calendar/numeric.h"
#include "platform/blanks.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/exclusive_file.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/screen.h"
#include "session/session.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

constexpr int kMessageRow = 24;
constexpr std::size_t kNameBytes = 15;
constexpr std::size_t kWorkstationFileBytes = 4 + kNameBytes;
// Pauses: while the lock file is open elsewhere (someone is scanning it, a
// matter of milliseconds) and while a conflicting entry lasts.
constexpr double kMaxBusyPauseMs = 3000.0;
constexpr double kMaxConflictPauseMs = 1000.0;
// A lock file that cannot be opened for another reason than a busy file or
// a missing directory (permissions, a directory in its place) will not get
// better by waiting; after this many tries the lock is refused.
constexpr int kFailedOpenAttempts = 5;

// Field offsets and widths of an entry.
constexpr std::size_t kNameAt = 0;
constexpr std::size_t kNumberAt = 15, kNumberBytes = 11;
constexpr std::size_t kStampAt = 26, kStampBytes = 8;
constexpr std::size_t kTypeAt = 34;
constexpr std::size_t kFromLengthAt = 35, kFromAt = 37;
constexpr std::size_t kToLengthAt = 77, kToAt = 79;
constexpr std::size_t kLengthBytes = 2;
constexpr std::size_t kLineEndAt = 119;

WorkstationIdentity gWorkstation;
char gWaitMode = 'P';

std::string LeftAligned(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, width));
  out.resize(width, ' ');
  return out;
}

// One entry of a lock file, with readers for its fields.
struct Entry {
  std::string bytes;  // always kLockEntryBytes long
  std::string_view Field(std::size_t at, std::size_t width) const {
    return std::string_view(bytes).substr(at, width);
  }
  std::string_view Name() const { return Field(kNameAt, kNameBytes); }
  bool NumberBlank() const { return TrimBlanks(Field(kNumberAt, kNumberBytes)).empty(); }
  int32_t Number() const { return DecimalValue(Field(kNumberAt, kNumberBytes)); }
  int32_t Stamp() const { return DecimalValue(Field(kStampAt, kStampBytes)); }
  char Type() const { return bytes[kTypeAt]; }
  std::string_view FromKey() const { return Field(kFromAt, KeyLength(kFromLengthAt)); }
  std::string_view ToKey() const { return Field(kToAt, KeyLength(kToLengthAt)); }
  std::size_t KeyLength(std::size_t at) const {
    return static_cast<std::size_t>(std::clamp<int32_t>(DecimalValue(Field(at, kLengthBytes)), 0, kLockKeyBytes));
  }
  bool IsOwn() const { return Name() == gWorkstation.name && !NumberBlank() && Number() == gWorkstation.number; }
  void Free() {
    std::fill_n(bytes.begin() + kNameAt, kNameBytes, ' ');
    std::fill_n(bytes.begin() + kNumberAt, kNumberBytes, ' ');
    bytes[kTypeAt] = ' ';
  }
};

Entry EntryAt(const std::string& contents, std::size_t index) {
  return Entry{contents.substr(index * kLockEntryBytes, kLockEntryBytes)};
}

std::string IdentityFilePath() { return Session().jobTmp + std::string(kWorkstationFileName); }

void WriteEntry(const ExclusiveFile& file, std::size_t index, const Entry& entry) {
  if (!WriteExclusiveFileAt(file, static_cast<int64_t>(index * kLockEntryBytes), entry.bytes)) {
    FatalError("LOCKS", "the lock file cannot be written");
  }
}

// Opens a resource's lock file for this workstation alone.  A missing LOCKS
// directory is created; while another workstation has the file open the job
// pauses and tries again.  False when the file cannot be opened at all, or
// the operator gave up with Esc in wait mode 'P'.
// ReleaseLock opens without creating, and never gives up on Esc: its entry
// must go.
bool OpenLockFile(std::string_view resource, bool create, ExclusiveFile& file) {
  const std::string path = LockFilePath(resource);
  int failures = 0;
  bool directoryMade = false;
  for (;;) {
    const ExclusiveOpenResult result = create ? OpenExclusiveFile(path, file) : OpenExistingExclusiveFile(path, file);
    if (result == ExclusiveOpenResult::kOpened) return true;
    if (result == ExclusiveOpenResult::kNoPath) {
      if (!create) return false;
      // The first lock of an installation: the directory comes with it.
      if (!directoryMade && MakeDirectories(Session().jobRoot + "LOCKS")) {
        directoryMade = true;
        continue;
      }
      if (++failures >= kFailedOpenAttempts) return false;
    } else if (result == ExclusiveOpenResult::kFailed) {
      if (++failures >= kFailedOpenAttempts) return false;
    }
    SleepMilliseconds(static_cast<int32_t>(RandomUnit() * kMaxBusyPauseMs + 1));
    if (create && gWaitMode == 'P' && KeyWaiting() && ReadInputEvent().key == kKeyEscape) return false;
  }
}

bool RangesOverlap(const Entry& entry, std::string_view fromKey, std::string_view toKey) {
  const std::size_t lf = std::min(entry.KeyLength(kFromLengthAt), fromKey.size());
  const std::size_t lt = std::min(entry.KeyLength(kToLengthAt), toKey.size());
  const std::string_view entryTo = entry.Field(kToAt, kLockKeyBytes);
  const std::string_view entryFrom = entry.Field(kFromAt, kLockKeyBytes);
  if (fromKey.substr(0, lf) > entryTo.substr(0, lf)) return false;
  if (toKey.substr(0, lt) < entryFrom.substr(0, lt)) return false;
  return true;
}

struct ScanResult {
  bool conflict = false;
  std::size_t writeIndex = 0;
};

// One look through the whole file: frees abandoned entries, finds where the
// new entry goes (an own entry for the same thing, else a free entry, else
// after the last whole entry) and whether another workstation's entry stands
// in the way.  An own entry never ends the scan: a conflicting entry of
// another workstation further on must still be found.
ScanResult ScanLockFile(const ExclusiveFile& file, const std::string& contents, char type,
                        std::string_view fromKey, std::string_view toKey, int32_t now) {
  const std::size_t entries = contents.size() / kLockEntryBytes;
  // A damaged last entry (a short tail) is taken as a free place, so the
  // next entry written covers it instead of landing out of step.
  std::size_t freeIndex = entries;
  bool ownFound = false;
  std::size_t ownIndex = 0;
  ScanResult result;
  for (std::size_t i = 0; i < entries; ++i) {
    Entry entry = EntryAt(contents, i);
    // Abandoned for more than 30 minutes: freed in place.
    if (!entry.NumberBlank() && entry.Stamp() < now - kAbandonedLockMinutes) {
      entry.Free();
      WriteEntry(file, i, entry);
    }
    const char entryType = entry.Type();
    if (entryType == ' ') {
      freeIndex = i;
      continue;
    }
    if (entryType == 'F' || type == 'F') {
      if (entry.IsOwn()) {
        if (entryType == type && !ownFound) {
          ownFound = true;
          ownIndex = i;
        }
        continue;
      }
      result.conflict = true;
      return result;
    }
    if (entryType == 'K' && type == 'K') {
      if (!RangesOverlap(entry, fromKey, toKey)) continue;
      // The same workstation's range: its place is reused.  (Its name is
      // not compared here, as the suite's programs have always done.)
      if (!entry.NumberBlank() && entry.Number() == gWorkstation.number) {
        if (!ownFound) {
          ownFound = true;
          ownIndex = i;
        }
        continue;
      }
      result.conflict = true;
      return result;
    }
  }
  result.writeIndex = ownFound ? ownIndex : freeIndex;
  return result;
}

Entry NewEntry(const std::string& contents, std::size_t index, char type, std::string_view fromKey,
               std::string_view toKey, int32_t now) {
  Entry entry;
  if ((index + 1) * kLockEntryBytes <= contents.size()) {
    entry = EntryAt(contents, index);
  } else {
    entry.bytes.assign(kLockEntryBytes, ' ');
  }
  auto put = [&entry](std::size_t at, std::string_view text) { std::copy(text.begin(), text.end(), entry.bytes.begin() + static_cast<std::ptrdiff_t>(at)); };
  put(kNameAt, gWorkstation.name);
  put(kNumberAt, LeftAligned(std::to_string(gWorkstation.number), kNumberBytes));
  put(kStampAt, LeftAligned(std::to_string(now), kStampBytes));
  entry.bytes[kTypeAt] = type;
  if (type == 'K') {
    const std::string_view from = fromKey.substr(0, kLockKeyBytes);
    const std::string_view to = toKey.substr(0, kLockKeyBytes);
    put(kFromLengthAt, LeftAligned(std::to_string(from.size()), kLengthBytes));
    put(kFromAt, LeftAligned(from, kLockKeyBytes));
    put(kToLengthAt, LeftAligned(std::to_string(to.size()), kLengthBytes));
    put(kToAt, LeftAligned(to, kLockKeyBytes));
  }
  put(kLineEndAt, "\r\n");
  return entry;
}

}  // namespace

WorkstationIdentity& Workstation() { return gWorkstation; }

char& LockWaitMode() { return gWaitMode; }

void LoadLockWaitMode() {
  const std::string value(TrimBlanks(ReadIniValue(SuiteIniPath(), "Usuari", "EsperaBloqueig")));
  gWaitMode = value.empty() ? 'P' : UpperAnsi(value[0]);
}

void ResetLockFilesForTesting() {
  gWorkstation = WorkstationIdentity{};
  gWaitMode = 'P';
}

void EnsureWorkstationIdentity() {
  if (gWorkstation.number != 0) return;
  const std::string path = IdentityFilePath();
  ExclusiveFile file;
  // Two jobs of one workstation may start together: the second waits for
  // the first to have written the identity.
  ExclusiveOpenResult opened = OpenExclusiveFile(path, file);
  for (int attempt = 0; opened == ExclusiveOpenResult::kBusy && attempt < 200; ++attempt) {
    SleepMilliseconds(10);
    opened = OpenExclusiveFile(path, file);
  }
  if (opened != ExclusiveOpenResult::kOpened) FatalError(path, "the workstation file cannot be opened");
  std::string contents;
  if (!ReadExclusiveFile(file, contents)) FatalError(path, "the workstation file cannot be read");
  contents.resize(kWorkstationFileBytes, '\0');
  uint32_t number = 0;
  for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<uint8_t>(contents[static_cast<std::size_t>(i)]);
  gWorkstation.number = static_cast<int32_t>(number);
  gWorkstation.name = contents.substr(4, kNameBytes);
  if (gWorkstation.number == 0) {
    // A new workstation.  The draw is seeded from the time of day as the
    // suite has always done, mixed with a system random value: two
    // workstations set up in the same second must not get the same number.
    // Its own generator leaves the job's random source as it was.
    const LocalDateTime now = LocalNow();
    const uint32_t seconds = static_cast<uint32_t>((now.hour * 60 + now.minute) * 60 + now.second);
    std::mt19937 generator((100u * seconds) ^ std::random_device{}());
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int32_t drawn = 0;
    while (drawn == 0) {
      drawn = static_cast<int32_t>(static_cast<int64_t>(unit(generator) * (2147483648.0 + 2147483647.0)) - 2147483648LL);
    }
    gWorkstation.number = drawn;
    gWorkstation.name = LeftAligned(GetWorkstationName(), kNameBytes);
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>((static_cast<uint32_t>(drawn) >> (8 * i)) & 0xFF);
    bytes += gWorkstation.name;
    if (!WriteExclusiveFileAt(file, 0, bytes)) FatalError(path, "the workstation file cannot be written");
  }
  CloseExclusiveFile(file);
}

std::string LockFilePath(std::string_view resource) {
  return Session().jobRoot + "LOCKS\\" + std::string(TrimBlanks(resource)) + ".lck";
}

int32_t LockStamp(int year, int month, int day, int secondsSinceMidnight) {
  int64_t y = year;
  int64_t m = month;
  if (m < 3) {
    y -= 1;
    m += 12;
  }
  m -= 3;
  const int64_t days = day + (153 * m + 2) / 5 + (1461 * (y % 100)) / 4 + (146097 * (y / 100)) / 4 + 1721119 - 2440588;
  return static_cast<int32_t>(days * 1440 + secondsSinceMidnight / 60);
}

int32_t LockStampNow() {
  const LocalDateTime now = LocalNow();
  return LockStamp(now.year, now.month, now.day, (now.hour * 60 + now.minute) * 60 + now.second);
}

std::string LockWaitText(std::string_view language, char waitMode) {
  std::string text;
  std::string escape;
  if (language == "SPA") {
    text = "FICHERO BLOQUEADO. ESPERE UN MOMENTO";
    escape = " O PULSE [ESC] PARA SALIR";
  } else if (language == "GLG") {
    text = "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO";
    escape = " OU PULSE [ESC] PARA SAIR";
  } else if (language == "OCI") {
    text = "FICHÈR BLOQUEJAT. ESPERATZ UN MOMENT"_cp;
    escape = " O POSSATZ [ESC] ENTÀ GÈSSER"_cp;
  } else {
    text = "FITXER BLOQUEJAT. ESPEREU UN MOMENT";
    escape = " O POLSEU [ESC] PER A EIXIR";
  }
  if (waitMode == 'P') text += escape;
  return text + ".";
}

std::string LockKeyText(std::string_view key) {
  std::string out;
  for (char c : key) {
    const auto code = static_cast<uint8_t>(c);
    if (code >= 128 && code <= 227) {
      out += ZeroPad(code - 128, 2);
    } else {
      out += c;
    }
  }
  return out;
}

int16_t LockKey(std::string_view resource, std::string_view key) {
  const std::string text = LockKeyText(key);
  return LockResource(resource, "k", text, text);
}

int16_t LockResource(std::string_view resource, std::string_view type, std::string_view fromKey,
                     std::string_view toKey) {
  // 1. Who we are.
  EnsureWorkstationIdentity();
  const char wanted = type.empty() ? ' ' : UpperAnsi(type[0]);
  const std::string name(TrimTrailingBlanks(resource));
  int attempts = 0;
  int16_t result = 0;
  for (;;) {
    // 2. The file, for us alone.
    ExclusiveFile file;
    if (!OpenLockFile(name, true, file)) {
      result = -1;
      break;
    }
    std::string contents;
    if (!ReadExclusiveFile(file, contents)) FatalError(LockFilePath(name), "the lock file cannot be read");
    // 3. Conflicts, abandoned entries, and the place of our entry.
    const int32_t now = LockStampNow();
    const ScanResult scan = ScanLockFile(file, contents, wanted, fromKey, toKey, now);
    // 4. Granted: our entry, written while nobody else can look.
    if (!scan.conflict) WriteEntry(file, scan.writeIndex, NewEntry(contents, scan.writeIndex, wanted, fromKey, toKey, now));
    // 5. Others may scan again.
    CloseExclusiveFile(file);
    // 6. Granted, or refused without waiting.
    if (!scan.conflict) break;
    if (gWaitMode == 'S') {
      result = -1;
      break;
    }
    // 7. From the first conflict on the operator sees why the job waits.
    if (++attempts == 1) {
      ShowMessageWindow(kMessageRow, LockWaitText(Session().language, gWaitMode));
      if (gWaitMode == 'P') FlushInput();
    }
    attempts = std::min(attempts, 2);
    // 8. A pause of 1 to 1 001 ms.
    SleepMilliseconds(static_cast<int32_t>(RoundHalfEven(kMaxConflictPauseMs * RandomUnit() + 1)));
    // 9. Esc gives up, in wait mode 'P'.
    if (gWaitMode == 'P' && KeyWaiting() && ReadInputEvent().key == kKeyEscape) {
      result = -1;
      break;
    }
  }
  if (attempts != 0) PopWindow();
  return result;
}

int16_t ReleaseLock(std::string_view resource) {
  EnsureWorkstationIdentity();
  ExclusiveFile file;
  // Nothing to free in a file that does not exist; no file is created.
  if (!OpenLockFile(resource, false, file)) return -1;
  std::string contents;
  if (!ReadExclusiveFile(file, contents)) FatalError(LockFilePath(resource), "the lock file cannot be read");
  // The newest own entry: the greatest stamp, the last one on equal stamps.
  const std::size_t entries = contents.size() / kLockEntryBytes;
  bool found = false;
  std::size_t newest = 0;
  int32_t newestStamp = 0;
  for (std::size_t i = 0; i < entries; ++i) {
    const Entry entry = EntryAt(contents, i);
    if (!entry.IsOwn()) continue;
    if (!found || entry.Stamp() >= newestStamp) {
      found = true;
      newest = i;
      newestStamp = entry.Stamp();
    }
  }
  if (found) {
    Entry entry = EntryAt(contents, newest);
    entry.Free();
    WriteEntry(file, newest, entry);
  }
  CloseExclusiveFile(file);
  return found ? 0 : -1;
}

}  // namespace kestrova

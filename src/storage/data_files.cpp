#include "storage/data_files.h"

#include <algorithm>
#include <cstring>

#include "session/language.h"
#include "session/session.h"
#include "windows/windows.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/screen.h"
#include "recordmanager/status.h"
#include "session/session.h"
#include "storage/record_interface.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

constexpr int8_t kNormalOpen = 0;
constexpr int8_t kCreateNew = -1;  // never replace a file that exists
constexpr int32_t kFileLockedPauseMs = 3000;
constexpr int kMessageRow = 12;

// The owner name every data file of the suite is opened with, joined at run
// time so it does not stand as one text in the program.
std::string OwnerName() {
  std::string owner;
  owner += '4';
  owner += '7';
  owner += '1';
  owner += '9';
  owner += '\0';
  return owner;
}

void ReleaseFilesAtExit() { ResetFiles(); }

// Reads the dictionary's creation buffer.  `whole` is false when the file is
// missing, empty, shorter than its length field says, or says more than the
// data buffer holds.  Reading never creates the file: a missing
// dictionary must not leave an empty one behind that would hide what is
// missing from the administrator.
std::string ReadDictionary(std::string_view name, bool& whole) {
  std::string contents;
  whole = false;
  if (!ReadWholeFile(DictionaryPath(name), contents) || contents.size() < 2) return {};
  const std::size_t n =
      static_cast<uint8_t>(contents[0]) | (static_cast<uint8_t>(contents[1]) << 8);
  const std::string buffer = contents.substr(2, n);
  whole = buffer.size() == n && n > 0 && n <= static_cast<std::size_t>(kDataBufferSize);
  return buffer.substr(0, kDataBufferSize);
}

// Create from the dictionary.  A whole description goes in the usual
// blank-padded 1 536-byte buffer.  A damaged dictionary (missing, empty, or
// shorter than its length field says) goes as an empty buffer, so that the
// record manager refuses it with its status instead of building a file from
// a description cut short, or from the padding read as key segments.
int16_t CreateFromDictionary(FileSlot& s, std::string_view name, char* pathBuffer) {
  bool whole = false;
  const std::string description = ReadDictionary(name, whole);
  char dataBuffer[kDataBufferSize];
  std::memset(dataBuffer, ' ', sizeof dataBuffer);
  uint32_t dataLength = 0;
  if (whole) {
    std::memcpy(dataBuffer, description.data(), description.size());
    dataLength = kDataBufferSize;
  }
  return CallRecordManager(kOpCreate, s.positionBlock.data(), dataBuffer, &dataLength,
                           pathBuffer, kKeyBufferSize, kCreateNew);
}

int16_t OpenFile(FileSlot& s, char* pathBuffer) {
  char dataBuffer[kDataBufferSize];
  std::memset(dataBuffer, ' ', sizeof dataBuffer);
  const std::string owner = OwnerName();
  std::memcpy(dataBuffer, owner.data(), owner.size());
  uint32_t dataLength = static_cast<uint32_t>(owner.size());
  return CallRecordManager(kOpOpen, s.positionBlock.data(), dataBuffer, &dataLength,
                           pathBuffer, kKeyBufferSize, kNormalOpen);
}

// Gives the slot back after a failed opening, closing the file when the
// record manager had opened it.
void GiveBack(FileSlot& s, bool opened) {
  if (opened) {
    char scratch[kKeyBufferSize] = {};
    uint32_t dataLength = 0;
    CallRecordManager(kOpClose, s.positionBlock.data(), scratch, &dataLength, scratch,
                      kKeyBufferSize, 0);
  }
  s = FileSlot{};
}

}  // namespace

DataFileName SplitDataFileName(std::string_view name) {
  DataFileName parts{"", std::string(name), ".dat"};
  std::size_t end = name.size();
  for (std::size_t i = name.size(); i >= 1; --i) {
    const char c = name[i - 1];
    if (c == ':' || c == '\\' || c == '/') {
      parts.directory = std::string(name.substr(0, i));
      parts.base = std::string(name.substr(i, end - i));
      break;
    }
    if (c == '.') {
      parts.base = std::string(name.substr(0, i - 1));
      parts.extension = std::string(name.substr(i - 1));
      end = i - 1;
    }
  }
  return parts;
}

std::string DataFilePath(std::string_view name) {
  const DataFileName parts = SplitDataFileName(name);
  return parts.directory + parts.base + parts.extension;
}

bool MissingFileCanBeCreated(std::string_view name) {
  bool whole = false;
  ReadDictionary(name, whole);
  const std::string directory = SplitDataFileName(name).directory;
  return whole && IsWritableDirectory(directory.empty() ? "." : directory);
}

std::string DictionaryPath(std::string_view name) {
  return Session().jobRoot + "ddf\\" + SplitDataFileName(name).base + ".xdf";
}

int16_t TryOpenDataFile(int16_t fileNumber, std::string_view name, RecordVariable variable,
                        bool createMissing) {
  // 1. A free slot, and the number not open yet.
  const int16_t found = FindSlot(fileNumber);
  if (found > 0) return kStatusAlreadyOpen;
  if (found == 0) return kStatusNoFreeSlot;
  // 2. Claim it.
  FileSlot& s = FileSlots()[static_cast<std::size_t>(-found)];
  s = FileSlot{};
  s.fileNumber = fileNumber;
  s.recordVariable = variable.bytes;
  s.recordCapacity = variable.bytes == nullptr ? 0 : variable.capacity;
  // 3. The record manager's path, NUL-ended in a blank-padded key buffer.
  const std::string path = DataFilePath(name);
  if (path.size() >= static_cast<std::size_t>(kKeyBufferSize)) {
    GiveBack(s, false);
    return 11;  // a path the key buffer cannot hold is an invalid name
  }
  char pathBuffer[kKeyBufferSize];
  std::memset(pathBuffer, ' ', sizeof pathBuffer);
  std::memcpy(pathBuffer, path.data(), path.size());
  pathBuffer[path.size()] = '\0';
  RegisterExitHook(&ReleaseFilesAtExit);
  // 4. Open; wait while another client holds the file, create it once when
  //    it is missing.
  bool created = false;
  int16_t status = 0;
  for (;;) {
    status = OpenFile(s, pathBuffer);
    if (status == 85) {
      SleepMilliseconds(kFileLockedPauseMs);
      continue;
    }
    if (status == 12 && createMissing && !created) {
      status = CreateFromDictionary(s, name, pathBuffer);
      if (status != 0) break;
      created = true;
      continue;
    }
    break;
  }
  if (status != 0) {
    GiveBack(s, false);
    return status;
  }
  // 5. The key path 0 at its start, and the file's record length, which
  //    must fit the record variable.
  const KeyAndRecordLengths lengths = KeyAndRecordLength(fileNumber, 0);
  s.keyValue.assign(static_cast<std::size_t>(lengths.keyLength), '\0');
  s.recordLength = lengths.recordLength;
  if (s.recordLength < std::max(variable.minimumLength, 1) || s.recordLength > s.recordCapacity) {
    GiveBack(s, true);
    return kStatusRecordLengthMismatch;
  }
  return 0;
}

int16_t OpenDataFile(int16_t fileNumber, std::string_view name, RecordVariable variable) {
  const int16_t status = TryOpenDataFile(fileNumber, name, variable, true);
  if (status == 0 || status == kStatusAlreadyOpen || status == kStatusNoFreeSlot) return status;
  EndJobOnOpeningFailure(name, status);
}

std::string OpeningFailureMessage(std::string_view name, int16_t status) {
  const std::string& language = Session().language;
  std::string text;
  if (language == "SPA") {
    text = "NO SE PUEDE ACCEDER AL FICHERO ";
  } else if (language == "GLG") {
    text = "NOM SE PODE ACEDER AO FICHEIRO ";
  } else if (language == "OCI") {
    text = "NON SE PÒT ACCEDIR ATH FICHÈR "_cp;
  } else {
    text = "NO ES POT ACCEDIR AL FITXER ";
  }
  std::string message = text + std::string(name) + " (" + std::to_string(status) + ")";
  // The record manager refuses a file whose lock file this user may not
  // write to (a shared installation made with the wrong umask): the cause
  // and the file to mend go with the message.
  if (status == kStatusPermissionError) {
    message += ": " + TranslateText("SENSE PERMÍS D'ESCRIPTURA A "_cp) + DataFilePath(name) + "-lock";
  }
  return message;
}

void EndJobOnOpeningFailure(std::string_view name, int16_t status) {
  // 1-2. The message, with a beep.
  ShowMessageWindow(kMessageRow, OpeningFailureMessage(name, status));
  Beep();
  // 3. Keys typed before the message do not count: one key after it.
  //    An input that has ended (no terminal, the key script ran out)
  //    waits for nothing: reading past its end would end the job as if
  //    it had finished its work.
  bool ended = Screen().endReported;
  while (!ended && KeyWaiting()) ended = ReadInputEvent().kind == InputKind::kEnd;
  if (!ended) ReadInputEvent();
  // 4. Close the message, release every file, end the job.  Its work was
  //    not done, so the menu program must not take the end for a success.
  PopWindow();
  ResetFiles();
  EndProcess(kOpeningFailureExitCode);
}

}  // namespace kestrova

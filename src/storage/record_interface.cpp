#include "storage/record_interface.h"

#include <algorithm>
#include <cstring>

#include "calendar/picture_mask.h"
#include "platform/clock.h"
#include "platform/exclusive_append.h"
#include "platform/files.h"
#include "recordmanager/btrcall.h"
#include "recordmanager/status.h"
#include "storage/record_locks.h"
#include "storage/stat_description.h"

namespace kestrova {
namespace {

constexpr std::string_view kUpdateLog = "db.log";
// Every workstation appends to the same log.  Another job holds it only for
// the moment of writing one line, so a short wait is enough; should it stay
// busy, the line is appended without the exclusive access rather than lost.
constexpr int kLogAttempts = 50;
constexpr double kMaxLogPauseMs = 100.0;
constexpr std::size_t kPrintZone = 14;

FileSlotTable gSlots;
RecordManagerCall gEntry = &BTRCALL;

FileSlot* SlotOf(int16_t fileNumber) {
  const int16_t slot = OpenSlot(fileNumber);
  return slot == 0 ? nullptr : &gSlots[static_cast<std::size_t>(slot)];
}

int16_t SuccessOf(int16_t status) { return status == 22 ? 0 : status; }

void PutPosition(char* buffer, int32_t position) {
  const auto value = static_cast<uint32_t>(position);
  for (int i = 0; i < 4; ++i) buffer[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

int32_t TakePosition(std::string_view bytes) {
  if (bytes.size() < 4) return 0;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[i]);
  return static_cast<int32_t>(value);
}

// A plain step along the current key: the key value goes out blank-padded
// in a 255-byte buffer and the key reached comes back into it; the record
// itself is not kept.
int16_t PlainStep(FileSlot& s, uint16_t operation) {
  char dataBuffer[kDataBufferSize];
  std::memset(dataBuffer, ' ', sizeof dataBuffer);
  uint32_t dataLength = kDataBufferSize;
  char keyBuffer[kKeyBufferSize];
  std::memset(keyBuffer, ' ', sizeof keyBuffer);
  const std::size_t keyLength = std::min<std::size_t>(s.keyValue.size(), kKeyBufferSize);
  std::memcpy(keyBuffer, s.keyValue.data(), keyLength);
  const int16_t status =
      CallRecordManager(operation, s.positionBlock.data(), dataBuffer, &dataLength, keyBuffer,
                        kKeyBufferSize, static_cast<int8_t>(s.keyNumber));
  s.keyValue.assign(keyBuffer, keyLength);
  return status;
}

// One line of the update log: the numbers left-aligned in 14-column zones.
std::string UpdateLogLine(int16_t fileNumber, int16_t operation, int16_t status) {
  std::string line = std::to_string(fileNumber);
  line.resize(std::max(line.size() + 1, kPrintZone), ' ');
  line += std::to_string(operation);
  line.resize(std::max(line.size() + 1, 2 * kPrintZone), ' ');
  line += std::to_string(status);
  line += "\r\n";
  return line;
}

void AppendUpdateLog(const std::string& line) {
  for (int attempt = 0; attempt < kLogAttempts; ++attempt) {
    const AppendResult result = AppendExclusively(kUpdateLog, line);
    if (result == AppendResult::kWritten) return;
    // A log that cannot be written at all must not stop a revision whose
    // record has already been written.
    if (result == AppendResult::kFailed) return;
    SleepMilliseconds(static_cast<int32_t>(kMaxLogPauseMs * RandomUnit()) + 1);
  }
  AppendToFile(kUpdateLog, line);
}

}  // namespace

FileSlotTable& FileSlots() { return gSlots; }

void ResetFileSlotsForTesting() { gSlots = FileSlotTable{}; }

RecordManagerCall& RecordManagerEntry() { return gEntry; }

int16_t CallRecordManager(uint16_t operation, void* positionBlock, void* dataBuffer,
                          uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                          int8_t keyNumber) {
  return gEntry(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
}

int16_t FindSlot(int16_t fileNumber) {
  // A free slot holds file number 0, so FindSlot(0) answers the first free
  // slot as "found": opening under number 0 is refused as already open.
  int16_t freeSlot = 0;
  for (int16_t i = 1; i <= kLastSlot; ++i) {
    const int16_t held = gSlots[static_cast<std::size_t>(i)].fileNumber;
    if (held == fileNumber) return i;
    if (held == 0) freeSlot = i;
  }
  return static_cast<int16_t>(-freeSlot);
}

int16_t OpenSlot(int16_t fileNumber) {
  // Number 0 marks a free slot; it never names an open file.
  if (fileNumber == 0) return 0;
  const int16_t slot = FindSlot(fileNumber);
  return slot > 0 ? slot : 0;
}

int16_t ResetFiles() {
  char zeros[4] = {};
  uint32_t dataLength = 0;
  const int16_t status = CallRecordManager(kOpReset, gSlots[0].positionBlock.data(), zeros,
                                           &dataLength, zeros, 0, 0);
  if (status == 0) {
    for (std::size_t i = 1; i < gSlots.size(); ++i) gSlots[i] = FileSlot{};
  }
  return status;
}

int16_t FindByKey(int16_t fileNumber, int16_t keyNumber, std::string_view keyValue, int16_t mode) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot == 0) return 3;
  FileSlot& s = gSlots[static_cast<std::size_t>(slot)];
  // 1. The file must have the key.
  const KeyAndRecordLengths lengths = KeyAndRecordLength(fileNumber, keyNumber);
  if (lengths.keyLength == 0) return kStatusNoSuchKey;
  // 2. The key becomes current; the value is made as long as the key.
  s.keyNumber = keyNumber;
  s.keyValue.assign(keyValue.substr(0, static_cast<std::size_t>(lengths.keyLength)));
  s.keyValue.resize(static_cast<std::size_t>(lengths.keyLength), '\0');
  // 3. The search the mode asks for.
  int16_t operation = mode == 0  ? kOpGetEqual
                      : mode > 0 ? kOpGetGreaterOrEqual
                                 : kOpGetLessOrEqual;
  // 4. The read.
  int16_t status = 0;
  LockedRecordCall(slot, operation, status);
  return SuccessOf(status);
}

void FindByKey(int16_t fileNumber, int16_t keyNumber, std::string_view keyValue, int16_t mode,
               int16_t& status) {
  status = FindByKey(fileNumber, keyNumber, keyValue, mode);
}

int16_t StepRecords(int16_t fileNumber, int32_t count) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot == 0) return 3;
  if (count == 0) return 0;
  FileSlot& s = gSlots[static_cast<std::size_t>(slot)];
  const uint16_t operation = count > 0 ? kOpGetNext : kOpGetPrevious;
  const int64_t steps = count > 0 ? int64_t{count} : -int64_t{count};
  // The steps on the way only move the position.
  for (int64_t i = 1; i < steps; ++i) {
    const int16_t status = SuccessOf(PlainStep(s, operation));
    if (status != 0) return status;
  }
  // The last one reads (and locks) the record reached.
  auto last = static_cast<int16_t>(operation);
  int16_t status = 0;
  LockedRecordCall(slot, last, status);
  return SuccessOf(status);
}

namespace {

// Get Position on an open file: the status, and the position when it is 0.
int16_t AskPosition(FileSlot& s, int32_t& position) {
  char dataBuffer[kDataBufferSize] = {};
  uint32_t dataLength = kDataBufferSize;
  char keyBuffer[4] = {};
  const int16_t status = CallRecordManager(kOpGetPosition, s.positionBlock.data(),
                                           dataBuffer, &dataLength, keyBuffer, 0, 0);
  position = status == 0 ? TakePosition(std::string_view(dataBuffer, 4)) : 0;
  return status;
}

}  // namespace

int32_t GetRecordPosition(int16_t fileNumber) {
  FileSlot* s = SlotOf(fileNumber);
  if (s == nullptr) return 0;
  int32_t position = 0;
  AskPosition(*s, position);
  return position;
}

int16_t GoToRecordPosition(int16_t fileNumber, int32_t position) {
  FileSlot* s = SlotOf(fileNumber);
  if (s == nullptr) return 3;
  // Position 0 is the answer of a position that could not be read (Update
  // and PeekWithinBound go back to what they saved).  It names no record:
  // the call only asks for the current position, so nothing moves and the
  // record variable keeps what it holds.
  if (position == 0) {
    int32_t current = 0;
    return AskPosition(*s, current);
  }
  char dataBuffer[kDataBufferSize];
  std::memset(dataBuffer, ' ', sizeof dataBuffer);
  PutPosition(dataBuffer, position);
  uint32_t dataLength = kDataBufferSize;
  char keyBuffer[kKeyBufferSize];
  std::memset(keyBuffer, ' ', sizeof keyBuffer);
  const std::size_t keyLength = std::min<std::size_t>(s->keyValue.size(), kKeyBufferSize);
  std::memcpy(keyBuffer, s->keyValue.data(), keyLength);
  const int16_t status = SuccessOf(
      CallRecordManager(kOpGetDirect, s->positionBlock.data(), dataBuffer, &dataLength,
                        keyBuffer, kKeyBufferSize, static_cast<int8_t>(s->keyNumber)));
  s->keyValue.assign(keyBuffer, keyLength);
  if (status == 0) {
    const auto length = std::min<std::size_t>(
        {dataLength, static_cast<std::size_t>(std::max(0, s->recordLength)),
         static_cast<std::size_t>(std::max(0, s->recordCapacity)), kDataBufferSize});
    if (length > 0) std::memcpy(s->recordVariable, dataBuffer, length);
  }
  return status;
}

int16_t UpdateCurrentRecord(int16_t fileNumber) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot == 0) return 3;
  FileSlot& s = gSlots[static_cast<std::size_t>(slot)];
  // 1. Keep the position of the record being rewritten.
  std::string position(4, '\0');
  PutPosition(position.data(), GetRecordPosition(fileNumber));
  PushSaved(position);
  // 2. The record variable over the stored record.
  auto operation = static_cast<int16_t>(kOpUpdate);
  int16_t status = 0;
  LockedRecordCall(slot, operation, status);
  // 3. One log line per update, whatever came of it.
  AppendUpdateLog(UpdateLogLine(fileNumber, operation, status));
  // 4. A short buffer is no failure.
  status = SuccessOf(status);
  // 5. After a failed update the key value no longer names a record.
  if (status != 0) std::fill(s.keyValue.begin(), s.keyValue.end(), '\0');
  // 6. Back on the record and its key path, with what is stored.
  GoToRecordPosition(fileNumber, TakePosition(PopSaved()));
  return status;
}

bool PeekWithinBound(int16_t fileNumber, int32_t count, std::string_view bound) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot == 0) return false;
  FileSlot& s = gSlots[static_cast<std::size_t>(slot)];
  // 1. Keep the current position (and with it the key value).
  std::string position(4, '\0');
  PutPosition(position.data(), GetRecordPosition(fileNumber));
  PushSaved(position);
  const std::string startKey = s.keyValue;
  // 2. Up to |count| plain steps.
  const uint16_t operation = count >= 0 ? kOpGetNext : kOpGetPrevious;
  const int64_t steps = count >= 0 ? int64_t{count} : -int64_t{count};
  int16_t status = 0;
  for (int64_t i = 0; i < steps; ++i) {
    status = SuccessOf(PlainStep(s, operation));
    if (status != 0) break;
  }
  // 3. The key reached, as far as the bound is long, in comparable form.
  const std::string reached =
      ComparableKey(std::string_view(s.keyValue).substr(0, bound.size()), fileNumber);
  s.keyValue = startKey;
  const int order = std::string_view(reached).compare(bound);
  const bool within = status == 0 && (count >= 0 ? order <= 0 : order >= 0);
  // 4. Back on the record we started from.
  GoToRecordPosition(fileNumber, TakePosition(PopSaved()));
  return within;
}

std::string CurrentComparableKey(int16_t fileNumber) {
  FileSlot* s = SlotOf(fileNumber);
  if (s == nullptr) return {};
  return ComparableKey(s->keyValue, fileNumber);
}

std::string ComparableKey(std::string_view keyValue, int16_t fileNumber) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot == 0) return std::string(keyValue);
  const int16_t keyNumber = gSlots[static_cast<std::size_t>(slot)].keyNumber;
  // 1. The description, with the collating table after the segments.
  const StatDescription& d = KnownDescription(slot);
  std::string value(keyValue);
  if (keyNumber < 0 || keyNumber >= static_cast<int16_t>(d.keys.size())) return value;
  // 2. Only the segments of the current key change, each at its running
  //    position p.
  std::size_t p = 0;
  for (const StatSegment& segment : d.keys[static_cast<std::size_t>(keyNumber)]) {
    const auto length = static_cast<std::size_t>(segment.length);
    if (segment.flags & kSegmentBinary) {
      // A little-endian number compares as a big-endian one once reversed.
      if (value.size() < p + length) value.resize(p + length, '\0');
      std::reverse(value.begin() + static_cast<std::ptrdiff_t>(p),
                   value.begin() + static_cast<std::ptrdiff_t>(p + length));
    } else if ((segment.flags & kSegmentCollated) && d.hasCollation) {
      for (std::size_t i = p; i < std::min(p + length, value.size()); ++i) {
        value[i] = static_cast<char>(d.collation[static_cast<uint8_t>(value[i])]);
      }
    }
    p += length;
  }
  // 3. The stored key value is not changed.
  return value;
}

KeyAndRecordLengths KeyAndRecordLength(int16_t fileNumber, int16_t keyNumber) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot == 0) return {};
  const StatDescription& d = KnownDescription(slot);
  KeyAndRecordLengths result;
  result.recordLength = d.recordLength;
  result.keyLength = static_cast<int16_t>(StatKeyLength(d, keyNumber));
  return result;
}

int32_t RecordCount(int16_t fileNumber) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot == 0) return 0;
  return ReadStatDescription(slot).recordCount;
}

}  // namespace kestrova

#include "revision/lookups.h"

#include <cstring>

#include "calendar/numeric.h"

namespace kestrova {

// The record layer's binding, defined beside the record layer's own
// routines (lookups_storage.cpp).
RecordAccess StorageRecordAccess();

namespace {

RecordAccess& AccessState() {
  static RecordAccess access = StorageRecordAccess();
  return access;
}

}  // namespace

RecordAccess& RevisionRecordAccess() { return AccessState(); }

void ResetRevisionRecordAccessForTesting() { AccessState() = StorageRecordAccess(); }

int16_t FindRecord(int16_t fileNumber, std::string_view keyValue, int16_t mode) {
  const RecordAccess& a = AccessState();
  return a.findByKey ? a.findByKey(fileNumber, keyValue, mode) : kLookupFileNotOpen;
}

int16_t StepForward(int16_t fileNumber) {
  const RecordAccess& a = AccessState();
  return a.stepForward ? a.stepForward(fileNumber) : kLookupFileNotOpen;
}

int32_t CurrentPosition(int16_t fileNumber) {
  const RecordAccess& a = AccessState();
  return a.position ? a.position(fileNumber) : 0;
}

int16_t GoToPosition(int16_t fileNumber, int32_t position) {
  const RecordAccess& a = AccessState();
  return a.goToPosition ? a.goToPosition(fileNumber, position) : kLookupFileNotOpen;
}

std::string_view RecordBytes(int16_t fileNumber) {
  const RecordAccess& a = AccessState();
  return a.recordBytes ? a.recordBytes(fileNumber) : std::string_view();
}

namespace {

template <typename T>
T ReadLittleEndian(std::string_view record, std::size_t offset) {
  if (offset > record.size() || record.size() - offset < sizeof(T)) return T{};
  uint64_t bits = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bits |= static_cast<uint64_t>(static_cast<uint8_t>(record[offset + i])) << (8 * i);
  }
  T value;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&value, &bits, 8);
  } else {
    using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint16_t>;
    const U narrow = static_cast<U>(bits);
    std::memcpy(&value, &narrow, sizeof(T));
  }
  return value;
}

}  // namespace

int16_t ReadInt16(std::string_view record, std::size_t offset) {
  return ReadLittleEndian<int16_t>(record, offset);
}

int32_t ReadInt32(std::string_view record, std::size_t offset) {
  return ReadLittleEndian<int32_t>(record, offset);
}

double ReadDouble(std::string_view record, std::size_t offset) {
  return ReadLittleEndian<double>(record, offset);
}

std::string ReadText(std::string_view record, std::size_t offset, std::size_t width) {
  std::string text(width, ' ');
  if (offset < record.size()) {
    const std::size_t available = std::min(width, record.size() - offset);
    text.replace(0, available, record.substr(offset, available));
  }
  return text;
}

std::string TrimRight(std::string_view text) {
  const std::size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(text.substr(0, end + 1));
}

PriceIndexEntry ReadPriceIndex(std::string_view record) {
  PriceIndexEntry entry;
  entry.country = ReadText(record, 0, 2);
  entry.series = ReadText(record, 2, 1)[0];
  // A short record has no date: blanks would compare below every packed
  // date, so it reads as the empty date instead.
  entry.date = record.size() >= 7 ? std::string(record.substr(3, 4)) : std::string(4, '\x80');
  entry.value = ReadDouble(record, 7);
  return entry;
}

PriceIndexEntry CurrentPriceIndex() { return ReadPriceIndex(RecordBytes(kPriceIndexFileNumber)); }

// PriceIndexKey is defined with the record layouts (records.cpp): the same
// key, its date cut to 4 bytes and padded with NUL bytes to the key's length.

bool IsSpanishSeries(const PriceIndexEntry& entry, char series) {
  return entry.country == "ES" && entry.series == series;
}

std::string NumberedConceptKey(int16_t number) {
  return std::string(1, static_cast<char>(static_cast<uint8_t>(number)));
}

std::string CodedConceptKey(int16_t code) { return PackDigits(ZeroPad(code, 2)); }

int16_t FindConceptType(std::string_view key, ConceptType& found) {
  const int16_t status = FindRecord(kConceptTypesFileNumber, key, 0);
  if (status != 0) return status;
  const std::string_view record = RecordBytes(kConceptTypesFileNumber);
  found.keyByte = record.empty() ? 0 : static_cast<uint8_t>(record[0]);
  found.description = ReadText(record, 1, 20);
  found.conceptClass = ReadInt16(record, 24);
  return 0;
}

int16_t FindLetterText(std::string_view code, std::string& description) {
  const int16_t status = FindRecord(kTextsFileNumber, ReadText(code, 0, 8), 0);
  if (status != 0) return status;
  description = ReadText(RecordBytes(kTextsFileNumber), 8, 40);
  return 0;
}

}  // namespace kestrova

#include "revision/lookups.h"

#include "calendar/dates.h"

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

std::string_view FileRecord(int16_t fileNumber) {
  const RecordAccess& a = AccessState();
  return a.recordBytes ? a.recordBytes(fileNumber) : std::string_view();
}

std::string ReadText(std::string_view record, std::size_t offset, std::size_t width) {
  std::string text(width, ' ');
  if (offset < record.size()) {
    const std::size_t available = std::min(width, record.size() - offset);
    text.replace(0, available, record.substr(offset, available));
  }
  return text;
}

PriceIndexEntry ReadPriceIndex(std::string_view record) {
  const auto r = RecordFromBytes<PriceIndexRecord>(record);
  PriceIndexEntry entry;
  entry.country = r.Country();
  entry.series = r.Series();
  // A record too short for its month has none: it reads as the empty date
  // rather than as NUL bytes below every date.
  entry.date = record.size() >= 7 ? r.Month() : EmptyDate();
  entry.value = r.Value();
  return entry;
}

PriceIndexEntry CurrentPriceIndex() { return ReadPriceIndex(FileRecord(kPriceIndexFile)); }

bool IsSpanishSeries(const PriceIndexEntry& entry, char series) {
  return entry.country == "ES" && entry.series == series;
}

int16_t FindConceptType(std::string_view key, ConceptType& found) {
  const int16_t status = FindRecord(kConceptTypeFile, key, 0);
  if (status != 0) return status;
  const auto r = RecordFromBytes<ConceptTypeRecord>(FileRecord(kConceptTypeFile));
  found.keyByte = r.ConceptCode();
  found.description = r.Description();
  found.conceptClass = r.ConceptClass();
  return 0;
}

int16_t FindLetterText(std::string_view code, std::string& description) {
  const int16_t status = FindRecord(kTextFile, ReadText(code, 0, 8), 0);
  if (status != 0) return status;
  description = RecordFromBytes<TextRecord>(FileRecord(kTextFile)).Description();
  return 0;
}

}  // namespace kestrova

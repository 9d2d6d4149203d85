#include "revision/lookups.h"

#include <functional>
#include <map>
#include <utility>

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

// What a pass keeps of the files that do not change under it: the concept
// types and the price-index finds and runs it has asked for, each read from
// the file the first time and kept until the pass ends.
template <typename Value>
using KeptBy = std::map<std::string, Value, std::less<>>;

struct PassRecords {
  bool active = false;
  KeptBy<std::pair<int16_t, ConceptType>> conceptTypes;
  KeptBy<std::pair<int16_t, PriceIndexEntry>> priceIndexFinds;
  KeptBy<std::vector<PriceIndexEntry>> priceIndexRuns;
};

PassRecords& Pass() {
  static PassRecords pass;
  return pass;
}

// The value kept under `key` during a pass, read first when there is none;
// outside a pass every call reads.
template <typename Value, typename Read>
Value Kept(KeptBy<Value>& kept, std::string_view key, Read read) {
  if (!Pass().active) return read();
  auto it = kept.find(key);
  if (it == kept.end()) it = kept.emplace(std::string(key), read()).first;
  return it->second;
}

std::pair<int16_t, ConceptType> ReadConceptType(std::string_view key) {
  std::pair<int16_t, ConceptType> answer{FindRecord(kConceptTypeFile, key, 0), ConceptType{}};
  if (answer.first != 0) return answer;
  const auto r = RecordFromBytes<ConceptTypeRecord>(FileRecord(kConceptTypeFile));
  answer.second.keyByte = r.ConceptCode();
  answer.second.description = r.Description();
  answer.second.conceptClass = r.ConceptClass();
  return answer;
}

std::pair<int16_t, PriceIndexEntry> ReadPriceIndexAt(std::string_view key, int16_t mode) {
  std::pair<int16_t, PriceIndexEntry> answer{FindRecord(kPriceIndexFile, key, mode),
                                             PriceIndexEntry{}};
  if (answer.first == 0) answer.second = CurrentPriceIndex();
  return answer;
}

std::vector<PriceIndexEntry> ReadPriceIndexRun(std::string_view fromKey, std::string_view endKey) {
  std::vector<PriceIndexEntry> run;
  int16_t status = FindRecord(kPriceIndexFile, fromKey, 1);
  while (status == 0) {
    const std::string_view record = FileRecord(kPriceIndexFile);
    if (!(record.substr(0, kPriceIndexKeyLength) < endKey)) break;
    run.push_back(ReadPriceIndex(record));
    status = StepForward(kPriceIndexFile);
  }
  return run;
}

}  // namespace

RecordAccess& RevisionRecordAccess() { return AccessState(); }

void StartPassLookups() {
  Pass() = PassRecords{};
  Pass().active = true;
}

void EndPassLookups() { Pass() = PassRecords{}; }

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

int16_t FindPriceIndex(std::string_view key, int16_t mode, PriceIndexEntry& found) {
  std::string kept(1, mode == 0 ? '=' : mode > 0 ? '>' : '<');
  kept.append(key);
  const auto answer = Kept(Pass().priceIndexFinds, kept, [&] { return ReadPriceIndexAt(key, mode); });
  if (answer.first == 0) found = answer.second;
  return answer.first;
}

std::vector<PriceIndexEntry> PriceIndexRun(std::string_view fromKey, std::string_view endKey) {
  std::string kept(fromKey);
  kept.resize(kPriceIndexKeyLength, '\0');
  kept.append(endKey);
  return Kept(Pass().priceIndexRuns, kept, [&] { return ReadPriceIndexRun(fromKey, endKey); });
}

int16_t FindConceptType(std::string_view key, ConceptType& found) {
  const auto answer = Kept(Pass().conceptTypes, key, [&] { return ReadConceptType(key); });
  if (answer.first == 0) found = answer.second;
  return answer.first;
}

int16_t FindLetterText(std::string_view code, std::string& description) {
  const int16_t status = FindRecord(kTextFile, ReadText(code, 0, 8), 0);
  if (status != 0) return status;
  description = RecordFromBytes<TextRecord>(FileRecord(kTextFile)).Description();
  return 0;
}

}  // namespace kestrova

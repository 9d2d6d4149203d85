// Record look-ups of the revision: price indices, concept types, letter
// texts, and the fields of the records the lease rules and the form hooks
// read.
//
// The revision reaches its six data files through RecordAccess: find by key
// 0 with a mode, step forward, and the record position to come back to, on
// the file numbers the job opened them under.  The job's access goes
// through the record layer; tests put an in-memory table in its place, so
// the rules can be checked on a small fixed index table without files.
//
// The readers below take the record bytes as they are: a record shorter
// than a field reads that field as zeros (blanks for ReadText), never past
// its end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "revision/records.h"

namespace kestrova {

// Statuses the look-ups tell apart.
inline constexpr int16_t kLookupOk = 0;
inline constexpr int16_t kLookupFileNotOpen = 3;

// The operations the revision needs of a data file, all on key 0.
//   findByKey:    mode 0 equal, > 0 first key greater or equal, < 0 last
//                 key less or equal; the record reached becomes current.
//   stepForward:  the next record along key 0.
//   position / goToPosition: where the current record is, and back to it.
//   recordBytes:  the file's record buffer: the record last read.
// A null entry answers "file not open" (status 3, position 0, no bytes).
struct RecordAccess {
  int16_t (*findByKey)(int16_t fileNumber, std::string_view keyValue, int16_t mode) = nullptr;
  int16_t (*stepForward)(int16_t fileNumber) = nullptr;
  int32_t (*position)(int16_t fileNumber) = nullptr;
  int16_t (*goToPosition)(int16_t fileNumber, int32_t position) = nullptr;
  std::string_view (*recordBytes)(int16_t fileNumber) = nullptr;
};

// The access the revision uses; the record layer's until a test replaces it.
RecordAccess& RevisionRecordAccess();
// Puts the record layer's access back (tests).
void ResetRevisionRecordAccessForTesting();

int16_t FindRecord(int16_t fileNumber, std::string_view keyValue, int16_t mode);
int16_t StepForward(int16_t fileNumber);
int32_t CurrentPosition(int16_t fileNumber);
int16_t GoToPosition(int16_t fileNumber, int32_t position);
std::string_view FileRecord(int16_t fileNumber);

// A pass of the run reads the concept types and the price indices as they
// stand when it starts: StartPassLookups begins keeping what FindConceptType,
// FindPriceIndex and PriceIndexRun read, so each is read from its file once
// per pass; EndPassLookups forgets it all, and the next pass reads again
// (another workstation may have changed the tables in between).  Outside a
// pass every look-up reads the file.
void StartPassLookups();
void EndPassLookups();

// `width` bytes from `offset`, blank-padded where the record is short.
std::string ReadText(std::string_view record, std::size_t offset, std::size_t width);

// A record layout over a copy of the bytes (zeros where they are short).
template <typename Record>
Record RecordFromBytes(std::string_view bytes) {
  Record record;
  const std::size_t n = std::min(bytes.size(), record.bytes.size());
  for (std::size_t i = 0; i < n; ++i) record.bytes[i] = static_cast<uint8_t>(bytes[i]);
  return record;
}


// Price-index records: country (2), series (1), month (PackedDate), value.
struct PriceIndexEntry {
  std::string country;  // "ES"
  char series = ' ';    // 'I' index, 'P' cap percentage, 'Q' linking factor
  std::string date;     // PackedDate, day 01
  double value = 0;
};
PriceIndexEntry ReadPriceIndex(std::string_view record);
// The record now in the price-index buffer.
PriceIndexEntry CurrentPriceIndex();
// Finds a price-index record by key (PriceIndexKey) with a mode as
// FindRecord takes it; status 0 when found, `found` then holds it.
int16_t FindPriceIndex(std::string_view key, int16_t mode, PriceIndexEntry& found);
// The records from the first at or after `fromKey` on, while their keys stay
// below `endKey`, in key order.
std::vector<PriceIndexEntry> PriceIndexRun(std::string_view fromKey, std::string_view endKey);
// True for a record of country "ES" and the given series.
bool IsSpanishSeries(const PriceIndexEntry& entry, char series);

struct ConceptType {
  uint8_t keyByte = 0;
  std::string description;  // 20 characters
  int16_t conceptClass = 9;  // 0 rent, 1 increments, 9 others
};
// Looks the concept up by its key (NumberedConceptKey or CodedConceptKey of
// the record layouts); status 0 when found, `found` then holds it.
int16_t FindConceptType(std::string_view key, ConceptType& found);

// Looks a letter text up by its code (8 characters, blank-padded); status 0
// when found, `description` (40 characters) then holds its description.
int16_t FindLetterText(std::string_view code, std::string& description);

}  // namespace kestrova

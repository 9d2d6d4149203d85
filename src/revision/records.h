// The records of the six data files the rent revision works on, as typed
// accessors over the record buffers the record layer reads into and writes
// from.
//
// Each buffer is as long as the record layer's data buffer, so every record
// the layer can read fits it; opening refuses a file whose records are
// shorter than the last field the job reads.  Offsets are from the start of
// the record.  Bytes the job does not name are carried through updates
// untouched: the job only rewrites the record it has just read.
//
// Encodings: texts are blank-padded code page 850; integers little-endian;
// packed numbers and dates two decimal digits per byte (128 + the pair).
// Out-of-range entry numbers (an amount 11, a coded entry 5) read as 0 and
// write nothing.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "storage/data_files.h"
#include "storage/record_interface.h"

namespace kestrova {

inline constexpr int32_t kRecordBufferSize = kDataBufferSize;
using RecordBytes = std::array<uint8_t, kRecordBufferSize>;

// File numbers of the six files.
inline constexpr int16_t kEstateFile = 506;
inline constexpr int16_t kUnitFile = 507;
inline constexpr int16_t kLeaseTransitionFile = 508;
inline constexpr int16_t kConceptTypeFile = 503;
inline constexpr int16_t kPriceIndexFile = 4;
inline constexpr int16_t kTextFile = 60;

// An estate (a building).  Read only.
struct EstateRecord {
  RecordBytes bytes{};
  std::string EstateCode() const;           // 2 packed bytes, key 0
  std::string AddressLine(int line) const;  // lines 1 to 3, 30 characters
  char OwnAddressFlag() const;              // 'P': each unit has its own address
};

// A let unit and its lease.  Rewritten by the apply mode.
struct UnitRecord {
  RecordBytes bytes{};
  std::string UnitKey() const;              // key 0: estate code + unit number
  std::string EstateCode() const;           // 2 packed bytes
  std::string UnitNumber() const;           // 2 packed bytes
  std::string TenantName() const;           // 30 characters
  std::string UnitDesignation() const;      // 10 characters: floor and door
  std::string AddressLine(int line) const;  // lines 1 to 3, 30 characters
  std::string ContractDate() const;         // PackedDate
  int16_t ContractMonths() const;           // 0 = no end
  std::string LastRevisionDate() const;     // PackedDate
  void SetLastRevisionDate(std::string_view packedDate);
  int16_t RevisionMonths() const;
  int32_t LastIndex() const;  // thousandths of a point
  void SetLastIndex(int32_t thousandths);
  char UnitStatus() const;  // 'M': never revised
  char UnitClass() const;   // 'N': the 2022-and-later caps apply
  int16_t MonthsPerReceipt() const;
  int32_t NumberedAmount(int k) const;  // concepts 1 to 10
  void SetNumberedAmount(int k, int32_t amount);
  int16_t CodedEntryCode(int entry) const;  // entries 1 to 4
  void SetCodedEntryCode(int entry, int16_t code);
  int32_t CodedEntryAmount(int entry) const;
  void SetCodedEntryAmount(int entry, int32_t amount);
  std::string ReceiptBlock() const;  // the 66 bytes from offset 277
};

// The state of a lease under the 1994 transitional update.
struct LeaseTransitionRecord {
  RecordBytes bytes{};
  std::string UnitKey() const;
  char CadastralExempt() const;       // 'N': the cadastral limit applies
  int32_t CadastralValue() const;     // annual
  std::string CadastralDate() const;  // PackedDate
  char CadastralMode() const;         // 'P': no cadastral limit
  int32_t InitialRent() const;
  int32_t InitialIndex() const;  // thousandths
  int16_t StepsTotal() const;    // 10, 5 or 1
  int16_t StepsDone() const;
  void SetStepsDone(int16_t steps);
};

// A receipt concept.  Read only.
struct ConceptTypeRecord {
  RecordBytes bytes{};
  uint8_t ConceptCode() const;      // key 0
  std::string Description() const;  // 20 characters
  int16_t ConceptClass() const;     // 0 rent, 1 increments, 9 others
};

// One value of a monthly price-index series.  Read only.
struct PriceIndexRecord {
  RecordBytes bytes{};
  std::string Country() const;  // "ES"
  char Series() const;          // 'I' index, 'P' cap %, 'Q' factor
  std::string Month() const;    // PackedDate, day 01
  double Value() const;
};

// A letter text.  Read only.
struct TextRecord {
  RecordBytes bytes{};
  std::string TextCode() const;     // 8 characters, key 0
  std::string Description() const;  // 40 characters
};

// The job's record buffers, one per file.
struct ApplicationRecords {
  EstateRecord estate;
  UnitRecord unit;
  LeaseTransitionRecord transition;
  ConceptTypeRecord conceptType;
  PriceIndexRecord priceIndex;
  TextRecord text;
};
ApplicationRecords& Records();
void ResetRecordsForTesting();

// The transition buffer of a unit that has no transition record: no steps,
// no initial rent or index, no cadastral value or date, both flags "N".
// Other bytes are left as they are.
void FillTransitionDefaults(LeaseTransitionRecord& record);

// Concept keys: a numbered concept k (1 to 10) is the single byte k; a coded
// concept is its code as two digits packed into one byte (128 + code, code
// kept within 0 to 99).
std::string NumberedConceptKey(int k);
std::string CodedConceptKey(int code);

// A price-index key: "ES", the series letter and the packed month, 7 bytes
// (NUL-padded when the month is cut short).
inline constexpr std::size_t kPriceIndexKeyLength = 7;
std::string PriceIndexKey(char series, std::string_view packedMonth);

// The six files in the order the job opens them.
struct JobFile {
  int16_t number;
  std::string_view name;  // after the root
  int32_t minimumLength;  // up to the last byte the job reads
};
const std::array<JobFile, 6>& JobFileCatalogue();

// The record buffer bound to a file of the catalogue.
RecordVariable JobFileVariable(const JobFile& file);

// Opens the six files under JOBROOT, each bound to its buffer.  A file that
// cannot be opened ends the job (after its message).
void OpenJobFiles();

}  // namespace kestrova

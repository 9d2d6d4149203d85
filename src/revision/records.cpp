#include "revision/records.h"

#include <cstring>

#include "calendar/numeric.h"
#include "session/session.h"

namespace kestrova {
namespace {

ApplicationRecords gRecords;

// Field access within a record buffer.  Offsets come from the layouts below
// and always lie inside the buffer.
std::string Text(const RecordBytes& b, std::size_t offset, std::size_t width) {
  return std::string(reinterpret_cast<const char*>(b.data() + offset), width);
}
void SetText(RecordBytes& b, std::size_t offset, std::size_t width, std::string_view value) {
  std::memset(b.data() + offset, ' ', width);
  std::memcpy(b.data() + offset, value.data(), std::min(width, value.size()));
}
int16_t Int16(const RecordBytes& b, std::size_t offset) {
  return static_cast<int16_t>(b[offset] | (b[offset + 1] << 8));
}
void SetInt16(RecordBytes& b, std::size_t offset, int16_t value) {
  const auto v = static_cast<uint16_t>(value);
  b[offset] = static_cast<uint8_t>(v & 0xFF);
  b[offset + 1] = static_cast<uint8_t>(v >> 8);
}
int32_t Int32(const RecordBytes& b, std::size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | b[offset + static_cast<std::size_t>(i)];
  return static_cast<int32_t>(v);
}
void SetInt32(RecordBytes& b, std::size_t offset, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (std::size_t i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}
double Double(const RecordBytes& b, std::size_t offset) {
  // Stored as the little-endian bytes of an IEEE double, as this machine
  // holds it.
  double value = 0;
  std::memcpy(&value, b.data() + offset, sizeof value);
  return value;
}

// The three address lines of an estate (from 8) and of a unit (from 98; a
// byte the job does not use lies between the unit's first and second line).
constexpr std::size_t kEstateAddress[3] = {8, 38, 68};
constexpr std::size_t kUnitAddress[3] = {98, 129, 159};
constexpr std::size_t kAddressWidth = 30;

constexpr std::size_t kNumberedAmounts = 277;
// Coded entries: the code and the amount of each; the fourth amount sits
// two bytes further on.
constexpr std::size_t kCodedCode[4] = {317, 323, 329, 335};
constexpr std::size_t kCodedAmount[4] = {319, 325, 331, 339};
constexpr std::size_t kReceiptBlockWidth = 66;

bool InRange(int value, int first, int last) { return value >= first && value <= last; }

const std::string kNoDate = PackDigits("00000000");

}  // namespace

std::string EstateRecord::EstateCode() const { return Text(bytes, 0, 2); }
std::string EstateRecord::AddressLine(int line) const {
  if (!InRange(line, 1, 3)) return std::string(kAddressWidth, ' ');
  return Text(bytes, kEstateAddress[line - 1], kAddressWidth);
}
char EstateRecord::OwnAddressFlag() const { return static_cast<char>(bytes[141]); }

std::string UnitRecord::UnitKey() const { return Text(bytes, 0, 4); }
std::string UnitRecord::EstateCode() const { return Text(bytes, 0, 2); }
std::string UnitRecord::UnitNumber() const { return Text(bytes, 2, 2); }
std::string UnitRecord::TenantName() const { return Text(bytes, 8, 30); }
std::string UnitRecord::UnitDesignation() const { return Text(bytes, 38, 10); }
std::string UnitRecord::AddressLine(int line) const {
  if (!InRange(line, 1, 3)) return std::string(kAddressWidth, ' ');
  return Text(bytes, kUnitAddress[line - 1], kAddressWidth);
}
std::string UnitRecord::ContractDate() const { return Text(bytes, 189, 4); }
int16_t UnitRecord::ContractMonths() const { return Int16(bytes, 193); }
std::string UnitRecord::LastRevisionDate() const { return Text(bytes, 195, 4); }
void UnitRecord::SetLastRevisionDate(std::string_view packedDate) {
  SetText(bytes, 195, 4, packedDate);
}
int16_t UnitRecord::RevisionMonths() const { return Int16(bytes, 199); }
int32_t UnitRecord::LastIndex() const { return Int32(bytes, 205); }
void UnitRecord::SetLastIndex(int32_t thousandths) { SetInt32(bytes, 205, thousandths); }
char UnitRecord::UnitStatus() const { return static_cast<char>(bytes[209]); }
char UnitRecord::UnitClass() const { return static_cast<char>(bytes[210]); }
int16_t UnitRecord::MonthsPerReceipt() const { return Int16(bytes, 225); }
int32_t UnitRecord::NumberedAmount(int k) const {
  if (!InRange(k, 1, 10)) return 0;
  return Int32(bytes, kNumberedAmounts + 4 * static_cast<std::size_t>(k - 1));
}
void UnitRecord::SetNumberedAmount(int k, int32_t amount) {
  if (InRange(k, 1, 10))
    SetInt32(bytes, kNumberedAmounts + 4 * static_cast<std::size_t>(k - 1), amount);
}
int16_t UnitRecord::CodedEntryCode(int entry) const {
  return InRange(entry, 1, 4) ? Int16(bytes, kCodedCode[entry - 1]) : int16_t{0};
}
void UnitRecord::SetCodedEntryCode(int entry, int16_t code) {
  if (InRange(entry, 1, 4)) SetInt16(bytes, kCodedCode[entry - 1], code);
}
int32_t UnitRecord::CodedEntryAmount(int entry) const {
  return InRange(entry, 1, 4) ? Int32(bytes, kCodedAmount[entry - 1]) : 0;
}
void UnitRecord::SetCodedEntryAmount(int entry, int32_t amount) {
  if (InRange(entry, 1, 4)) SetInt32(bytes, kCodedAmount[entry - 1], amount);
}
std::string UnitRecord::ReceiptBlock() const {
  return Text(bytes, kNumberedAmounts, kReceiptBlockWidth);
}

std::string LeaseTransitionRecord::UnitKey() const { return Text(bytes, 0, 4); }
char LeaseTransitionRecord::CadastralExempt() const { return static_cast<char>(bytes[12]); }
int32_t LeaseTransitionRecord::CadastralValue() const { return Int32(bytes, 18); }
std::string LeaseTransitionRecord::CadastralDate() const { return Text(bytes, 22, 4); }
char LeaseTransitionRecord::CadastralMode() const { return static_cast<char>(bytes[37]); }
int32_t LeaseTransitionRecord::InitialRent() const { return Int32(bytes, 45); }
int32_t LeaseTransitionRecord::InitialIndex() const { return Int32(bytes, 49); }
int16_t LeaseTransitionRecord::StepsTotal() const { return Int16(bytes, 53); }
int16_t LeaseTransitionRecord::StepsDone() const { return Int16(bytes, 55); }
void LeaseTransitionRecord::SetStepsDone(int16_t steps) { SetInt16(bytes, 55, steps); }

uint8_t ConceptTypeRecord::ConceptCode() const { return bytes[0]; }
std::string ConceptTypeRecord::Description() const { return Text(bytes, 1, 20); }
int16_t ConceptTypeRecord::ConceptClass() const { return Int16(bytes, 24); }

std::string PriceIndexRecord::Country() const { return Text(bytes, 0, 2); }
char PriceIndexRecord::Series() const { return static_cast<char>(bytes[2]); }
std::string PriceIndexRecord::Month() const { return Text(bytes, 3, 4); }
double PriceIndexRecord::Value() const { return Double(bytes, 7); }

std::string TextRecord::TextCode() const { return Text(bytes, 0, 8); }
std::string TextRecord::Description() const { return Text(bytes, 8, 40); }

ApplicationRecords& Records() { return gRecords; }

void ResetRecordsForTesting() { gRecords = ApplicationRecords{}; }

void FillTransitionDefaults(LeaseTransitionRecord& record) {
  RecordBytes& b = record.bytes;
  SetInt16(b, 55, 0);  // StepsDone
  SetInt16(b, 53, 0);  // StepsTotal
  SetInt32(b, 49, 0);  // InitialIndex
  SetInt32(b, 45, 0);  // InitialRent
  SetInt32(b, 18, 0);  // CadastralValue
  SetText(b, 22, 4, kNoDate);
  b[12] = 'N';  // CadastralExempt
  b[37] = 'N';  // CadastralMode
}

std::string NumberedConceptKey(int k) { return std::string(1, static_cast<char>(k)); }

std::string CodedConceptKey(int code) {
  const int kept = code < 0 ? 0 : code % 100;
  const char digits[2] = {static_cast<char>('0' + kept / 10), static_cast<char>('0' + kept % 10)};
  return PackDigits(std::string_view(digits, 2));
}

std::string PriceIndexKey(char series, std::string_view packedMonth) {
  std::string key = "ES";
  key += series;
  key += std::string(packedMonth.substr(0, 4));
  key.resize(kPriceIndexKeyLength, '\0');
  return key;
}

const std::array<JobFile, 6>& JobFileCatalogue() {
  static const std::array<JobFile, 6> files = {{
      {kEstateFile, "DADES\\FinquesV", 142},
      {kUnitFile, "DADES\\DepartaV", 343},
      {kLeaseTransitionFile, "DADES\\TranLauV", 57},
      {kConceptTypeFile, "DADES\\TVRebut", 26},
      {kPriceIndexFile, "TAULES\\UIpc", 15},
      {kTextFile, "DADES\\Textos", 48},
  }};
  return files;
}

RecordVariable JobFileVariable(const JobFile& file) {
  RecordBytes* buffer = nullptr;
  switch (file.number) {
    case kEstateFile:
      buffer = &gRecords.estate.bytes;
      break;
    case kUnitFile:
      buffer = &gRecords.unit.bytes;
      break;
    case kLeaseTransitionFile:
      buffer = &gRecords.transition.bytes;
      break;
    case kConceptTypeFile:
      buffer = &gRecords.conceptType.bytes;
      break;
    case kPriceIndexFile:
      buffer = &gRecords.priceIndex.bytes;
      break;
    case kTextFile:
      buffer = &gRecords.text.bytes;
      break;
    default:
      return {};
  }
  return {buffer->data(), kRecordBufferSize, file.minimumLength};
}

void OpenJobFiles() {
  // The status is not looked at: a file that cannot be opened has ended the
  // job inside OpenDataFile, and the numbers are fresh.
  for (const JobFile& file : JobFileCatalogue()) {
    OpenDataFile(file.number, Session().jobRoot + std::string(file.name), JobFileVariable(file));
  }
}

}  // namespace kestrova

// Record layouts: which bytes of a record are which field, for turning
// records into CSV rows and back.
//
//   # units
//   field UnitKey 0 4 packed         name, offset (0-based), width, type
//   field Tenant 8 30 text
//   field ContractDate 189 4 date
//
// Types and how a value is written in CSV:
//   text    code page 850 text, as UTF-8, trailing blanks dropped (blank-
//           padded again on import)
//   packed  digit pairs (byte = 128 + two digits), as the digits
//   date    a packed date yyyymmdd as YYYY-MM-DD, empty for no date
//   int16 int32   little-endian integers, in decimal
//   double  an IEEE double, in the shortest form that reads back exactly
//   hex     raw bytes in hexadecimal
// A packed or date field holding bytes that are not digit pairs is written
// as 0x followed by its bytes in hex, and read back the same way, so an
// export never fails and never changes a byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova {

enum class FieldType { kText, kPacked, kDate, kInt16, kInt32, kDouble, kHex };

struct Field {
  std::string name;
  int offset = 0;
  int width = 0;
  FieldType type = FieldType::kText;
};

// The CSV column holding, in hex, the bytes that no field names, so a round
// trip through CSV keeps every byte of the record.
inline constexpr char kOtherBytesColumn[] = "_other_bytes";

bool ParseLayout(const std::string& text, std::vector<Field>& fields, std::string& error);

// False when a field reaches past the record or overlaps another.
bool LayoutFitsRecord(const std::vector<Field>& fields, int recordLength, std::string& error);

std::string FieldToText(const Field& field, const uint8_t* record);
bool FieldFromText(const Field& field, const std::string& text, uint8_t* record,
                   std::string& error);

// The bytes no field covers, in record order, as hex; and back.
std::string OtherBytesToHex(const std::vector<Field>& fields, const uint8_t* record, int length);
bool OtherBytesFromHex(const std::vector<Field>& fields, const std::string& hex, uint8_t* record,
                       int length, std::string& error);

}  // namespace kestrova

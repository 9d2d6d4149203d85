// An in-memory stand-in for the revision's data files: records kept in key
// order, finds with the three modes, steps, positions and one record buffer
// per file, installed as the revision's record access.  Also builders for
// the record layouts the revision reads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/numeric.h"
#include "revision/lookups.h"

namespace kestrova::testing {

struct MemoryFile {
  std::size_t keyLength = 0;
  std::vector<std::string> records;  // in key order
  std::ptrdiff_t current = -1;
  std::string buffer;                // the record last read
};

inline std::map<int16_t, MemoryFile>& MemoryFiles() {
  static std::map<int16_t, MemoryFile> files;
  return files;
}

// How many find calls reached each file (tests of look-up counts).
inline std::map<int16_t, int>& FindCalls() {
  static std::map<int16_t, int> calls;
  return calls;
}

inline std::string KeyOf(const MemoryFile& f, std::string_view bytes) {
  std::string key(bytes.substr(0, std::min(bytes.size(), f.keyLength)));
  key.resize(f.keyLength, '\0');
  return key;
}

inline int16_t MemoryFind(int16_t fileNumber, std::string_view keyValue, int16_t mode) {
  ++FindCalls()[fileNumber];
  auto it = MemoryFiles().find(fileNumber);
  if (it == MemoryFiles().end()) return 3;
  MemoryFile& f = it->second;
  const std::string key = KeyOf(f, keyValue);
  std::ptrdiff_t found = -1;
  const auto n = static_cast<std::ptrdiff_t>(f.records.size());
  if (mode == 0) {
    for (std::ptrdiff_t i = 0; i < n && found < 0; ++i) {
      if (KeyOf(f, f.records[static_cast<std::size_t>(i)]) == key) found = i;
    }
  } else if (mode > 0) {
    for (std::ptrdiff_t i = 0; i < n && found < 0; ++i) {
      if (KeyOf(f, f.records[static_cast<std::size_t>(i)]) >= key) found = i;
    }
  } else {
    for (std::ptrdiff_t i = n - 1; i >= 0 && found < 0; --i) {
      if (KeyOf(f, f.records[static_cast<std::size_t>(i)]) <= key) found = i;
    }
  }
  if (found < 0) return mode == 0 ? 4 : 9;
  f.current = found;
  f.buffer = f.records[static_cast<std::size_t>(found)];
  return 0;
}

inline int16_t MemoryStep(int16_t fileNumber) {
  auto it = MemoryFiles().find(fileNumber);
  if (it == MemoryFiles().end()) return 3;
  MemoryFile& f = it->second;
  if (f.current < 0) return 8;
  if (f.current + 1 >= static_cast<std::ptrdiff_t>(f.records.size())) return 9;
  ++f.current;
  f.buffer = f.records[static_cast<std::size_t>(f.current)];
  return 0;
}

inline int32_t MemoryPosition(int16_t fileNumber) {
  auto it = MemoryFiles().find(fileNumber);
  if (it == MemoryFiles().end() || it->second.current < 0) return 0;
  return static_cast<int32_t>(it->second.current + 1);
}

inline int16_t MemoryGoTo(int16_t fileNumber, int32_t position) {
  auto it = MemoryFiles().find(fileNumber);
  if (it == MemoryFiles().end()) return 3;
  MemoryFile& f = it->second;
  if (position < 1 || position > static_cast<int32_t>(f.records.size())) return 43;
  f.current = position - 1;
  f.buffer = f.records[static_cast<std::size_t>(f.current)];
  return 0;
}

inline std::string_view MemoryRecord(int16_t fileNumber) {
  auto it = MemoryFiles().find(fileNumber);
  if (it == MemoryFiles().end()) return {};
  return it->second.buffer;
}

// Empties every file and makes the in-memory files the revision's access.
inline void InstallMemoryRecords() {
  MemoryFiles().clear();
  FindCalls().clear();
  MemoryFiles()[kEstateFile].keyLength = 2;
  MemoryFiles()[kUnitFile].keyLength = 4;
  MemoryFiles()[kLeaseTransitionFile].keyLength = 4;
  MemoryFiles()[kConceptTypeFile].keyLength = 1;
  MemoryFiles()[kPriceIndexFile].keyLength = 7;
  MemoryFiles()[kTextFile].keyLength = 8;
  RevisionRecordAccess() = {MemoryFind, MemoryStep, MemoryPosition, MemoryGoTo, MemoryRecord};
}

inline void AddRecord(int16_t fileNumber, std::string record) {
  MemoryFile& f = MemoryFiles()[fileNumber];
  const std::string key = KeyOf(f, record);
  auto at = std::find_if(f.records.begin(), f.records.end(),
                         [&](const std::string& r) { return KeyOf(f, r) > key; });
  f.records.insert(at, std::move(record));
}

// Puts bytes straight into a file's record buffer (the run reads the unit
// and its transition record before the rules look at them).
inline void SetRecordBuffer(int16_t fileNumber, std::string bytes) {
  MemoryFiles()[fileNumber].buffer = std::move(bytes);
}

// ------------------------------------------------------------- builders

inline void PutBytes(std::string& record, std::size_t offset, const void* bytes, std::size_t n) {
  if (record.size() < offset + n) record.resize(offset + n, ' ');
  std::memcpy(record.data() + offset, bytes, n);
}
inline void PutInt16(std::string& r, std::size_t offset, int16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>((v >> 8) & 0xFF)};
  PutBytes(r, offset, b, 2);
}
inline void PutInt32(std::string& r, std::size_t offset, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  const uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8),
                        static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 24)};
  PutBytes(r, offset, b, 4);
}
inline void PutText(std::string& r, std::size_t offset, std::string_view text, std::size_t width) {
  std::string field(text.substr(0, std::min(text.size(), width)));
  field.resize(width, ' ');
  PutBytes(r, offset, field.data(), width);
}

// A packed date from "yyyymmdd" digits; "" is no date.
inline std::string Date(std::string_view yyyymmdd) {
  return PackDigits(yyyymmdd.empty() ? std::string_view("00000000") : yyyymmdd);
}

// A price-index record: series, "yyyymm" month, value.
inline std::string IndexRecord(char series, std::string_view yyyymm, double value,
                               std::string_view country = "ES") {
  std::string r;
  PutText(r, 0, country, 2);
  PutText(r, 2, std::string(1, series), 1);
  PutBytes(r, 3, Date(std::string(yyyymm) + "01").data(), 4);
  PutBytes(r, 7, &value, 8);
  return r;
}

// A concept type under key byte `key`.
inline std::string ConceptRecord(uint8_t key, std::string_view description, int16_t klass) {
  std::string r(26, ' ');
  r[0] = static_cast<char>(key);
  PutText(r, 1, description, 20);
  PutInt16(r, 24, klass);
  return r;
}

inline std::string TextRecord(std::string_view code, std::string_view description) {
  std::string r;
  PutText(r, 0, code, 8);
  PutText(r, 8, description, 40);
  return r;
}

struct UnitSetup {
  std::string contract = "19900115";  // "" = no date
  int16_t contractMonths = 0;
  std::string lastRevision = "20200115";
  int16_t revisionMonths = 12;
  int32_t lastIndex = 102000;
  char status = ' ';
  char unitClass = ' ';
  int16_t monthsPerReceipt = 1;
  int32_t amounts[10] = {50000, 5000, 0, 0, 0, 0, 0, 0, 0, 0};
  int16_t codes[4] = {0, 0, 0, 0};
  int32_t codedAmounts[4] = {0, 0, 0, 0};
};

inline std::string UnitBytes(const UnitSetup& u) {
  std::string r(343, ' ');
  PutBytes(r, 0, PackDigits("00010001").data(), 4);
  PutBytes(r, 189, Date(u.contract).data(), 4);
  PutInt16(r, 193, u.contractMonths);
  PutBytes(r, 195, Date(u.lastRevision).data(), 4);
  PutInt16(r, 199, u.revisionMonths);
  PutInt32(r, 205, u.lastIndex);
  r[209] = u.status;
  r[210] = u.unitClass;
  PutInt16(r, 225, u.monthsPerReceipt);
  for (std::size_t k = 0; k < 10; ++k) PutInt32(r, 277 + 4 * k, u.amounts[k]);
  const std::size_t codeAt[4] = {317, 323, 329, 335};
  const std::size_t amountAt[4] = {319, 325, 331, 339};
  for (std::size_t e = 0; e < 4; ++e) {
    PutInt16(r, codeAt[e], u.codes[e]);
    PutInt32(r, amountAt[e], u.codedAmounts[e]);
  }
  return r;
}

struct TransitionSetup {
  char cadastralExempt = 'N';
  int32_t cadastralValue = 0;
  std::string cadastralDate = "";
  char cadastralMode = 'N';
  int32_t initialRent = 0;
  int32_t initialIndex = 0;
  int16_t stepsTotal = 0;
  int16_t stepsDone = 0;
};

inline std::string TransitionBytes(const TransitionSetup& t) {
  std::string r(57, ' ');
  PutBytes(r, 0, PackDigits("00010001").data(), 4);
  r[12] = t.cadastralExempt;
  PutInt32(r, 18, t.cadastralValue);
  PutBytes(r, 22, Date(t.cadastralDate).data(), 4);
  r[37] = t.cadastralMode;
  PutInt32(r, 45, t.initialRent);
  PutInt32(r, 49, t.initialIndex);
  PutInt16(r, 53, t.stepsTotal);
  PutInt16(r, 55, t.stepsDone);
  return r;
}

}  // namespace kestrova::testing

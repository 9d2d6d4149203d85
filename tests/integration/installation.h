// A revision installation built record by record, for the tests and the
// benchmark of the revision run: the six data files created from their
// dictionaries under a root, and records inserted through the record
// manager.  The record builders write only the fields a case needs; every
// other byte is a blank.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "calendar/numeric.h"
#include "platform/files.h"
#include "recordmanager/file_description.h"
#include "recordmanager/status.h"
#include "revision/records.h"
#include "session/session.h"
#include "storage/record_interface.h"

namespace kestrova::installation {

// The Create description of a file: record length, 1 KB pages, key 0 on
// the first keyLength bytes (a string key, no duplicates).
inline std::string CreateDescription(uint16_t recordLength, uint16_t keyLength) {
  std::string out(kFileDescriptionSize + kSegmentDescriptionSize, '\0');
  auto put16 = [&out](std::size_t at, uint16_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8);
  };
  put16(0, recordLength);
  put16(2, 1024);
  put16(4, 1);
  put16(kFileDescriptionSize + 0, 1);
  put16(kFileDescriptionSize + 2, keyLength);
  put16(kFileDescriptionSize + 4, 0);  // a string key: packed digits compare byte by byte
  return out;
}

struct FileShape {
  int16_t number;
  uint16_t recordLength;
  uint16_t keyLength;
};
inline constexpr FileShape kShapes[] = {
    {kEstateFile, 142, 2},        {kUnitFile, 343, 4},      {kLeaseTransitionFile, 57, 4},
    {kConceptTypeFile, 26, 1},    {kPriceIndexFile, 15, 7}, {kTextFile, 48, 8},
};

// Writes the dictionaries under `root` (a job path ending in a separator),
// makes it the session's root, and opens the six files (created empty).
inline bool CreateAndOpen(const std::string& root) {
  Session().jobRoot = root;
  if (!MakeDirectories(root + "ddf") || !MakeDirectories(root + "DADES") || !MakeDirectories(root + "TAULES")) {
    return false;
  }
  for (const JobFile& file : JobFileCatalogue()) {
    for (const FileShape& shape : kShapes) {
      if (shape.number != file.number) continue;
      const std::string description = CreateDescription(shape.recordLength, shape.keyLength);
      std::string dictionary(2, '\0');
      dictionary[0] = static_cast<char>(description.size() & 0xFF);
      dictionary[1] = static_cast<char>(description.size() >> 8);
      dictionary += description;
      if (!WriteWholeFile(DictionaryPath(file.name), dictionary)) return false;
    }
  }
  OpenJobFiles();
  return true;
}

// Inserts a record into an open file; 0 or the record manager's status.
inline int16_t Insert(int16_t fileNumber, std::string record) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot <= 0) return 3;
  FileSlot& s = FileSlots()[static_cast<std::size_t>(slot)];
  record.resize(static_cast<std::size_t>(s.recordLength), ' ');
  uint32_t length = static_cast<uint32_t>(record.size());
  char key[kKeyBufferSize] = {};
  return CallRecordManager(kOpInsert, s.positionBlock.data(), record.data(), &length, key, kKeyBufferSize, 0);
}

// Many inserts in one transaction: the store then commits once instead of
// once per record.  0 or the record manager's status.
inline int16_t BeginBatch() {
  uint8_t block[kPositionBlockBytes] = {};
  uint32_t length = 0;
  char key[kKeyBufferSize] = {};
  return CallRecordManager(kOpBeginTransaction, block, nullptr, &length, key, kKeyBufferSize, 0);
}
inline int16_t EndBatch() {
  uint8_t block[kPositionBlockBytes] = {};
  uint32_t length = 0;
  char key[kKeyBufferSize] = {};
  return CallRecordManager(kOpEndTransaction, block, nullptr, &length, key, kKeyBufferSize, 0);
}

inline void Put(std::string& r, std::size_t offset, std::string_view bytes) {
  if (r.size() < offset + bytes.size()) r.resize(offset + bytes.size(), ' ');
  std::memcpy(r.data() + offset, bytes.data(), bytes.size());
}
inline void Put16(std::string& r, std::size_t offset, int16_t v) {
  const auto u = static_cast<uint16_t>(v);
  Put(r, offset, std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)});
}
inline void Put32(std::string& r, std::size_t offset, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  std::string b(4, '\0');
  for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
  Put(r, offset, b);
}

// A packed estate code or unit key from its numbers.
inline std::string EstateCode(int estate) { return PackDigits(ZeroPad(estate, 4)); }
inline std::string UnitKey(int estate, int unit) { return PackDigits(ZeroPad(estate, 4) + ZeroPad(unit, 4)); }

inline std::string Estate(int estate, std::string_view address, char ownAddress = 'N') {
  std::string r(142, ' ');
  Put(r, 0, EstateCode(estate));
  Put(r, 8, address);
  r[141] = ownAddress;
  return r;
}

struct UnitFacts {
  int estate = 1;
  int unit = 1;
  std::string tenant = "TITULAR";
  std::string designation = "1r 1a";
  std::string contractDate = "20000101";  // yyyymmdd, "00000000" for none
  int16_t contractMonths = 0;
  std::string lastRevisionDate = "00000000";
  int16_t revisionMonths = 12;
  int32_t lastIndex = 0;
  char status = ' ';
  int16_t monthsPerReceipt = 1;
  int32_t rent = 0;  // numbered amount 1
};

inline std::string Unit(const UnitFacts& f) {
  std::string r(343, ' ');
  Put(r, 0, UnitKey(f.estate, f.unit));
  Put(r, 8, f.tenant);
  Put(r, 38, f.designation);
  Put(r, 189, PackDigits(f.contractDate));
  Put16(r, 193, f.contractMonths);
  Put(r, 195, PackDigits(f.lastRevisionDate));
  Put16(r, 199, f.revisionMonths);
  Put32(r, 205, f.lastIndex);
  r[209] = f.status;
  r[210] = 'V';
  Put16(r, 225, f.monthsPerReceipt);
  for (int k = 0; k < 10; ++k) Put32(r, 277 + 4 * static_cast<std::size_t>(k), k == 0 ? f.rent : 0);
  for (std::size_t e = 0; e < 4; ++e) {
    Put16(r, std::size_t{317} + 6 * e, 0);
  }
  Put32(r, 319, 0);
  Put32(r, 325, 0);
  Put32(r, 331, 0);
  Put32(r, 339, 0);
  return r;
}

inline std::string Transition(int estate, int unit, int32_t initialIndex, int16_t stepsTotal, int16_t stepsDone) {
  std::string r(57, ' ');
  Put(r, 0, UnitKey(estate, unit));
  r[12] = 'S';
  Put32(r, 18, 0);
  Put(r, 22, PackDigits("00000000"));
  r[37] = 'P';
  Put32(r, 45, 0);
  Put32(r, 49, initialIndex);
  Put16(r, 53, stepsTotal);
  Put16(r, 55, stepsDone);
  return r;
}

}  // namespace kestrova::installation

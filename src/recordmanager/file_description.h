// The description of a record file: record length, keys and their segments,
// and the alternate collating sequence, read from a Create buffer and written
// back as the answer of Stat.
//
// Buffer layout (all integers little-endian, positions 1-based in the record):
//   16 bytes describing the file, then 16 bytes per key segment (keys in key
//   number order, the segments of a key one after the other), then, when any
//   segment is compared through the collating sequence, 265 bytes: 0xAC, an
//   8-byte name and the 256-byte translation table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "recordmanager/status.h"

namespace kestrova {

// Key flags of a segment description.
inline constexpr uint16_t kKeyDuplicates = 0x0001;
inline constexpr uint16_t kKeyModifiable = 0x0002;
inline constexpr uint16_t kKeyBinary = 0x0004;
inline constexpr uint16_t kKeyNullValue = 0x0008;
inline constexpr uint16_t kKeySegmented = 0x0010;
inline constexpr uint16_t kKeyCollated = 0x0020;
inline constexpr uint16_t kKeyDescending = 0x0040;
inline constexpr uint16_t kKeyExtendedType = 0x0100;
inline constexpr uint16_t kKeyCaseInsensitive = 0x0400;

// Extended key types this store compares.
enum KeyType : uint8_t {
  kTypeString = 0,
  kTypeInteger = 1,
  kTypeFloat = 2,
  kTypeLString = 10,
  kTypeZString = 11,
  kTypeUnsignedBinary = 14,
};

inline constexpr std::size_t kFileDescriptionSize = 16;
inline constexpr std::size_t kSegmentDescriptionSize = 16;
inline constexpr std::size_t kCollationBlockSize = 265;
inline constexpr uint8_t kCollationSignature = 0xAC;

// Limits of what one file may hold.  The key encodings live in one row per
// record next to the record, so the counts stay modest; they cover every
// file the suite defines with room to spare.
inline constexpr int kMaxKeys = 24;
inline constexpr int kMaxSegments = 119;
inline constexpr int kMaxRecordLength = 16384;
inline constexpr int kMaxKeyLength = 255;

struct SegmentDescription {
  uint16_t position = 1;  // 1-based offset in the record
  uint16_t length = 0;
  uint16_t flags = 0;
  uint8_t type = kTypeString;  // resolved: extended type, or binary/string from the flags
  uint8_t nullValue = 0;
  uint8_t manualKeyNumber = 0;
  uint8_t collationNumber = 0;
};

struct KeyDescription {
  int firstSegment = 0;
  int segmentCount = 0;
  int length = 0;  // sum of the segment lengths
  bool duplicates = false;
  bool modifiable = false;
  bool nullKey = false;
};

struct FileDescription {
  uint16_t recordLength = 0;
  uint16_t pageSize = 0;
  uint16_t fileFlags = 0;
  uint8_t duplicatePointers = 0;
  uint16_t preallocatePages = 0;
  std::vector<SegmentDescription> segments;
  std::vector<KeyDescription> keys;
  bool hasCollation = false;
  std::array<uint8_t, 8> collationName{};
  std::array<uint8_t, 256> collation{};
};

// Reads and checks a Create buffer of `size` bytes.  Bytes after the
// description (the job pads the buffer with blanks) are ignored.  Returns
// kStatusOk, or the status naming the first fault: 22 buffer shorter than
// the key count says, 24 page size, 26 key count, 27 segment outside the
// record, 28 record length, 29 segment length/type, 48 collating block
// missing its signature.  `description` is undefined on failure.
RecordStatus ParseFileDescription(const uint8_t* data, std::size_t size,
                                  FileDescription& description);

// The Create form of a description (what ParseFileDescription reads back).
std::string SerializeFileDescription(const FileDescription& description);

// The Stat answer: the Create form with the record count and, in every
// segment of a key, the number of distinct values of that key.
std::string StatAnswer(const FileDescription& description, uint32_t recordCount,
                       const std::vector<uint32_t>& distinctValues);

}  // namespace kestrova

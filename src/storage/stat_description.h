// The description of a data file as the record manager's Stat answers it:
// record length, page size, keys and their segments, the collating table.
//
// The layer reads it in two calls: the first answer gives the page size, and
// the second is asked with a data buffer that starts with that many NUL
// bytes, the form in which the record manager gives the whole description.
// Answer layout (bytes from 0, 16-bit integers little-endian):
//   0-1 record length, 2-3 page size, 4-5 number of keys, 6-9 records;
//   from 16: 16 bytes per key segment, keys in key-number order: bytes 2-3
//   the segment length, byte 4 the flags (0x10 another segment of the same
//   key follows, 0x04 binary, 0x20 compared through the collating table);
//   9 bytes after the last segment: the 256-byte collating table.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrova {

inline constexpr uint8_t kSegmentFollows = 0x10;
inline constexpr uint8_t kSegmentBinary = 0x04;
inline constexpr uint8_t kSegmentCollated = 0x20;

struct StatSegment {
  int32_t length = 0;
  uint8_t flags = 0;
};

struct StatDescription {
  int32_t recordLength = 0;
  int32_t pageSize = 0;
  int32_t keyCount = 0;  // as the answer states it
  int32_t recordCount = 0;
  // The keys whose segments lie wholly within the answer, in key order.
  std::vector<std::vector<StatSegment>> keys;
  bool hasCollation = false;  // the whole table lies within the answer
  std::array<uint8_t, 256> collation{};
};

// Reads a Stat answer.  Never reads outside `answer`: a description cut
// short gives the keys that are whole and no collating table.
StatDescription ParseStatDescription(std::string_view answer);

// Asks the record manager for the description of the file in `slot` (the
// double Stat call).  An empty description when the call fails.
StatDescription ReadStatDescription(int16_t slot);

// The description of the file in `slot` as first read while it is open:
// its keys, segments and collating table cannot change under an open file,
// so only the first search pays the double Stat call.  The record count in
// it is that of the first read (ReadStatDescription for a current one).  A
// description that could not be read is not kept: the next call asks again.
const StatDescription& KnownDescription(int16_t slot);

// The total length of key `keyNumber` (at most 255), or 0 when the file has
// no such key.
int32_t StatKeyLength(const StatDescription& description, int32_t keyNumber);

}  // namespace kestrova

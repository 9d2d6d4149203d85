#include "storage/stat_description.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "recordmanager/status.h"
#include "storage/record_interface.h"

namespace kestrova {
namespace {

constexpr std::size_t kFileSpecBytes = 16;
constexpr std::size_t kSegmentBytes = 16;
// The collating sequence block starts with a signature byte and an 8-byte
// name; its table follows.
constexpr std::size_t kCollationTableOffset = 9;

int32_t Read16(std::string_view bytes, std::size_t at) {
  if (at + 2 > bytes.size()) return 0;
  return static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8);
}

int32_t Read32(std::string_view bytes, std::size_t at) {
  if (at + 4 > bytes.size()) return 0;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return static_cast<int32_t>(value);
}

// One Stat call with a 1 536-byte data buffer holding `data` blank-padded.
// The answer is the bytes the record manager returned; empty on failure.
std::string AskStat(FileSlot& slot, const std::string& data, int16_t& status) {
  std::string dataBuffer = data;
  dataBuffer.resize(kDataBufferSize, ' ');
  std::string keyBuffer(kKeyBufferSize, ' ');
  uint32_t dataLength = kDataBufferSize;
  status = CallRecordManager(kOpStat, slot.positionBlock.data(), dataBuffer.data(),
                             &dataLength, keyBuffer.data(), kKeyBufferSize, 0);
  if (status != 0 && status != 22) return {};
  dataBuffer.resize(std::min<uint32_t>(dataLength, kDataBufferSize));
  return dataBuffer;
}

}  // namespace

StatDescription ParseStatDescription(std::string_view answer) {
  StatDescription d;
  d.recordLength = Read16(answer, 0);
  d.pageSize = Read16(answer, 2);
  d.keyCount = Read16(answer, 4);
  d.recordCount = Read32(answer, 6);
  // Walk the segments key by key: a key ends at its first segment without
  // the "another segment follows" flag.
  std::size_t at = kFileSpecBytes;
  bool whole = true;
  for (int32_t k = 0; k < d.keyCount && whole; ++k) {
    std::vector<StatSegment> key;
    for (;;) {
      if (at + kSegmentBytes > answer.size()) {
        whole = false;
        break;
      }
      StatSegment segment;
      segment.length = Read16(answer, at + 2);
      segment.flags = static_cast<uint8_t>(answer[at + 4]);
      key.push_back(segment);
      at += kSegmentBytes;
      if ((segment.flags & kSegmentFollows) == 0) break;
    }
    if (whole) d.keys.push_back(std::move(key));
  }
  const std::size_t table = at + kCollationTableOffset;
  if (whole && table + d.collation.size() <= answer.size()) {
    d.hasCollation = true;
    std::copy_n(answer.begin() + static_cast<std::ptrdiff_t>(table), d.collation.size(),
                d.collation.begin());
  }
  return d;
}

StatDescription ReadStatDescription(int16_t slot) {
  if (slot < 1 || slot > kLastSlot) return {};
  FileSlot& s = FileSlots()[static_cast<std::size_t>(slot)];
  int16_t status = 0;
  // 1. A first answer into a buffer of blanks gives the page size.
  const std::string first = AskStat(s, std::string(), status);
  if (first.empty()) return {};
  // 2. The buffer refilled with as many NUL bytes as the page size (never
  //    more than the buffer holds) asks for the whole description.
  const auto pageSize = static_cast<std::size_t>(Read16(first, 2));
  const std::string second =
      AskStat(s, std::string(std::min<std::size_t>(pageSize, kDataBufferSize), '\0'), status);
  return ParseStatDescription(second);
}

const StatDescription& KnownDescription(int16_t slot) {
  static StatDescription unread;
  if (slot < 1 || slot > kLastSlot) {
    unread = StatDescription{};
    return unread;
  }
  FileSlot& s = FileSlots()[static_cast<std::size_t>(slot)];
  if (s.description == nullptr) {
    StatDescription d = ReadStatDescription(slot);
    if (d.recordLength == 0) {
      unread = std::move(d);
      return unread;
    }
    s.description = std::make_shared<const StatDescription>(std::move(d));
  }
  return *s.description;
}

int32_t StatKeyLength(const StatDescription& description, int32_t keyNumber) {
  if (keyNumber < 0 || keyNumber >= description.keyCount) return 0;
  if (keyNumber >= static_cast<int32_t>(description.keys.size())) return 0;
  int32_t length = 0;
  for (const StatSegment& s : description.keys[static_cast<std::size_t>(keyNumber)]) {
    length += s.length;
  }
  // No key is longer than the key buffer; a description that says otherwise
  // is damaged, and a longer key value would not fit the buffers.
  return std::min(length, kKeyBufferSize);
}

}  // namespace kestrova

#include "recordmanager/file_description.h"

#include <cstring>

namespace kestrova {
namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void Put16(std::string& out, std::size_t at, uint16_t v) {
  out[at] = static_cast<char>(v & 0xFF);
  out[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& out, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The comparison type of a segment: the extended type when flag 0x100 says
// so (binary is then ignored), otherwise unsigned binary or plain bytes.
uint8_t ResolveType(uint16_t flags, uint8_t extended) {
  if (flags & kKeyExtendedType) return extended;
  return (flags & kKeyBinary) ? kTypeUnsignedBinary : kTypeString;
}

bool TypeFitsLength(uint8_t type, uint16_t length) {
  switch (type) {
    case kTypeString:
    case kTypeZString:
    case kTypeUnsignedBinary:
      return true;
    case kTypeLString:
      return length >= 2;  // the length byte and at least one character
    case kTypeInteger:
      return length == 1 || length == 2 || length == 4 || length == 8;
    case kTypeFloat:
      return length == 4 || length == 8;
    default:
      return false;  // types we cannot order are refused rather than misordered
  }
}

}  // namespace

RecordStatus ParseFileDescription(const uint8_t* data, std::size_t size,
                                  FileDescription& description) {
  description = FileDescription{};
  if (data == nullptr || size < kFileDescriptionSize) return kStatusDataBufferTooShort;

  // 1. The file block.
  description.recordLength = Get16(data);
  description.pageSize = Get16(data + 2);
  const int keyCount = Get16(data + 4);
  description.fileFlags = Get16(data + 10);
  description.duplicatePointers = data[12];
  description.preallocatePages = Get16(data + 14);
  if (description.recordLength == 0 || description.recordLength > kMaxRecordLength) {
    return kStatusRecordLengthError;
  }
  if (description.pageSize == 0 || description.pageSize % 512 != 0) return kStatusPageSizeError;
  if (keyCount < 1 || keyCount > kMaxKeys) return kStatusNumberOfKeysError;

  // 2. The segments, key by key; a key ends at its first segment without the
  // "another segment follows" flag.  Every read is checked against `size`.
  std::size_t at = kFileDescriptionSize;
  for (int k = 0; k < keyCount; ++k) {
    KeyDescription key;
    key.firstSegment = static_cast<int>(description.segments.size());
    for (;;) {
      if (static_cast<int>(description.segments.size()) >= kMaxSegments)
        return kStatusNumberOfKeysError;
      if (size < at + kSegmentDescriptionSize) return kStatusDataBufferTooShort;
      const uint8_t* s = data + at;
      at += kSegmentDescriptionSize;
      SegmentDescription seg;
      seg.position = Get16(s);
      seg.length = Get16(s + 2);
      seg.flags = Get16(s + 4);
      seg.nullValue = s[11];
      seg.manualKeyNumber = s[14];
      seg.collationNumber = s[15];
      seg.type = ResolveType(seg.flags, s[10]);
      if (seg.length == 0 || seg.length > kMaxKeyLength) return kStatusKeyLengthError;
      if (seg.position == 0 || static_cast<int>(seg.position) + seg.length - 1 >
                                   static_cast<int>(description.recordLength)) {
        return kStatusKeyPositionError;
      }
      if (!TypeFitsLength(seg.type, seg.length)) return kStatusKeyLengthError;
      if (seg.flags & kKeyCollated) description.hasCollation = true;
      key.length += seg.length;
      if (key.length > kMaxKeyLength) return kStatusKeyLengthError;
      // The attributes of a key are those of its first segment; later
      // segments repeating them differently would be a contradiction we do
      // not try to interpret.
      if (key.segmentCount == 0) {
        key.duplicates = seg.flags & kKeyDuplicates;
        key.modifiable = seg.flags & kKeyModifiable;
        key.nullKey = seg.flags & kKeyNullValue;
      }
      ++key.segmentCount;
      description.segments.push_back(seg);
      if (!(seg.flags & kKeySegmented)) break;
    }
    description.keys.push_back(key);
  }

  // 3. The collating sequence, only when a segment asks for it.
  if (description.hasCollation) {
    if (size < at + kCollationBlockSize) return kStatusDataBufferTooShort;
    if (data[at] != kCollationSignature) return kStatusBadCollatingSequence;
    std::memcpy(description.collationName.data(), data + at + 1, 8);
    std::memcpy(description.collation.data(), data + at + 9, 256);
  }
  return kStatusOk;
}

std::string SerializeFileDescription(const FileDescription& description) {
  std::string out(kFileDescriptionSize + kSegmentDescriptionSize * description.segments.size() +
                      (description.hasCollation ? kCollationBlockSize : 0),
                  '\0');
  Put16(out, 0, description.recordLength);
  Put16(out, 2, description.pageSize);
  Put16(out, 4, static_cast<uint16_t>(description.keys.size()));
  Put16(out, 10, description.fileFlags);
  out[12] = static_cast<char>(description.duplicatePointers);
  Put16(out, 14, description.preallocatePages);
  std::size_t at = kFileDescriptionSize;
  for (const SegmentDescription& seg : description.segments) {
    Put16(out, at, seg.position);
    Put16(out, at + 2, seg.length);
    Put16(out, at + 4, seg.flags);
    out[at + 10] = static_cast<char>((seg.flags & kKeyExtendedType) ? seg.type : 0);
    out[at + 11] = static_cast<char>(seg.nullValue);
    out[at + 14] = static_cast<char>(seg.manualKeyNumber);
    out[at + 15] = static_cast<char>(seg.collationNumber);
    at += kSegmentDescriptionSize;
  }
  if (description.hasCollation) {
    out[at] = static_cast<char>(kCollationSignature);
    std::memcpy(out.data() + at + 1, description.collationName.data(), 8);
    std::memcpy(out.data() + at + 9, description.collation.data(), 256);
  }
  return out;
}

std::string StatAnswer(const FileDescription& description, uint32_t recordCount,
                       const std::vector<uint32_t>& distinctValues) {
  std::string out = SerializeFileDescription(description);
  out[5] = 0;  // file version: the key count reads as a 16-bit number
  Put32(out, 6, recordCount);
  out[12] = 0;  // no duplicate pointers are left unused: we keep none
  Put16(out, 14, 0);
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    const KeyDescription& key = description.keys[k];
    const uint32_t count = k < distinctValues.size() ? distinctValues[k] : 0;
    for (int s = 0; s < key.segmentCount; ++s) {
      Put32(out, kFileDescriptionSize + kSegmentDescriptionSize * (key.firstSegment + s) + 6,
            count);
    }
  }
  return out;
}

}  // namespace kestrova

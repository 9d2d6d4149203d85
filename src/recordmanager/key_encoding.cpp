#include "recordmanager/key_encoding.h"

#include <algorithm>

namespace kestrova {
namespace {

uint8_t FoldCase(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }

// One character of a text segment as it compares: through the collating
// table when the segment asks for it (the table then decides case too),
// otherwise upper-cased for a case-insensitive key.
uint8_t TextByte(const FileDescription& description, const SegmentDescription& seg, uint8_t c) {
  if (seg.flags & kKeyCollated) return description.collation[c];
  if (seg.flags & kKeyCaseInsensitive) return FoldCase(c);
  return c;
}

// Appends the encoding of one segment (always seg.length bytes).
void EncodeSegment(const FileDescription& description, const SegmentDescription& seg,
                   const uint8_t* in, std::string& out) {
  const std::size_t start = out.size();
  const int len = seg.length;
  switch (seg.type) {
    case kTypeUnsignedBinary:
      for (int i = len - 1; i >= 0; --i) out.push_back(static_cast<char>(in[i]));
      break;
    case kTypeInteger:
      for (int i = len - 1; i >= 0; --i) out.push_back(static_cast<char>(in[i]));
      out[start] = static_cast<char>(static_cast<uint8_t>(out[start]) ^ 0x80);
      break;
    case kTypeFloat: {
      // IEEE values: positive ones sort by their bits with the sign set,
      // negative ones by their inverted bits.
      const bool negative = in[len - 1] & 0x80;
      for (int i = len - 1; i >= 0; --i) {
        out.push_back(static_cast<char>(negative ? static_cast<uint8_t>(~in[i]) : in[i]));
      }
      if (!negative) out[start] = static_cast<char>(static_cast<uint8_t>(out[start]) | 0x80);
      break;
    }
    case kTypeZString: {
      const uint8_t* end = std::find(in, in + len, 0);
      for (const uint8_t* p = in; p < end; ++p)
        out.push_back(static_cast<char>(TextByte(description, seg, *p)));
      out.append(len - (end - in), '\0');
      break;
    }
    case kTypeLString: {
      const int count = std::min<int>(in[0], len - 1);
      for (int i = 1; i <= count; ++i)
        out.push_back(static_cast<char>(TextByte(description, seg, in[i])));
      out.append(len - count, '\0');
      break;
    }
    default:
      for (int i = 0; i < len; ++i)
        out.push_back(static_cast<char>(TextByte(description, seg, in[i])));
      break;
  }
  if (seg.flags & kKeyDescending) {
    for (std::size_t i = start; i < out.size(); ++i) out[i] = static_cast<char>(~out[i]);
  }
}

}  // namespace

std::string KeyValueOfRecord(const FileDescription& description, int key, const uint8_t* record) {
  const KeyDescription& k = description.keys[key];
  std::string value;
  value.reserve(k.length);
  for (int s = 0; s < k.segmentCount; ++s) {
    const SegmentDescription& seg = description.segments[k.firstSegment + s];
    value.append(reinterpret_cast<const char*>(record) + seg.position - 1, seg.length);
  }
  return value;
}

std::string EncodeKeyValue(const FileDescription& description, int key, const std::string& value) {
  const KeyDescription& k = description.keys[key];
  std::string padded = value;
  padded.resize(k.length, '\0');
  const auto* in = reinterpret_cast<const uint8_t*>(padded.data());
  std::string out;
  out.reserve(k.length);
  for (int s = 0; s < k.segmentCount; ++s) {
    const SegmentDescription& seg = description.segments[k.firstSegment + s];
    EncodeSegment(description, seg, in, out);
    in += seg.length;
  }
  return out;
}

bool IsNullKeyValue(const FileDescription& description, int key, const std::string& value) {
  const KeyDescription& k = description.keys[key];
  if (!k.nullKey) return false;
  std::size_t at = 0;
  for (int s = 0; s < k.segmentCount; ++s) {
    const SegmentDescription& seg = description.segments[k.firstSegment + s];
    for (int i = 0; i < seg.length; ++i, ++at) {
      if (at >= value.size() || static_cast<uint8_t>(value[at]) != seg.nullValue) return false;
    }
  }
  return true;
}

}  // namespace kestrova

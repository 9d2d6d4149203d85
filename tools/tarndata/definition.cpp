#include "definition.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/codepage.h"
#include "recordmanager/file_description.h"

namespace kestrova {
namespace {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line.substr(0, line.find('#')));
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

bool ParseNumber(const std::string& text, long min, long max, long& value) {
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 0);
  return !text.empty() && *end == '\0' && value >= min && value <= max;
}

// One character of a collation map: "0xNN" or a single UTF-8 character of
// code page 850.
bool ParseCharacter(const std::string& text, int& byte) {
  long v = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (!ParseNumber(text, 0, 255, v)) return false;
    byte = static_cast<int>(v);
    return true;
  }
  const std::string cp = Utf8ToCp850(text, '\x01');
  if (cp.size() != 1 || (cp[0] == '\x01' && text != "\x01")) return false;
  byte = static_cast<unsigned char>(cp[0]);
  return true;
}

bool ParseRange(const std::string& text, int& first, int& last) {
  const auto dash = text.find('-', 1);
  if (dash != std::string::npos && dash + 1 < text.size()) {
    return ParseCharacter(text.substr(0, dash), first) &&
           ParseCharacter(text.substr(dash + 1), last) && first <= last;
  }
  if (!ParseCharacter(text, first)) return false;
  last = first;
  return true;
}

struct TypeName {
  const char* name;
  uint16_t flags;
  uint8_t type;
};
constexpr TypeName kTypes[] = {
    {"string", 0, kTypeString},
    {"unsigned", kKeyBinary, kTypeString},
    {"integer", kKeyExtendedType, kTypeInteger},
    {"float", kKeyExtendedType, kTypeFloat},
    {"zstring", kKeyExtendedType, kTypeZString},
    {"lstring", kKeyExtendedType, kTypeLString},
};

}  // namespace

bool BuildCreateBuffer(const std::string& text, std::string& buffer, std::string& error) {
  FileDescription description;
  description.pageSize = 1024;
  for (int c = 0; c < 256; ++c) description.collation[c] = static_cast<uint8_t>(c);
  description.collationName.fill(' ');
  uint16_t keyFlags = 0;
  bool inKey = false;
  std::istringstream in(text);
  std::string line;
  int lineNumber = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineNumber) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++lineNumber;
    const std::vector<std::string> w = Words(line);
    if (w.empty()) continue;
    long v = 0;
    if (w[0] == "record" && w.size() == 2) {
      if (!ParseNumber(w[1], 1, kMaxRecordLength, v)) return fail("bad record length");
      description.recordLength = static_cast<uint16_t>(v);
    } else if (w[0] == "page" && w.size() == 2) {
      if (!ParseNumber(w[1], 512, 65024, v) || v % 512 != 0)
        return fail("page size must be a multiple of 512");
      description.pageSize = static_cast<uint16_t>(v);
    } else if (w[0] == "key") {
      keyFlags = 0;
      for (std::size_t i = 1; i < w.size(); ++i) {
        if (w[i] == "duplicates")
          keyFlags |= kKeyDuplicates;
        else if (w[i] == "modifiable")
          keyFlags |= kKeyModifiable;
        else if (w[i] == "null")
          keyFlags |= kKeyNullValue;
        else if (w[i] != "unique")
          return fail("unknown key attribute '" + w[i] + "'");
      }
      description.keys.push_back(
          KeyDescription{static_cast<int>(description.segments.size()), 0, 0, false, false, false});
      inKey = true;
    } else if (w[0] == "segment" && w.size() >= 4) {
      if (!inKey) return fail("segment before any key");
      SegmentDescription seg;
      long position = 0, length = 0;
      if (!ParseNumber(w[1], 1, 65535, position)) return fail("bad segment position");
      if (!ParseNumber(w[2], 1, 255, length)) return fail("bad segment length");
      seg.position = static_cast<uint16_t>(position);
      seg.length = static_cast<uint16_t>(length);
      seg.flags = keyFlags;
      bool known = false;
      for (const TypeName& t : kTypes) {
        if (w[3] == t.name) {
          seg.flags |= t.flags;
          seg.type = t.type;
          known = true;
        }
      }
      if (!known) return fail("unknown segment type '" + w[3] + "'");
      for (std::size_t i = 4; i < w.size(); ++i) {
        if (w[i] == "descending")
          seg.flags |= kKeyDescending;
        else if (w[i] == "case-insensitive")
          seg.flags |= kKeyCaseInsensitive;
        else if (w[i] == "collated")
          seg.flags |= kKeyCollated;
        else if (w[i].rfind("null=", 0) == 0 && ParseNumber("0x" + w[i].substr(5), 0, 255, v)) {
          seg.nullValue = static_cast<uint8_t>(v);
        } else {
          return fail("unknown segment option '" + w[i] + "'");
        }
      }
      KeyDescription& key = description.keys.back();
      if (key.segmentCount > 0) description.segments.back().flags |= kKeySegmented;
      ++key.segmentCount;
      description.segments.push_back(seg);
    } else if (w[0] == "collation" && w.size() == 2) {
      if (w[1].size() > 8) return fail("collation name longer than 8 characters");
      description.collationName.fill(' ');
      for (std::size_t i = 0; i < w[1].size(); ++i)
        description.collationName[i] = static_cast<uint8_t>(w[1][i]);
      description.hasCollation = true;
    } else if (w[0] == "map" && w.size() == 3) {
      int from1 = 0, from2 = 0, to1 = 0, to2 = 0;
      if (!ParseRange(w[1], from1, from2) || !ParseRange(w[2], to1, to2)) return fail("bad map");
      if (to2 - to1 != 0 && to2 - to1 != from2 - from1)
        return fail("map ranges of different sizes");
      for (int c = from1; c <= from2; ++c) {
        description.collation[c] = static_cast<uint8_t>(to1 == to2 ? to1 : to1 + (c - from1));
      }
    } else {
      return fail("cannot read '" + line + "'");
    }
  }
  for (const KeyDescription& key : description.keys) {
    if (key.segmentCount == 0) return fail("a key without segments");
  }
  // Serialise what was read, then let the record manager's own check judge
  // it, so a dictionary that builds is one that Create accepts.
  for (const SegmentDescription& seg : description.segments) {
    if ((seg.flags & kKeyCollated) && !description.hasCollation) {
      return fail("a collated segment but no collation");
    }
  }
  std::string bytes = SerializeFileDescription(description);
  FileDescription check;
  const RecordStatus status =
      ParseFileDescription(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), check);
  if (status != kStatusOk) {
    error =
        "the definition is not a valid file description (status " + std::to_string(status) + ")";
    return false;
  }
  // A collation block nobody uses is left out.
  if (description.hasCollation && !check.hasCollation) {
    description.hasCollation = false;
    bytes = SerializeFileDescription(description);
  }
  buffer = bytes;
  return true;
}

}  // namespace kestrova

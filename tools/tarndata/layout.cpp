#include "layout.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "calendar/dates.h"
#include "platform/codepage.h"

namespace kestrova {
namespace {

struct TypeName {
  const char* name;
  FieldType type;
  int width;  // 0 = any
};
constexpr TypeName kTypes[] = {
    {"text", FieldType::kText, 0},   {"packed", FieldType::kPacked, 0},
    {"date", FieldType::kDate, 4},   {"int16", FieldType::kInt16, 2},
    {"int32", FieldType::kInt32, 4}, {"double", FieldType::kDouble, 8},
    {"hex", FieldType::kHex, 0},
};

std::string Hex(const uint8_t* p, int n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

bool FromHex(const std::string& hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int v = 0;
    for (int k = 0; k < 2; ++k) {
      const char c = hex[i + k];
      const int d = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    bytes += static_cast<char>(v);
  }
  return true;
}

bool IsDigitPairs(const uint8_t* p, int n) {
  for (int i = 0; i < n; ++i) {
    if (p[i] < 128 || p[i] > 227) return false;
  }
  return true;
}

std::string Unpack(const uint8_t* p, int n) {
  std::string digits;
  for (int i = 0; i < n; ++i) {
    const int v = p[i] - 128;
    digits += static_cast<char>('0' + v / 10);
    digits += static_cast<char>('0' + v % 10);
  }
  return digits;
}

// Packs a digit text into n bytes, right-aligned with leading zeros.
bool Pack(const std::string& digits, uint8_t* p, int n) {
  if (static_cast<int>(digits.size()) > 2 * n) return false;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  const std::string full = std::string(2 * n - digits.size(), '0') + digits;
  for (int i = 0; i < n; ++i) {
    p[i] = static_cast<uint8_t>(128 + (full[2 * i] - '0') * 10 + (full[2 * i + 1] - '0'));
  }
  return true;
}

bool ParseInteger(const std::string& text, long long min, long long max, long long& v) {
  char* end = nullptr;
  errno = 0;
  v = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno == 0 && v >= min && v <= max;
}

bool RawHexValue(const std::string& text, uint8_t* p, int width) {
  std::string bytes;
  if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  if (!FromHex(text.substr(2), bytes) || static_cast<int>(bytes.size()) != width) return false;
  std::memcpy(p, bytes.data(), width);
  return true;
}

// Eight digits YYYYMMDD naming a day of the (Gregorian) calendar.
bool IsCalendarDate(const std::string& digits) {
  if (digits.size() != 8 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const int year = std::stoi(digits.substr(0, 4));
  const int month = std::stoi(digits.substr(4, 2));
  const int day = std::stoi(digits.substr(6, 2));
  return year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(month, year, false);
}

}  // namespace

bool ParseLayout(const std::string& text, std::vector<Field>& fields, std::string& error) {
  fields.clear();
  std::istringstream in(text);
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    std::istringstream words(line.substr(0, line.find('#')));
    std::string keyword, type;
    Field f;
    if (!(words >> keyword)) continue;
    std::string extra;
    if (keyword != "field" || !(words >> f.name >> f.offset >> f.width >> type) ||
        (words >> extra)) {
      error = "line " + std::to_string(lineNumber) + ": expected 'field NAME OFFSET WIDTH TYPE'";
      return false;
    }
    bool known = false;
    for (const TypeName& t : kTypes) {
      if (type == t.name) {
        f.type = t.type;
        known = true;
        if (t.width != 0 && f.width != t.width) {
          error = "line " + std::to_string(lineNumber) + ": a " + type + " field is " +
                  std::to_string(t.width) + " bytes wide";
          return false;
        }
      }
    }
    if (!known || f.offset < 0 || f.width <= 0 || f.name == kOtherBytesColumn) {
      error = "line " + std::to_string(lineNumber) + ": bad field '" + f.name + "'";
      return false;
    }
    fields.push_back(f);
  }
  if (fields.empty()) {
    error = "the layout names no field";
    return false;
  }
  return true;
}

bool LayoutFitsRecord(const std::vector<Field>& fields, int recordLength, std::string& error) {
  std::vector<bool> used(recordLength, false);
  for (const Field& f : fields) {
    if (f.offset + f.width > recordLength) {
      error = "field " + f.name + " reaches past the record length " + std::to_string(recordLength);
      return false;
    }
    for (int i = f.offset; i < f.offset + f.width; ++i) {
      if (used[i]) {
        error = "field " + f.name + " overlaps another field";
        return false;
      }
      used[i] = true;
    }
  }
  return true;
}

std::string FieldToText(const Field& field, const uint8_t* record) {
  const uint8_t* p = record + field.offset;
  const int n = field.width;
  switch (field.type) {
    case FieldType::kText: {
      std::string text(reinterpret_cast<const char*>(p), n);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      return Cp850ToUtf8(text);
    }
    case FieldType::kPacked:
      return IsDigitPairs(p, n) ? Unpack(p, n) : "0x" + Hex(p, n);
    case FieldType::kDate: {
      if (!IsDigitPairs(p, n)) return "0x" + Hex(p, n);
      const std::string d = Unpack(p, n);
      if (d == "00000000") return "";
      // A stored day that no calendar has goes out as bytes, which import
      // takes back as they are.
      if (!IsCalendarDate(d)) return "0x" + Hex(p, n);
      return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2);
    }
    case FieldType::kInt16:
      return std::to_string(static_cast<int16_t>(p[0] | (p[1] << 8)));
    case FieldType::kInt32: {
      uint32_t v = 0;
      for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
      return std::to_string(static_cast<int32_t>(v));
    }
    case FieldType::kDouble: {
      double d = 0;
      std::memcpy(&d, p, 8);
      if (!std::isfinite(d)) return "0x" + Hex(p, n);
      char text[40];
      for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, d);
        if (std::strtod(text, nullptr) == d) break;
      }
      return text;
    }
    case FieldType::kHex:
      return Hex(p, n);
  }
  return {};
}

bool FieldFromText(const Field& field, const std::string& text, uint8_t* record,
                   std::string& error) {
  uint8_t* p = record + field.offset;
  const int n = field.width;
  auto fail = [&](const std::string& why) {
    error = "field " + field.name + ": " + why + " ('" + text + "')";
    return false;
  };
  switch (field.type) {
    case FieldType::kText: {
      // A quoted line break would be stored as a byte of the text.
      if (text.find_first_of("\r\n") != std::string::npos) return fail("a line break in a text field");
      const std::string cp = Utf8ToCp850(text, '\x01');
      if (cp.find('\x01') != std::string::npos && text.find('\x01') == std::string::npos) {
        return fail("a character code page 850 cannot hold");
      }
      if (static_cast<int>(cp.size()) > n)
        return fail("longer than " + std::to_string(n) + " characters");
      std::memset(p, ' ', n);
      std::memcpy(p, cp.data(), cp.size());
      return true;
    }
    case FieldType::kPacked:
      if (RawHexValue(text, p, n) || Pack(text, p, n)) return true;
      return fail("not " + std::to_string(2 * n) + " digits or fewer");
    case FieldType::kDate: {
      if (text.empty()) return Pack("0", p, n);
      if (RawHexValue(text, p, n)) return true;
      if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return fail("not a date YYYY-MM-DD");
      const std::string digits = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
      if (!IsCalendarDate(digits)) return fail("no such day");
      if (!Pack(digits, p, n)) return fail("not a date YYYY-MM-DD");
      return true;
    }
    case FieldType::kInt16:
    case FieldType::kInt32: {
      long long v = 0;
      const long long limit = field.type == FieldType::kInt16 ? 32767 : 2147483647LL;
      if (!ParseInteger(text, -limit - 1, limit, v)) return fail("not an integer in range");
      for (int i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>((static_cast<unsigned long long>(v) >> (8 * i)) & 0xFF);
      return true;
    }
    case FieldType::kDouble: {
      if (RawHexValue(text, p, n)) return true;
      char* end = nullptr;
      const double d = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0') return fail("not a number");
      std::memcpy(p, &d, 8);
      return true;
    }
    case FieldType::kHex: {
      std::string bytes;
      if (!FromHex(text, bytes) || static_cast<int>(bytes.size()) != n) {
        return fail("not " + std::to_string(n) + " bytes in hex");
      }
      std::memcpy(p, bytes.data(), n);
      return true;
    }
  }
  return fail("unknown type");
}

std::string OtherBytesToHex(const std::vector<Field>& fields, const uint8_t* record, int length) {
  std::vector<bool> used(length, false);
  for (const Field& f : fields) {
    for (int i = f.offset; i < f.offset + f.width && i < length; ++i) used[i] = true;
  }
  std::string out;
  for (int i = 0; i < length; ++i) {
    if (!used[i]) out += Hex(record + i, 1);
  }
  return out;
}

bool OtherBytesFromHex(const std::vector<Field>& fields, const std::string& hex, uint8_t* record,
                       int length, std::string& error) {
  std::vector<bool> used(length, false);
  for (const Field& f : fields) {
    for (int i = f.offset; i < f.offset + f.width && i < length; ++i) used[i] = true;
  }
  std::string bytes;
  int free = 0;
  for (bool u : used) free += !u;
  if (!FromHex(hex, bytes) || static_cast<int>(bytes.size()) != free) {
    error = std::string(kOtherBytesColumn) + ": not " + std::to_string(free) + " bytes in hex";
    return false;
  }
  std::size_t at = 0;
  for (int i = 0; i < length; ++i) {
    if (!used[i]) record[i] = static_cast<uint8_t>(bytes[at++]);
  }
  return true;
}

}  // namespace kestrova

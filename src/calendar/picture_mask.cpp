#include "calendar/picture_mask.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "calendar/numeric.h"
#include "platform/host.h"
#include "session/session.h"

namespace kestrova {
namespace {

// Widths and decimals of a format text stop growing here: no real
// format text comes near it, and a typed "99999999999" must not ask for
// gigabytes.
constexpr int kMaxFormatNumber = 1000;

// An entry's length is kept in 2 bytes.
constexpr std::size_t kMaxSavedEntry = 65535;

// The first character of a one-character setting as stored: a missing or
// empty value stores a blank.
char FirstOrBlank(const std::string& value) {
  return value.empty() || value.front() == '\0' ? ' ' : value.front();
}

void LoadSeparators() {
  SeparatorSettings& s = Separators();
  if (s.DecimalChar != 0 && s.ThousandsChar != 0) return;
  const std::string file = SuiteIniPath();
  // 1. The decimal character; a blank setting means the apostrophe the
  //    suite has always printed.
  if (s.DecimalChar == 0) {
    s.DecimalChar = FirstOrBlank(ReadIniValue(file, "Usuari", "DecCaracter"));
    if (s.DecimalChar == ' ') s.DecimalChar = '\'';
  }
  // 2. The thousands character; blank means ".".
  if (s.ThousandsChar == 0) {
    s.ThousandsChar = FirstOrBlank(ReadIniValue(file, "Usuari", "MilCaracter"));
    if (s.ThousandsChar == ' ') s.ThousandsChar = '.';
  }
}

// The decimal digits of a non-negative whole number held in a double, most
// significant first, without leading zeros; empty for 0.  Exact for every
// finite double (up to 309 digits).
std::string WholeDigits(double whole) {
  if (whole <= 0) return {};
  // Every amount and index the job prints fits 64 bits: written as an
  // integer, without a trip through the C library's formatter.
  if (whole < 1e19 && whole == std::floor(whole)) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(whole)).ptr;
    return std::string(digits, end);
  }
  char buffer[400];
  const int size = std::snprintf(buffer, sizeof buffer, "%.0f", whole);
  if (size <= 0 || static_cast<std::size_t>(size) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<std::size_t>(size));
}

// The digits of magnitude x 10^decimals rounded to a whole number, halves to
// even.  When the scaled value would not fit a double (hundreds of decimals
// asked of a large value) the digits come from the exact decimal expansion
// instead, so the answer is still right rather than infinite.
std::string ScaledDigits(double magnitude, int decimals) {
  if (magnitude == 0) return {};
  const double scaled = magnitude * std::pow(10.0, decimals);
  if (std::isfinite(scaled)) return WholeDigits(RoundHalfEven(scaled));
  std::string buffer(static_cast<std::size_t>(decimals) + 400, '\0');
  const int size = std::snprintf(buffer.data(), buffer.size(), "%.*f", decimals, magnitude);
  if (size <= 0 || static_cast<std::size_t>(size) >= buffer.size()) return {};
  buffer.resize(static_cast<std::size_t>(size));
  buffer.erase(std::remove(buffer.begin(), buffer.end(), '.'), buffer.end());
  const std::size_t first = buffer.find_first_not_of('0');
  return first == std::string::npos ? std::string() : buffer.substr(first);
}

bool InSet(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

// The value written without the mask: sign, integer digits, decimal
// character and decimals, right-aligned in n positions and cut on the right
// when longer; "!" everywhere when the integer digits (and sign) alone do not
// fit.
std::string PlainForm(const std::string& digits, std::ptrdiff_t d, bool negative, std::size_t n) {
  std::string padded = digits;
  if (static_cast<std::ptrdiff_t>(padded.size()) < d) {
    padded.insert(0, static_cast<std::size_t>(d) - padded.size(), '0');
  }
  const std::size_t intCount = padded.size() - static_cast<std::size_t>(d);
  if (n < intCount + (negative ? 1 : 0)) return std::string(n, '!');
  std::string plain = negative ? "-" : "";
  plain.append(padded, 0, intCount);
  if (d > 0) {
    plain.push_back(Separators().DecimalChar);
    plain.append(padded, intCount, std::string::npos);
  }
  if (plain.size() > n) return plain.substr(0, n);
  return std::string(n - plain.size(), ' ') + plain;
}

enum class Fill { kNone, kBlank, kAsterisk };

char FillChar(Fill fill) { return fill == Fill::kAsterisk ? '*' : ' '; }

}  // namespace

SeparatorSettings& Separators() {
  static SeparatorSettings settings;
  return settings;
}

void ResetSeparatorsForTesting() { Separators() = SeparatorSettings{}; }

std::string FormatWithMask(std::string_view mask, double value) {
  LoadSeparators();
  const char decimalChar = Separators().DecimalChar;
  const char thousandsChar = Separators().ThousandsChar;
  const auto n = static_cast<std::ptrdiff_t>(mask.size());
  if (!std::isfinite(value)) return std::string(mask.size(), '!');
  auto at = [&](std::ptrdiff_t i) { return mask[static_cast<std::size_t>(i - 1)]; };

  // 1. Does the mask place the sign itself?
  const bool hasSign = mask.find_first_of("-+") != std::string_view::npos;

  // 2. Positions after the point that take a digit or a sign.
  const std::size_t point = mask.find('.');
  std::ptrdiff_t decSlots = 0;
  if (point != std::string_view::npos) {
    for (char c : mask.substr(point + 1)) decSlots += InSet(c, "9Zz*-+") ? 1 : 0;
  }

  // 3. Decimal digits: the digit positions right after the point.
  std::ptrdiff_t d = 0;
  if (decSlots > 0) {
    for (char c : mask.substr(point + 1)) {
      if (!InSet(c, "9Zz*")) break;
      ++d;
    }
  }

  // 4-5. Scaled, rounded (halves to even) and written as digits.
  const std::string digits = ScaledDigits(std::fabs(value), static_cast<int>(d));
  const auto len = static_cast<std::ptrdiff_t>(digits.size());

  // 6. The sign of the value as given, before rounding.
  bool negative = value < 0;
  const bool negativeValue = negative;

  // 7. The digit the rightmost digit slot receives (1-based).
  std::ptrdiff_t k = len + (decSlots - d);
  auto hasDigit = [&] { return k >= 1 && k <= len; };
  auto digit = [&] { return digits[static_cast<std::size_t>(k - 1)]; };
  auto restIsPositive = [&] {
    if (k < 1 || k > len) return false;
    return digits.find_first_not_of('0', static_cast<std::size_t>(k - 1)) != std::string::npos;
  };

  // 8. Main pass: digits from the right for as long as there are any.
  std::string out(mask);
  Fill fill = Fill::kNone;
  bool exhausted = false;
  std::ptrdiff_t i = n;
  for (; i >= 1 && k >= 1; --i) {
    char& o = out[static_cast<std::size_t>(i - 1)];
    switch (at(i)) {
      case '9':
        o = hasDigit() ? digit() : '0';
        fill = Fill::kNone;
        exhausted = false;
        --k;
        break;
      case 'Z':
      case 'z':
        if (i > n - decSlots) {
          o = hasDigit() ? digit() : ' ';
          exhausted = !hasDigit();
        } else if (restIsPositive() || decSlots == 0) {
          o = hasDigit() ? digit() : '0';
          exhausted = !hasDigit();
        } else {
          o = ' ';
          exhausted = true;
        }
        fill = Fill::kBlank;
        --k;
        break;
      case '*':
        o = hasDigit() ? digit() : '*';
        fill = Fill::kAsterisk;
        exhausted = !hasDigit();
        --k;
        break;
      case '.':
        o = exhausted ? FillChar(fill) : decimalChar;
        decSlots = 0;  // from here on every position is an integer position
        break;
      case ',': o = thousandsChar; break;
      case '-':
        o = negative ? '-' : ' ';
        if (decSlots > 0) --k;
        break;
      case '+':
        o = negative ? '-' : '+';
        if (decSlots > 0) --k;
        break;
      default: break;  // literals stay as they are
    }
  }

  // 9. Overflow: digits left over, or a negative value with nowhere for
  //    its sign.
  if (k >= 1 || (!hasSign && negative && i < 1)) {
    return PlainForm(digits, d, negativeValue, mask.size());
  }

  // 10. Fill pass over the positions left of the digits.  The floating "-"
  //     goes in the first free integer position; a decimal position never
  //     takes it (it would read as "'-5" for -0.05).
  for (; i >= 1; --i) {
    char& o = out[static_cast<std::size_t>(i - 1)];
    const bool integerPosition = i < n - decSlots;
    const bool signDue = negative && !hasSign && integerPosition;
    switch (at(i)) {
      case '9':
        if (signDue) {
          o = '-';
          negative = false;
        } else {
          o = '0';
        }
        fill = Fill::kNone;
        exhausted = false;
        break;
      case 'Z':
      case 'z':
        if (signDue) {
          o = '-';
          negative = false;
        } else if (integerPosition) {
          o = ' ';
          fill = Fill::kBlank;
          exhausted = true;
        } else {
          o = value != 0 ? '0' : ' ';
          fill = Fill::kBlank;
          exhausted = value == 0;
        }
        break;
      case '*':
        if (signDue) {
          o = '-';
          negative = false;
        } else {
          o = integerPosition ? '*' : '0';
        }
        fill = Fill::kAsterisk;
        break;
      case ',':
        if (signDue) {
          o = '-';
          negative = false;
        } else {
          o = fill != Fill::kNone ? FillChar(fill) : thousandsChar;
        }
        break;
      case '.': o = exhausted ? FillChar(fill) : decimalChar; break;
      case '-': o = negative ? '-' : ' '; break;
      case '+': o = negative ? '-' : '+'; break;
      default: break;
    }
  }

  // A negative value must never print as a positive one: when no position
  // took the floating sign, the plain form shows it.
  if (!hasSign && negative) return PlainForm(digits, d, negativeValue, mask.size());
  return out;
}

std::string FormatWithSpec(double value, std::string_view format) {
  auto has = [&](char upper) {
    return format.find(upper) != std::string_view::npos ||
           format.find(static_cast<char>(upper + 32)) != std::string_view::npos;
  };

  // 1. Width before the ".", decimals after it.
  int width = 0;
  int decimals = 0;
  bool point = false;
  for (char c : format) {
    if (c == '.') {
      point = true;
    } else if (c >= '0' && c <= '9') {
      int& target = point ? decimals : width;
      target = std::min(target * 10 + (c - '0'), kMaxFormatNumber);
    }
  }
  if (!std::isfinite(value)) return std::string(width > 0 ? static_cast<std::size_t>(width) : 1, '!');

  // 2-3. The digits: the asked decimals, rounded, or all that the value
  //      carries (its shortest exact decimal form).
  std::string digits;
  std::size_t d = 0;
  if (width > 0 || point) {
    digits = ScaledDigits(std::fabs(value), decimals);
    d = static_cast<std::size_t>(decimals);
  } else {
    char buffer[512];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
    const std::string_view text(buffer, result.ec == std::errc() ? result.ptr - buffer : 0);
    const std::size_t dot = text.find('.');
    if (dot != std::string_view::npos) d = text.size() - dot - 1;
    for (char c : text) {
      if (c != '.' && !(digits.empty() && c == '0')) digits.push_back(c);
    }
  }
  if (digits.size() < d) digits.insert(0, d - digits.size(), '0');
  const std::string frac = digits.substr(digits.size() - d);
  std::string whole = digits.substr(0, digits.size() - d);

  // 4. The point (always a full stop here), unless it is implied.
  std::string tail = frac;
  if (!has('V') && !frac.empty()) tail.insert(0, ".");

  // 5. A zero integer part written out.
  if (has('Z') && whole.empty()) whole = "0";

  // 6. Zero-padded to the width, cut on the left.
  if (width > 0) {
    whole = std::string(static_cast<std::size_t>(width), '0') + whole;
    whole = whole.substr(whole.size() - static_cast<std::size_t>(width));
  }

  // 7. The sign: the first rule that applies.
  char sign = 0;
  if (has('S') && value >= 0) {
    sign = '+';
  } else if (has('N') && value < 0) {
    sign = 'N';
  } else if (has('M')) {
    sign = value < 0 ? 'N' : ' ';
  } else if (value < 0) {
    sign = '-';
  }
  if (sign != 0) {
    if (width > 0) {
      whole.front() = sign;
    } else {
      whole.insert(whole.begin(), sign);
    }
  }

  // 8.
  return whole + tail;
}

std::string NumberToPlainText(double value) { return FormatWithSpec(value, ""); }

std::string& SavedStack() {
  static std::string stack;
  return stack;
}

void ResetSavedStackForTesting() { SavedStack().clear(); }

void PushSaved(std::string_view text) {
  std::string& stack = SavedStack();
  const std::size_t length = std::min(text.size(), kMaxSavedEntry);
  stack.append(text.substr(0, length));
  stack.push_back(static_cast<char>(length & 0xFF));
  stack.push_back(static_cast<char>(length >> 8));
}

std::string PopSaved() {
  std::string& stack = SavedStack();
  if (stack.size() < 2) {
    stack.clear();
    return {};
  }
  std::size_t length = static_cast<uint8_t>(stack[stack.size() - 2]) |
                       static_cast<std::size_t>(static_cast<uint8_t>(stack.back())) << 8;
  stack.resize(stack.size() - 2);
  length = std::min(length, stack.size());
  std::string text = stack.substr(stack.size() - length);
  stack.resize(stack.size() - length);
  return text;
}

std::string CopyMemoryText(const void* address, int16_t count) {
  if (address == nullptr || count <= 0) return {};
  return std::string(static_cast<const char*>(address), static_cast<std::size_t>(count));
}

}  // namespace kestrova

#include "calendar/numeric.h"

#include "platform/blanks.h"

#include <cmath>

#include "calendar/picture_mask.h"
#include "session/session.h"

namespace kestrova {
namespace {

int DigitValue(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

char UpperLetter(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool IsBlank(std::string_view text) { return TrimBlanks(text).empty(); }

// The last n characters of a text (all of it when shorter).
std::string LastChars(const std::string& text, std::size_t n) {
  return text.size() <= n ? text : text.substr(text.size() - n);
}

// The last `width` digits of a dotted code's group value, zero-padded: what
// ZeroPad gives for the group's numeric value (leading blanks, a sign, the
// digits up to the first other character), taken from the digits
// themselves so that a group of any length is exact.  An 11-digit code typed
// whole does not fit 32 bits.
std::string GroupDigits(std::string_view group, int width) {
  group = TrimLeadingBlanks(group);
  if (!group.empty() && (group.front() == '-' || group.front() == '+')) group.remove_prefix(1);
  std::string digits;
  for (char c : group) {
    if (c < '0' || c > '9') break;
    digits.push_back(c);
  }
  const auto n = static_cast<std::size_t>(width);
  if (digits.size() < n) digits.insert(0, n - digits.size(), '0');
  return LastChars(digits, n);
}

}  // namespace

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double magnitude = std::fabs(value);
  double whole = std::trunc(magnitude);
  const double fraction = magnitude - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return value < 0 ? -whole : whole;
}

std::string PackDigits(std::string_view text) {
  const std::size_t n = text.size();
  std::string_view trimmed = TrimBlanks(text);
  if (trimmed.size() > n) trimmed = trimmed.substr(trimmed.size() - n);
  std::string digits(n - trimmed.size(), '0');
  digits.append(trimmed);
  std::string packed((n + 1) / 2, '\0');
  for (std::size_t i = 0; i < packed.size(); ++i) {
    const int high = DigitValue(digits[2 * i]);
    const int low = 2 * i + 1 < n ? DigitValue(digits[2 * i + 1]) : 0;
    packed[i] = static_cast<char>((10 * high + low) | 128);
  }
  return packed;
}

std::string UnpackDigits(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char b : bytes) {
    const int value = static_cast<uint8_t>(b) & 127;
    text.push_back(static_cast<char>('0' + (value / 10) % 10));
    text.push_back(static_cast<char>('0' + value % 10));
  }
  return text;
}

std::string ZeroPad(int64_t value, int n) {
  if (n <= 0) return {};
  // The magnitude in unsigned arithmetic, so the most negative value has one.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string text(static_cast<std::size_t>(n), '0');
  for (int i = n - 1; i >= 0 && magnitude > 0; --i) {
    text[static_cast<std::size_t>(i)] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  return text;
}

std::string PackDottedCode(std::string_view text) {
  // 1. Six-digit first groups are the codes typed whole ("123456") or the
  //    long form with one dot ("123456.0001").
  std::size_t dots = 0;
  for (char c : text) dots += c == '.' ? 1 : 0;
  const bool wideFirst = (text.size() == 6 && dots == 0) || (text.size() == 11 && dots < 2);
  int width = wideFirst ? 6 : 4;

  // 2. Each group as a zero-padded number, until only blanks remain.
  std::string digits;
  std::size_t pos = 0;
  while (pos < text.size() && !IsBlank(text.substr(pos))) {
    std::size_t end = text.find('.', pos);
    if (end == std::string_view::npos) end = text.size();
    digits += GroupDigits(text.substr(pos, end - pos), width);
    width = 4;
    pos = end + 1;
  }

  // 3. Packed like any digit text.
  return PackDigits(digits);
}

std::string NameForDisplay(std::string_view name) {
  const std::size_t star = name.find('*');
  if (star == std::string_view::npos || star == 0) return std::string(TrimBlanks(name));
  std::string shown(TrimBlanks(name.substr(star + 1)));
  const std::string_view surnames = TrimBlanks(name.substr(0, star));
  // A particle stored as "d'" joins the surname without a blank.
  std::string_view whole = name;
  while (!whole.empty() && whole.back() == ' ') whole.remove_suffix(1);
  if (whole.empty() || whole.back() != '\'') shown += ' ';
  shown.append(surnames);
  return shown;
}

CurrencyState& Currency() {
  static CurrencyState state;
  return state;
}

void ResetCurrencyForTesting() { Currency() = CurrencyState{}; }

void SetCurrency(std::string_view option) {
  CurrencyState& c = Currency();
  const char first = option.empty() ? ' ' : UpperLetter(option.front());
  const std::size_t comma = option.find(',');
  if (comma != std::string_view::npos) {
    const std::string_view after = TrimBlanks(option.substr(comma + 1));
    if (first == 'A') {
      c.main = after.empty() ? 'E' : UpperLetter(after.front());
      c.current = c.main;
    } else {
      c.alternative = after.empty() ? c.main : UpperLetter(after.front());
    }
    return;
  }
  if (first == 'P') {
    c.current = c.alternative != 0 ? c.alternative : c.main;
  } else {
    c.current = c.main;
  }
}

std::string AmountToText(std::string_view picture, double amount) {
  const std::size_t n = picture.size();

  // 1. What the picture asks for.
  enum class Sign { kNone, kLeadingMinus, kTrailingMinus, kLeadingPlus, kTrailingPlus };
  bool asteriskFill = false;
  bool thousands = false;
  Sign sign = Sign::kNone;
  int decimals = 0;
  bool showZero = amount != 0;
  for (std::size_t i = 0; i < n; ++i) {
    switch (picture[i]) {
      case '.': ++decimals; break;
      case '-': sign = i == 0 ? Sign::kLeadingMinus : Sign::kTrailingMinus; break;
      case '+': sign = i == 0 ? Sign::kLeadingPlus : Sign::kTrailingPlus; break;
      case ',': thousands = true; break;
      case 'Z': asteriskFill = false; break;
      case '*': asteriskFill = true; break;
      case '9':
        if (decimals > 0) {
          ++decimals;
        } else {
          showZero = true;
        }
        break;
      default: break;
    }
  }

  // 2. A mask of fill positions; the last one shows a 0 when zero is shown.
  std::string mask(n, asteriskFill ? '*' : 'Z');
  if (showZero && n > 0) mask.back() = '9';

  // 3. Thousands separators every three digits from the right.
  if (thousands) {
    for (std::ptrdiff_t p = static_cast<std::ptrdiff_t>(n) - 3; p >= 1; p -= 4) {
      const auto at = static_cast<std::size_t>(p);
      mask = LastChars(mask.substr(0, at) + "," + mask.substr(at), n);
    }
  }

  // 4. Pesetas keep the picture's decimals; the main currency shows cents.
  double value = 0;
  if (Currency().current == 'P') {
    value = amount / 100 * static_cast<double>(kPesetaRate);
  } else {
    value = amount / 100;
    decimals += decimals == 0 ? 3 : 2;
  }

  // 5. The decimal positions.
  if (decimals > 0) {
    mask = LastChars(mask + "." + std::string(static_cast<std::size_t>(decimals - 1),
                                              showZero ? '9' : 'Z'),
                     n);
  }

  // 6. The sign position.
  switch (sign) {
    case Sign::kTrailingMinus: mask = LastChars(mask + "-", n); break;
    case Sign::kTrailingPlus: mask = LastChars(mask + "+", n); break;
    case Sign::kLeadingMinus:
      if (!mask.empty()) mask.front() = '-';
      break;
    case Sign::kLeadingPlus:
      if (!mask.empty()) mask.front() = '+';
      break;
    case Sign::kNone: break;
  }

  // 7. Laid out by the mask formatter.
  return FormatWithMask(LastChars(mask, n), value);
}

}  // namespace kestrova

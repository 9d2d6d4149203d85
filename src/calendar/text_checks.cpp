#include "calendar/text_checks.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/clock.h"
#include "platform/codepage.h"

namespace kestrova {
namespace {

constexpr int kFirst = kFoldFirstCode;

constexpr unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

constexpr FoldTable BuildUpperCaseTable() {
  FoldTable table{};
  for (int code = kFoldFirstCode; code <= kFoldLastCode; ++code) {
    table[static_cast<std::size_t>(code - kFirst)] = static_cast<unsigned char>(code);
  }
  for (int code = 'a'; code <= 'z'; ++code) {
    table[static_cast<std::size_t>(code - kFirst)] = static_cast<unsigned char>(code - 32);
  }
  // The accented letters that have a capital in the code page; ÿ, ø, ı, þ,
  // ß, µ, ª and º are left alone.
  constexpr std::string_view lower = "üéâäàåçêëèïîìæôöòûùáíóúñãðõý"_cp;
  constexpr std::string_view upper = "ÜÉÂÄÀÅÇÊËÈÏÎÌÆÔÖÒÛÙÁÍÓÚÑÃÐÕÝ"_cp;
  static_assert(lower.size() == upper.size());
  for (std::size_t i = 0; i < lower.size(); ++i) {
    table[Byte(lower[i]) - kFirst] = Byte(upper[i]);
  }
  return table;
}

constexpr FoldTable BuildAccentFoldingTable() {
  FoldTable table{};
  // Everything that is not a letter folds to a blank: punctuation from "@"
  // on, the currency, fraction, quotation, line and block characters.
  for (auto& entry : table) entry = ' ';
  for (int code = 'A'; code <= 'Z'; ++code) {
    table[static_cast<std::size_t>(code - kFirst)] = static_cast<unsigned char>(code);
    table[static_cast<std::size_t>(code + 32 - kFirst)] = static_cast<unsigned char>(code);
  }
  struct Group {
    std::string_view letters;
    char base;
  };
  constexpr Group groups[] = {
      {"áàâäãåÁÀÂÄÃÅæÆª"_cp, 'A'}, {"çÇ"_cp, 'C'},       {"ðÐ"_cp, 'D'},
      {"éèêëÉÈÊË"_cp, 'E'},       {"íìîïÍÌÎÏ"_cp, 'I'}, {"ñÑ"_cp, 'N'},
      {"óòôöõøÓÒÔÖÕØº"_cp, 'O'},  {"ß"_cp, 'S'},        {"þÞ"_cp, 'T'},
      {"úùûüÚÙÛÜ"_cp, 'U'},       {"ÿýÝ"_cp, 'Y'},
      // Code 213, the dotless i of the code page, is where the suite's
      // installations keep the euro sign: searches read it as E.
      {"ı"_cp, 'E'},
  };
  for (const Group& group : groups) {
    for (char c : group.letters) table[Byte(c) - kFirst] = Byte(group.base);
  }
  return table;
}

constexpr FoldTable kUpperCase = BuildUpperCaseTable();
constexpr FoldTable kAccentFolding = BuildAccentFoldingTable();

// A part of a typed date as a number: its digits, blanks skipped.  False
// when it does not fit a 16-bit count.
bool PartValue(std::string_view text, int16_t& value) {
  int32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') continue;
    v = v * 10 + (c - '0');
    if (v > INT16_MAX) return false;
  }
  value = static_cast<int16_t>(v);
  return true;
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

}  // namespace

const FoldTable& UpperCaseTable() { return kUpperCase; }
const FoldTable& AccentFoldingTable() { return kAccentFolding; }

int16_t& FoldAccents() {
  static int16_t fold = 0;
  return fold;
}

DateParseResults& ParsedDate() {
  static DateParseResults results;
  return results;
}

void ResetTextChecksForTesting() {
  FoldAccents() = 0;
  ParsedDate() = DateParseResults{};
}

std::string FoldText(std::string_view text) {
  const FoldTable& table = FoldAccents() == -1 ? kAccentFolding : kUpperCase;
  std::string folded(text);
  for (char& c : folded) {
    const int code = Byte(c);
    if (code >= kFoldFirstCode && code <= kFoldLastCode) {
      c = static_cast<char>(table[static_cast<std::size_t>(code - kFirst)]);
    }
  }
  return folded;
}

int16_t ParseDateText(std::string_view text) {
  DateParseResults& results = ParsedDate();
  results = DateParseResults{};

  // 1. Blanks and digits build the parts; separators close them.
  std::string parts[3];
  int separators = 0;
  for (char c : text) {
    if (c == ' ' || (c >= '0' && c <= '9')) {
      parts[separators].push_back(c);
    } else if (c == '.' || c == '/' || c == '-') {
      if (++separators == 3) return -1;
    } else {
      return -1;
    }
  }

  // 2. Digits only: fixed places.  Otherwise day, month and year parts.
  std::string_view dayText, monthText, yearText;
  if (separators == 0) {
    const std::string_view all = parts[0];
    dayText = all.substr(0, 2);
    monthText = all.substr(std::min<std::size_t>(2, all.size()), 2);
    yearText = all.substr(std::min<std::size_t>(4, all.size()));
  } else if (separators == 2) {
    dayText = parts[0];
    monthText = parts[1];
    yearText = parts[2];
  } else {
    return -1;
  }
  const bool fullYear =
      std::count_if(yearText.begin(), yearText.end(), [](char c) { return c != ' '; }) > 3;

  // 3. Each part must be a number that fits.
  int16_t day = 0, month = 0, year16 = 0;
  if (!PartValue(dayText, day) || !PartValue(monthText, month) || !PartValue(yearText, year16)) {
    return -1;
  }
  int year = year16;

  // 4. A short year gets the century that keeps it within 50 years of now.
  if (year < 100 && !fullYear) {
    const int current = LocalNow().year;
    year += 100 * (current / 100);
    if (std::abs(year - current) > 50) year -= year > current ? 100 : -100;
  }
  results.ParsedDay = day;
  results.ParsedMonth = month;
  results.ParsedYear = static_cast<int16_t>(std::clamp(year, 0, static_cast<int>(INT16_MAX)));

  // 5. The ten days dropped by the calendar reform never existed.
  const int64_t number = int64_t{year} * 10000 + month * 100 + day;
  if (number > 15821004 && number < 15821015) return -1;

  // 6. Days of the month (kept even when the day does not fit it).
  const int leap = IsLeapYear(year) ? 1 : 0;
  int monthDays = 30 + ((1 + ((month + 1) % 9)) % 2);
  if (month == 2) monthDays -= 2 - leap;
  results.ParsedMonthDays = static_cast<int16_t>(monthDays);

  // 7.
  if (day < 1 || day > monthDays || month < 1 || month > 12) return -1;
  return 0;
}

int16_t CheckNumberText(std::string_view text, std::string_view allowed) {
  // 1.
  bool pointAllowed = allowed.find('.') != std::string_view::npos;
  bool signAllowed = allowed.find_first_of("-+") != std::string_view::npos;

  // 2. A sign only before everything else, one point, blanks anywhere.
  bool error = false;
  for (char c : text) {
    if (c == '+' || c == '-') {
      if (!signAllowed) error = true;
      signAllowed = false;
    } else if (c == '.') {
      if (!pointAllowed) error = true;
      pointAllowed = false;
      signAllowed = false;
    } else if (c >= '0' && c <= '9') {
      signAllowed = false;
    } else if (c != ' ') {
      error = true;
    }
  }

  // 3.
  return error ? -1 : 0;
}

int16_t CheckNumberRange(std::string_view text, double minimum, double maximum,
                         int16_t decimals) {
  // 1. Bounds that cannot hold any number.  NaN compares false with
  //    everything, so it is refused here rather than accepting every text.
  if (std::isnan(minimum) || std::isnan(maximum)) return -1;
  if (maximum < minimum || decimals < 0 || decimals > 16) return -1;

  // 2. The form: a point only with decimals, a sign only below zero.
  std::string allowed;
  if (decimals > 0) allowed += '.';
  if (minimum < 0) allowed += '-';
  if (CheckNumberText(text, allowed) != 0) return -1;

  // 3. The value in units of the last decimal, against the scaled bounds.
  std::string plain;
  for (char c : text) {
    if (c != ' ' && c != '+') plain.push_back(c);
  }
  double value = 0;
  if (plain.find_first_of("0123456789") != std::string::npos) {
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (result.ec != std::errc() || result.ptr != plain.data() + plain.size()) return -1;
  }
  const double scale = std::pow(10.0, decimals);
  const double v = std::floor(value * scale + 0.5);
  if (v < std::floor(minimum * scale) || v > std::floor(maximum * scale + 0.5)) return -1;
  return 0;
}

}  // namespace kestrova

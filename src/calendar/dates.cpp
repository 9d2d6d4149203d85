#include "calendar/dates.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "calendar/numeric.h"
#include "platform/clock.h"

namespace kestrova {
namespace {

// The Julian rules give way to the Gregorian ones here (date number) for
// adding to dates and for weekdays; day counts switch on the year 1582.
constexpr int64_t kReformDate = 15821005;
constexpr int64_t kReformYear = 1582;

// Larger parts are meaningless for a date and would only risk overflow.
constexpr int64_t kPartLimit = 1000000000;

struct DateParts {
  int64_t year = 0;
  int64_t month = 0;
  int64_t day = 0;
};

// The number written by the digits of a text, blanks skipped, saturating at
// kPartLimit.
int64_t DigitsValue(std::string_view text) {
  int64_t value = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') value = std::min(value * 10 + (c - '0'), kPartLimit);
  }
  return value;
}

// The last byte is the day, the one before it the month, the rest the year.
DateParts SplitDate(std::string_view packedDate) {
  std::string digits = UnpackDigits(packedDate);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  const std::size_t n = digits.size();
  return {DigitsValue(std::string_view(digits).substr(0, n - 4)),
          DigitsValue(std::string_view(digits).substr(n - 4, 2)),
          DigitsValue(std::string_view(digits).substr(n - 2))};
}

int64_t DateNumber(const DateParts& p) { return p.year * 10000 + p.month * 100 + p.day; }

std::string PackParts(int64_t year, int64_t month, int64_t day) {
  return PackDigits(ZeroPad(year, 4) + ZeroPad(month, 2) + ZeroPad(day, 2));
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t FloorMod(int64_t a, int64_t b) { return a - b * FloorDiv(a, b); }

bool IsLeap(int64_t year, bool julian) {
  if (julian) return FloorMod(year, 4) == 0;
  return FloorMod(year, 4) == 0 && (FloorMod(year, 100) != 0 || FloorMod(year, 400) == 0);
}

// Units are single letters compared without regard to case.
char UnitLetter(std::string_view unit) {
  if (unit.size() != 1) return 0;
  const char c = unit.front();
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

}  // namespace

std::string EmptyDate() { return PackDigits("00000000"); }
std::string LargestDate() { return PackDigits("99991231"); }

int DaysInMonth(int64_t month, int64_t year, bool julian) {
  if (month == 2) return IsLeap(year, julian) ? 29 : 28;
  return static_cast<int>(30 + FloorMod(1 + FloorMod(month + 1, 9), 2));
}

std::string DateDigits(std::string_view packedDate) {
  if (packedDate.size() < 2) return {};
  const std::string digits = UnpackDigits(packedDate);
  const std::string day = digits.substr(digits.size() - 2);
  const std::string month = digits.substr(digits.size() - 4, 2);
  const std::string yearText = digits.substr(0, digits.size() - 4);
  if (day == "00" && month == "00") return {};
  // A year of many bytes saturates instead of overflowing; it is outside the
  // window anyway and shows its last 4 digits.
  const int64_t year = DigitsValue(yearText);
  const int currentYear = LocalNow().year;
  if (year >= currentYear - 50 && year <= currentYear + 49) {
    return day + month + ZeroPad(year, 2);
  }
  std::string fourDigits = yearText;
  while (fourDigits.size() < 4) fourDigits.insert(0, "0");
  return day + month + fourDigits.substr(fourDigits.size() - 4);
}

std::string AddToDate(std::string_view packedDate, int32_t n, std::string_view unit) {
  // 1. Nothing to add: the date as given, valid or not.
  if (n == 0) return std::string(packedDate);

  // 2.
  const DateParts input = SplitDate(packedDate);
  int64_t year = input.year;
  int64_t month = input.month;
  int64_t day = input.day;
  const char u = UnitLetter(unit);

  // 3. Move the named part; floor division lets negative month counts
  //    borrow years.
  if (u == 'D') {
    day += n;
  } else if (u == 'M') {
    month += n;
    const int64_t years = FloorDiv(month - 1, 12);
    year += years;
    month -= 12 * years;
  } else if (u == 'A') {
    year += n;
  }

  // 4. The calendar of the starting date rules the whole operation.
  const bool julian = DateNumber(input) < kReformDate;

  // 5. Forward: carry surplus days into the next months; months and years
  //    end on the last day of a shorter month.  Past 9999 there is nothing
  //    left to count.
  if (n > 0) {
    while (year <= 9999) {
      const int last = DaysInMonth(month, year, julian);
      if (day > last && u == 'D') {
        if (month >= 12) {
          month = 1;
          ++year;
        } else {
          ++month;
        }
        day -= last;
        continue;
      }
      if (day > last) day = last;
      break;
    }
  }

  // 6. Backward: borrow whole months until the day is positive.
  if (n < 0) {
    // Whole 400-year cycles (4 years in the Julian calendar) hold a fixed
    // number of days, so a huge count is taken by cycles first instead of
    // month by month.
    const int64_t cycleDays = julian ? 1461 : 146097;
    if (day <= -cycleDays) {
      const int64_t cycles = -day / cycleDays;
      year -= cycles * (julian ? 4 : 400);
      day += cycles * cycleDays;
    }
    while (day <= 0 && year >= 0) {
      if (month <= 1) {
        month = 12;
        --year;
      } else {
        --month;
      }
      day += DaysInMonth(month, year, julian);
    }
    if ((u == 'M' || u == 'A') && day > DaysInMonth(month, year, julian)) {
      day = DaysInMonth(month, year, julian);
    }
  }

  // 7.
  if (year > 9999) return LargestDate();
  if (year < 0) return EmptyDate();
  return PackParts(year, month, day);
}

int32_t DateDifference(std::string_view date1, std::string_view date2, std::string_view unit) {
  // The earlier date is the smaller byte string.
  if (date2 < date1) std::swap(date1, date2);
  const DateParts a = SplitDate(date1);
  const DateParts b = SplitDate(date2);
  int64_t result = 0;
  switch (UnitLetter(unit)) {
    case 'D': {
      auto monthDays = [](int64_t m, int64_t y) { return DaysInMonth(m, y, y < kReformYear); };
      for (int64_t y = a.year + 1; y < b.year && result < INT32_MAX; ++y) {
        result += IsLeap(y, y < kReformYear) ? 366 : 365;
      }
      if (a.year < b.year) {
        for (int64_t m = a.month; m <= 12; ++m) result += monthDays(m, a.year);
        for (int64_t m = 1; m < b.month && m <= 12; ++m) result += monthDays(m, b.year);
      } else {
        for (int64_t m = a.month; m < b.month && m <= 12; ++m) result += monthDays(m, a.year);
      }
      result += b.day - a.day;
      break;
    }
    case 'M':
      result = 12 * (b.year - a.year) + b.month - a.month;
      break;
    case 'A':
      result = b.year - a.year;
      if (a.month > b.month || (a.month == b.month && a.day > b.day)) --result;
      break;
    default:
      return 0;
  }
  // Dates with impossible days or months could make a difference negative.
  return static_cast<int32_t>(std::clamp<int64_t>(result, 0, INT32_MAX));
}

int16_t DayOfWeek(std::string_view packedDate) {
  // 1. Days since 1 January of the date's year (-1 for 1 January itself).
  const DateParts p = SplitDate(packedDate);
  const int64_t k = DateDifference(packedDate, PackParts(p.year, 1, 1), "D") - 1;
  const int64_t y = p.year - 1;

  // 2-3. Weekday of 1 January from the leap days before it.
  int64_t weekday = 0;
  if (DateNumber(p) < kReformDate) {
    weekday = FloorMod(FloorMod(y + y / 4, 7) + 6 + k, 7) + 1;
  } else {
    weekday = FloorMod(FloorMod(y + y / 4 - y / 100 + y / 400, 7) + 1 + k, 7) + 1;
  }
  return static_cast<int16_t>(weekday);
}

std::string ParseDate(std::string_view text) {
  // 1. Blanks and digits build the fields; separators close them.
  std::string fields[3];
  int separators = 0;
  for (char c : text) {
    if (c == ' ' || (c >= '0' && c <= '9')) {
      fields[separators].push_back(c);
    } else if (c == '.' || c == '/' || c == '-') {
      if (++separators == 3) return EmptyDate();
    } else {
      return EmptyDate();
    }
  }

  // 2. Digits only: fixed places.  Otherwise day, month and year fields.
  std::string_view dayText, monthText, yearText;
  if (separators == 0) {
    const std::string_view all = fields[0];
    dayText = all.substr(0, 2);
    monthText = all.substr(std::min<std::size_t>(2, all.size()), 2);
    yearText = all.substr(std::min<std::size_t>(4, all.size()));
  } else if (separators == 2) {
    dayText = fields[0];
    monthText = fields[1];
    yearText = fields[2];
  } else {
    return EmptyDate();  // 3.
  }
  const bool fullYear =
      std::count_if(yearText.begin(), yearText.end(), [](char c) { return c != ' '; }) > 3;
  const int64_t day = DigitsValue(dayText);
  const int64_t month = DigitsValue(monthText);
  int64_t year = DigitsValue(yearText);
  // A part too long for its place would be cut to its last digits and give
  // another date than the one typed ("123/1/2026" is not 23 January).
  if (day > 99 || month > 99 || year > 9999) return EmptyDate();

  // 4. A short year lands within current year - 50 .. + 49.
  if (day > 0 && month > 0 && !fullYear) {
    const int64_t current = LocalNow().year;
    year += 100 * (current / 100);
    if (year - current > 49) {
      year -= 100;
    } else if (current - year > 50) {
      year += 100;
    }
  }

  // 5.
  return PackParts(year, month, day);
}

}  // namespace kestrova

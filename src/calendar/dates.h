// Date arithmetic on packed dates.
//
// A packed date is yyyymmdd as four digit-pair bytes (PackDigits), so byte
// order is date order; four bytes of 128 ("00000000") mean no date.  The
// calendar is Gregorian, with the Julian leap-year rule before the reform;
// each routine places the boundary where it always has (see each one), and
// callers rely on that.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// The empty date ("00000000" packed) and the largest one ("99991231").
std::string EmptyDate();
std::string LargestDate();

// Days in month m of year y: Julian leap years (every fourth) when
// `julian`, else Gregorian.  Any month number gives an answer (months other
// than 1..12 count 30 days).
int DaysInMonth(int64_t month, int64_t year, bool julian);

// Day and month digits, then the year: 2 digits when it lies within the
// current year - 50 .. + 49 (current year from the platform clock), else 4.
// Empty when day and month are both 0.  Works on any packed date of at least
// 2 bytes: the last byte is the day, the one before the month, the rest the
// year (shorter input gives an empty text).  2026-12-07 -> "071226" in 2026;
// 1950-05-03 -> "03051950".
std::string DateDigits(std::string_view packedDate);

// The date n days ("D"), months ("M") or years ("A") later (n < 0: earlier);
// the unit in either case.  Adding months or years keeps the day but ends on
// the last day of a shorter month (2024-01-31 + 1 M = 2024-02-29).  Julian
// leap years apply when the date is before 1582-10-05.  n = 0 returns the
// date unchanged, even an invalid or empty one; another unit with n > 0
// only moves an impossible day back to the month's last.  Past 9999 the result is the
// largest date; before year 0 it is the empty date.
std::string AddToDate(std::string_view packedDate, int32_t n, std::string_view unit);

// The distance between two packed dates, whatever their order: days ("D"),
// months ("M", days not looked at) or whole years completed ("A"); the unit
// in either case.  Leap years are Julian before 1582.  Another unit gives
// 0; the result is never negative.
int32_t DateDifference(std::string_view date1, std::string_view date2, std::string_view unit);

// 1 = Monday ... 7 = Sunday (Julian weekdays before 1582-10-05).  Always in
// 1..7, even for an empty or invalid date.
int16_t DayOfWeek(std::string_view packedDate);

// A date typed as day, month and year separated by ".", "/" or "-", or as
// 6 or 8 digits ("071226", "07122026").  A year of up to 3 digits gets the
// century that puts it within current year - 50 .. + 49.  Day and month are
// not checked against the calendar (31/02/2026 is kept).  Any other
// character, one or three separators, or a part too long for its place
// (day or month over 99, year over 9999) gives the empty date.
std::string ParseDate(std::string_view text);

}  // namespace kestrova

// Date arithmetic on packed dates (yyyymmdd as four digit-pair bytes).
#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// Day and month digits, then the year: 2 digits when it lies within the
// current year - 50 .. + 49 (current year from the platform clock), else 4.
// Empty when day and month are both 0.  Works on any packed date of at least
// 2 bytes: the last byte is the day, the one before the month, the rest the
// year.  2026-12-07 -> "071226" in 2026; 1950-05-03 -> "03051950".
std::string DateDigits(std::string_view packedDate);

}  // namespace kestrova

#include "calendar/dates.h"

#include <cstdint>

#include "calendar/numeric.h"
#include "platform/clock.h"

namespace kestrova {

std::string DateDigits(std::string_view packedDate) {
  if (packedDate.size() < 2) return {};
  const std::string digits = UnpackDigits(packedDate);
  const std::string day = digits.substr(digits.size() - 2);
  const std::string month = digits.substr(digits.size() - 4, 2);
  const std::string yearText = digits.substr(0, digits.size() - 4);
  if (day == "00" && month == "00") return {};
  long year = 0;
  for (char c : yearText) year = year * 10 + (c - '0');
  const int currentYear = LocalNow().year;
  if (year >= currentYear - 50 && year <= currentYear + 49) {
    const int twoDigits = static_cast<int>(year % 100);
    return day + month + static_cast<char>('0' + twoDigits / 10) +
           static_cast<char>('0' + twoDigits % 10);
  }
  std::string fourDigits = yearText;
  while (fourDigits.size() < 4) fourDigits.insert(0, "0");
  return day + month + fourDigits.substr(fourDigits.size() - 4);
}

}  // namespace kestrova

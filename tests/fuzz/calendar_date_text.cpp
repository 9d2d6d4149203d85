// Typed dates: ParseDate and ParseDateText take whatever the operator types.
// Both must answer without crashing; a valid text must give a real date.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "calendar/text_checks.h"
#include "platform/clock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  SetClockForTesting(LocalDateTime{2026, 12, 7, 10, 0, 0, 0});
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::string packed = ParseDate(text);
  if (packed.size() != 4) std::abort();

  if (ParseDateText(text) == 0) {
    const DateParseResults& r = ParsedDate();
    if (r.ParsedDay < 1 || r.ParsedDay > r.ParsedMonthDays || r.ParsedMonth < 1 ||
        r.ParsedMonth > 12) {
      std::abort();
    }
  }
  // The parsed date through the arithmetic must stay a packed date.
  if (AddToDate(packed, static_cast<int32_t>(size) - 64, "D").size() != 4) std::abort();
  const int16_t weekday = DayOfWeek(packed);
  if (weekday < 1 || weekday > 7) std::abort();
  return 0;
}

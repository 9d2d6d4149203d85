// Typed numbers: CheckNumberText and CheckNumberRange on any text, with the
// allowed form and bounds taken from the first bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "calendar/text_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  if (size < 2 * sizeof(double) + 2) return 0;
  double minimum = 0, maximum = 0;
  std::memcpy(&minimum, data, sizeof minimum);
  std::memcpy(&maximum, data + sizeof minimum, sizeof maximum);
  const auto decimals = static_cast<int16_t>(static_cast<int8_t>(data[2 * sizeof(double)]));
  const uint8_t form = data[2 * sizeof(double) + 1];
  const std::string_view text(reinterpret_cast<const char*>(data) + 2 * sizeof(double) + 2,
                              size - 2 * sizeof(double) - 2);

  const char* allowed[] = {"", ".", "-", "+", ".-", "-+."};
  const int16_t flag = CheckNumberText(text, allowed[form % 6]);
  if (flag != 0 && flag != -1) std::abort();
  const int16_t inRange = CheckNumberRange(text, minimum, maximum, decimals);
  if (inRange != 0 && inRange != -1) std::abort();
  return 0;
}

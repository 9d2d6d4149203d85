// Picture masks and format texts from any bytes, with any double: the
// result of a mask always has the mask's length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "calendar/numeric.h"
#include "calendar/picture_mask.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  if (size < sizeof(double)) return 0;
  Separators() = {'\'', '.'};
  double value = 0;
  std::memcpy(&value, data, sizeof value);
  const std::string_view mask(reinterpret_cast<const char*>(data) + sizeof value,
                              size - sizeof value);

  if (FormatWithMask(mask, value).size() != mask.size()) std::abort();
  if (AmountToText(mask, value).size() != mask.size()) std::abort();
  const std::string format(mask.substr(0, 16));
  (void)FormatWithSpec(value, format);
  (void)NumberToPlainText(value);
  return 0;
}

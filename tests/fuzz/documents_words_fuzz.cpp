// Amounts in words: any double, any mode, any language.
#include <cstdint>
#include <cstring>
#include <string>

#include "documents/amounts_in_words.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < sizeof(double) + 1) return 0;
  double value = 0;
  std::memcpy(&value, data, sizeof value);
  static const char* const kLanguages[] = {"CAT", "SPA", "GLG", "OCI", "XYZ"};
  kestrova::Session().language = kLanguages[data[sizeof value] % 5];
  const std::string mode(reinterpret_cast<const char*>(data) + sizeof value + 1, size - sizeof value - 1);
  const std::string words = kestrova::AmountInWords(value, mode);
  // Nine digits and cents never take more than a few hundred characters.
  if (words.size() > 400) __builtin_trap();
  return 0;
}

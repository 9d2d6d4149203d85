// INI files come from the menu program and from administrators' editors:
// any bytes must read without a crash or a hang.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    char pattern[] = "/tmp/kestrova-fuzz-ini-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd >= 0) ::close(fd);
    return std::string(pattern);
  }();
  // The first bytes choose the section and key asked for.
  const std::size_t split = size > 0 ? data[0] % 8 : 0;
  const std::string query(reinterpret_cast<const char*>(data), std::min(size, split + 1));
  const std::string contents(reinterpret_cast<const char*>(data), size);
  kestrova::WriteWholeFile(path, contents);
  const std::size_t half = std::min(query.size(), split / 2);
  (void)kestrova::ReadIniValue(path, query.substr(0, half), query.substr(half));
  (void)kestrova::ReadIniValue(path, "Menu", "Titol");
  (void)kestrova::ParseColourText(contents.substr(0, 40));
  (void)kestrova::DecimalValue(contents);
  return 0;
}

// Help files are installation data anyone may have edited or cut short: the
// viewer must show any file, of any length and content, and page through it
// with any keys without reading past its end.  The input is the file's
// bytes, a 0 byte, then one key code per 2 bytes.
#include <algorithm>
#include <cstdint>
#include <string>

#include "console/help.h"
#include "fuzz/console_fuzz.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  const std::string& scratch = fuzzing::ResetConsole("/tmp/kestrova-fuzz-help-XXXXXX");

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = std::min(bytes.find('\0'), bytes.size());
  const std::string path = scratch + "PROVA.HLP";
  if (!WriteWholeFile(path, bytes.substr(0, split))) return 0;
  for (std::size_t i = split + 1; i + 2 <= bytes.size() && Screen().input.size() < 200; i += 2) {
    const uint16_t key = static_cast<uint16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
    // F1 would open the general help from the current directory; the keys
    // of the viewer are what is under test here.
    if (key == kKeyF1) continue;
    Screen().input.push_back({InputKind::kKey, key, 0});
  }
  ShowHelpFile(path, "PROVA");
  return 0;
}

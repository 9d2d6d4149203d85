// Message catalogues, paragraph layout and window stack files from outside:
// no crash, no hang, and the layout keeps its width.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/screen.h"
#include "session/language.h"
#include "session/session.h"
#include "windows/paragraph.h"
#include "windows/windows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 3, size - 3);
  // The catalogue: the text as a catalogue, its first line as the key.
  const std::string key = text.substr(0, text.find('\n'));
  for (const char* language : {"SPA", "GLG", "OCI", "XYZ"}) kestrova::TranslateWithCatalogue(text, key, language);

  // The paragraph: indent and width from the first bytes.
  const auto indent = static_cast<int16_t>(static_cast<int8_t>(data[0]));
  const auto width = static_cast<int16_t>(data[1] % 100);
  const char align[2] = {static_cast<char>("ELINDRCABX"[data[2] % 10]), '\0'};
  std::string laidOut = text.substr(0, 600);
  kestrova::FormatParagraph(laidOut, indent, width, align);

  // The window stack: the text as the stack file, then pops.
  static const std::string dir = [] {
    char pattern[] = "/tmp/kestrova-fuzz-XXXXXX";
    return std::string(::mkdtemp(pattern)) + "/";
  }();
  kestrova::Session().jobTmp = dir;
  kestrova::WriteWholeFile(kestrova::WindowStackPath(), text);
  for (int i = 0; i < 3; ++i) kestrova::PopWindow();
  kestrova::ShowMessageWindow(data[0] % 30, text.substr(0, 300));
  kestrova::PopWindow();
  return 0;
}

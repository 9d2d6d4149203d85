// Any bytes as a print script: the print program lays out what it can and
// never reads or writes outside its pages.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "layout.h"
#include "outputs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace kestrova::jobprint;
  const PrintDocument doc = LayOutScript(std::string_view(reinterpret_cast<const char*>(data), size));
  RenderText(doc);
  const int count = static_cast<int>(doc.pages.size());
  for (int page = 0; page < count && page < 4; ++page) ViewerLines(doc.pages[page], page + 1, count, 3, 7, 25, 80);
  return 0;
}

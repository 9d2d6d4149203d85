// Whatever the operator presses, and whatever form the administrator wrote,
// the form input and the line editor must neither crash nor hang: the input
// is a form definition, a 0 byte, then key and mouse events of 6 bytes each
// (kind, key code, modifiers, row, column; rows and columns may fall off the
// screen).  When the events run out the screens back out with Esc.
#include <cstdint>
#include <string>

#include "console/form_input.h"
#include "console/key_map.h"
#include "fuzz/console_fuzz.h"
#include "session/job_form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  fuzzing::ResetConsole("/tmp/kestrova-fuzz-form-XXXXXX");
  ResetKeyMapForTesting();
  ResetJobFormForTesting();
  ResetFormInputForTesting();
  Session().language = "CAT";
  Screen().mouseButtons = 3;

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = bytes.find('\0');
  if (split == std::string::npos || !ParseJobForm(bytes.substr(0, split)).ok) return 0;
  for (std::size_t i = split + 1; i + 6 <= bytes.size() && Screen().input.size() < 400; i += 6) {
    const auto* e = reinterpret_cast<const uint8_t*>(bytes.data() + i);
    InputEvent event;
    event.kind = e[0] % 8 == 0 ? InputKind::kMouse : InputKind::kKey;
    event.key = event.kind == InputKind::kKey ? static_cast<uint16_t>(e[1] | e[2] << 8) : 0;
    event.modifiers = e[3] & 0x1F;
    event.button = event.kind == InputKind::kMouse ? 1 : 0;
    event.row = static_cast<int16_t>(e[4] % 27);
    event.column = static_cast<int16_t>(e[5] % 82);
    Screen().input.push_back(event);
  }
  int32_t key = 0;
  int16_t a = 0, b = 0;
  RunFormScreen(1, key, a, b);
  while (Windows().depth > 0) PopWindow();
  return 0;
}

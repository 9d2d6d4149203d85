// Whatever the operator presses in the pop-ups, and whatever the calculator's
// state file holds, they neither crash nor hang, put the screen back as it
// was, leave no window, colour or key map behind, type only what a field
// can take, and leave a state file that reads back as it was written.  The
// input is the state file, a 0 byte, then keys of 3 bytes each (key code,
// modifier bits); Alt-X and Alt-C among them open the pop-ups, one inside
// the other.  When the keys run out the pop-ups close as with Esc.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "calendar/date_texts.h"
#include "calendar/picture_mask.h"
#include "calendar/text_checks.h"
#include "console/calculator.h"
#include "console/calendar_popup.h"
#include "console/key_map.h"
#include "console/keyboard.h"
#include "fuzz/console_fuzz.h"
#include "platform/files.h"
#include "platform/screen.h"
#include "session/session.h"
#include "windows/windows.h"

namespace {

bool TypableResult(const std::string& text, bool date) {
  if (text.empty()) return true;
  if (date) return kestrova::ParseDateText(text) == 0;
  for (char c : text) {
    if ((c < '0' || c > '9') && c != '.') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  Session().terminalDirectory = fuzzing::ResetConsole("/tmp/kestrova-fuzz-popups-XXXXXX");
  ResetKeyMapForTesting();
  Session().language = "CAT";
  Screen().mouseButtons = 3;
  Separators().DecimalChar = ',';
  Separators().ThousandsChar = '.';
  DateSettings().DatCaracter = "/";
  DateSettings().DatOrdre = "DMA";
  RegisterHotKeyPopups(OpenCalculator, OpenCalendar);

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = bytes.find('\0');
  if (split == std::string::npos || split > 4096) return 0;
  if (!WriteWholeFile(CalculatorStatePath(), bytes.substr(0, split))) return 0;
  for (std::size_t i = split + 1; i + 3 <= bytes.size() && Screen().input.size() < 600; i += 3) {
    InputEvent event;
    event.key = static_cast<uint16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
    event.modifiers = static_cast<uint16_t>(bytes[i + 2] & 0x1F);
    Screen().input.push_back(event);
  }
  for (int row = 1; row <= kScreenRows; ++row) {
    for (int col = 1; col <= kScreenColumns; ++col) {
      WriteCell(row, col, Cell{static_cast<uint8_t>(row * 80 + col), static_cast<uint8_t>(row + col)});
    }
  }
  const CellGrid before = Screen().cells;

  // The first pop-up by the first key's parity, the rest through the keys.
  const bool calendarFirst = split + 1 < bytes.size() && (bytes[split + 1] & 1) != 0;
  const std::string typed = calendarFirst ? OpenCalendar() : OpenCalculator();
  if (!TypableResult(typed, calendarFirst)) __builtin_trap();
  if (!(Screen().cells == before)) __builtin_trap();
  if (Windows().depth != 0 || !Windows().colourStack.empty() || !KeyMap().saved.empty()) __builtin_trap();
  if (Keyboard().calculatorOpen != 0 || Keyboard().calendarOpen != 0) __builtin_trap();

  std::string written;
  if (ReadWholeFile(CalculatorStatePath(), written)) {
    const CalculatorState state = ParseCalculatorState(written);
    if (!(ParseCalculatorState(CalculatorStateText(state)) == state)) __builtin_trap();
  }
  return 0;
}

// The headless console: no terminal.  Input comes from a key script, and the
// screen is read back as text.  Integration tests run the whole job on it
// in-process; KESTROVA_CONSOLE=headless with KESTROVA_KEYS=<file> selects it
// for the real program.
//
// Key script syntax (UTF-8):
//   - a plain character types itself (converted to code page 850; one the
//     code page has no place for types "?");
//   - line ends are layout, not keys: type Enter as {Enter};
//   - {Name} presses a named key: Enter Esc Tab Bksp Up Down Left Right Home
//     End PgUp PgDn Ins Del Space F1 .. F12;
//   - modifiers go before the key: {S-F1}, {C-Left}, {A-x}, {C-S-F5};
//     {C-letter} is the control character (Ctrl-C is 3), {A-letter} the
//     Alt+letter code (Alt-X is 0x2D00), {A-digit} the keypad digit with left
//     Alt (typing a character by its code), {S-Tab} is Shift-Tab (0x0F00);
//   - {Click ROW COL} is a left-button click on that cell (from 1);
//   - {{} types "{".
// When the script is exhausted the backend reports the end of input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/screen.h"

namespace kestrova {

// Turns a key script into input events.  False, with the problem and the
// offending text, on an unknown key name, an unclosed brace or a click
// outside the screen; `events` then holds the events before the fault.
bool ParseKeyScript(std::string_view script, std::vector<InputEvent>& events,
                    std::string& problem);

// Installs the headless backend on the screen with these events to deliver.
void StartHeadlessConsole(std::vector<InputEvent> events);

// Installs the headless backend with the script of KESTROVA_KEYS (no
// variable: no keys at all).  A script that cannot be read or parsed ends
// the job through FatalError.  When KESTROVA_SCREEN names a file (relative
// to the directory the job starts in), the screen is written there as UTF-8
// text lines when the process ends.
void StartHeadlessConsoleFromEnvironment();

// The screen as 25 UTF-8 lines, each without its trailing blanks.
std::vector<std::string> ScreenTextLines();

}  // namespace kestrova

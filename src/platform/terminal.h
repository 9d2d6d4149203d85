// The terminal console: the screen shown in the user's terminal (UTF-8, 16
// colours) and its keys, mouse clicks and pastes read from it in raw mode.
//
// The renderer keeps what it last sent and sends only the cells that
// changed, moving the cursor and changing colours only when needed, in one
// write.  Input goes through the pure decoder of terminal_input.h.  The
// terminal is put back as it was on every way out: the normal end and
// FatalError (an exit hook), the end signals, and crash signals.
#pragma once

#include <string>

#include "platform/screen.h"

namespace kestrova {

// What the terminal shows, as far as the renderer knows.
struct TerminalView {
  CellGrid sent{};
  bool valid = false;  // false: nothing known, everything is drawn
  int16_t cursorRow = 0, cursorColumn = 0;
  int16_t cursorShape = -1;   // 0 hidden, 1 underline, 2 block; -1 unknown
  int attribute = -1;         // last colours sent; -1 unknown
  bool wrapPending = false;   // the last write ended in the last column
};

// The escape sequences that make the terminal show the screen, given what
// it shows now; updates the view.  Empty when nothing changed.
std::string RenderScreen(TerminalView& view, const ScreenState& screen);

// The SGR sequence for a console attribute: foreground = attribute mod 16,
// background = attribute div 16, each with its bright variant.
std::string AttributeSequence(uint8_t attribute);

// What a terminal smaller than the screen shows instead of it.
std::string SizeNotice(int columns, int rows);

// Chooses the console: the headless one when KESTROVA_CONSOLE is
// "headless", else the terminal.  Ends the job through FatalError when the
// terminal is wanted but standard input or output is not one.
void StartConsole();

// Raw mode, mouse and paste reporting, the alternate screen; installs the
// backend, the exit hook and the signal handlers.  False when standard input
// or output is not a terminal.
bool StartTerminalConsole();

// Puts the terminal back as it was found.  Safe to call more than once and
// from a signal handler.
void RestoreTerminal();

}  // namespace kestrova

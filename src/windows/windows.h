// Text windows and the message window.
//
// Pop-up rectangles (windows) are drawn over the screen; what they cover is
// saved first on the window stack file JOBTMP + "WinPush.tmp" and put back
// when they close, so a window opened by one routine can be closed by
// another, even by another job of the same session.  Around this: the
// console size, cursor placement relative to the window last opened, frames,
// the colour pairs of the session's colour table with a stack of choices, and
// the framed message window the record layer, the lock files and the
// revision's checks show their messages in.
//
// Window stack file layout (bytes counted from 1):
//   1-4     P, 32-bit little endian: where the next entry starts (5: empty)
//   5..P-1  entries, oldest first; each entry is
//           cursor row, cursor column          2 digits each
//           previous window top, left, bottom, right   2 digits each
//           area top, left, bottom, right      2 digits each
//           cells, row by row: character byte, attribute byte
//           entry length 25 + 2 x cells        5 digits
// Digit fields are decimal, zero-padded, keeping the last digits of a
// larger value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

struct WindowRect {
  int16_t top = 0, left = 0, bottom = 0, right = 0;
  bool operator==(const WindowRect&) const = default;
};

struct WindowState {
  WindowRect current;         // the CurrentWindow; all 0 before the first push
  int16_t depth = 0;          // windows pushed and not popped in this process
  int16_t pair = 0;           // current colour pair, 0..4
  std::string colourStack;    // saved pair numbers, one byte each, last saved last
};

WindowState& Windows();
void ResetWindowsForTesting();

// The path of the window stack file (JOBTMP + "WinPush.tmp").
std::string WindowStackPath();

int16_t ScreenRows();
int16_t ScreenColumns();

// Cursor to (row, column) of the screen when no window is open, else
// relative to the CurrentWindow: (1, 1) is the first cell inside its frame.
void LocateInWindow(int row, int column);

// Selects a colour pair by letters, upper-casing `letters` in place:
//   "+" first saves the current pair on the colour stack;
//   "-" takes the pair back from the stack (pair 0 when it is empty);
//   else "U" pair 4, else 2 for "R" plus 1 for "N" ("H": pair 0).
// An empty or blank text does nothing.  Typical: "+n", "+rh", "-", "h".
void SelectColours(std::string& letters);
void SelectColours(std::string_view letters);

// Saves the rectangle (screen rows and columns from 1) on the window stack
// and makes it the CurrentWindow; the screen does not change.  A rectangle
// with a corner outside the screen, or upside down, saves nothing and
// changes nothing.  Ends the job through FatalError when the stack file
// cannot be written.
void PushWindow(int top, int left, int bottom, int right);

// Puts the last saved rectangle back on the screen (characters, colours,
// cursor, the CurrentWindow before it) and takes it off the stack; deletes
// the file when the stack is empty.  A missing or empty stack changes
// nothing.  A damaged stack file (short, a wrong length or position field,
// an area off the screen) changes nothing on the screen either: it is
// treated as empty and removed.
void PopWindow();

// Frame of the CurrentWindow, inside cleared, in the current colours:
// style 0 blank, 1 single line, 2 double line.  Nothing when no window is
// open.
void DrawWindowFrame(int style);

// Opens a framed window with the text near screen row `row` and leaves it
// open for the caller to close with PopWindow.  A text too long for the
// screen shows nothing (the colours are restored).  An empty text opens a
// window with one blank line, so the caller's PopWindow closes this window
// and not the one under it.
void ShowMessageWindow(int row, std::string_view text);

}  // namespace kestrova

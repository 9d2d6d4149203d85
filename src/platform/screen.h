// The console screen: the one source of truth for what the operator sees.
//
// An in-memory grid of 25 x 80 cells (a code page 850 byte and an attribute,
// foreground + 16 x background), the cursor (position, size, visibility), the
// current colours and the queue of input events.  Every screen routine of the
// job goes through here; windows are saved and restored by reading cells back
// from the grid, so what a backend shows never has to be asked.
//
// A backend (the user's terminal, or the headless key script) shows the grid
// and delivers input.  It is plain data: a few function pointers installed in
// ScreenState::backend.  With no backend installed the screen is a pure
// in-memory model and input ends at once (unit tests).
//
// Rows and columns are counted from 1.  Coordinates outside the grid are
// clipped, never written: a caller's arithmetic mistake costs a missing
// character, not memory.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "platform/key_codes.h"

namespace kestrova {

inline constexpr int16_t kScreenRows = 25;
inline constexpr int16_t kScreenColumns = 80;

struct Cell {
  uint8_t character = ' ';
  uint8_t attribute = 7;  // foreground + 16 x background
  bool operator==(const Cell&) const = default;
};

using CellGrid = std::array<Cell, kScreenRows * kScreenColumns>;

// Modifier state of an input event, in the bits the job's key reader tests
// (the console's control-key state).
inline constexpr uint16_t kRightAltPressed = 0x0001;
inline constexpr uint16_t kLeftAltPressed = 0x0002;
inline constexpr uint16_t kRightCtrlPressed = 0x0004;
inline constexpr uint16_t kLeftCtrlPressed = 0x0008;
inline constexpr uint16_t kShiftPressed = 0x0010;

// Mouse buttons of a mouse event (the console's button state bits).
inline constexpr int16_t kMouseLeftButton = 1;
inline constexpr int16_t kMouseRightButton = 2;
inline constexpr int16_t kMouseMiddleButton = 4;

// Key codes (kKeyEnter, kKeyF1, ...) live in platform/key_codes.h.

enum class InputKind : uint8_t {
  kKey,    // key: the key code; modifiers: the modifier state
  kMouse,  // a button press: button, row, column (modifiers as for keys)
  kEnd,    // end of input: the script ran out, the terminal hung up
};

struct InputEvent {
  InputKind kind = InputKind::kKey;
  uint16_t key = 0;        // 0 for mouse and end events, and for "Alt released"
  uint16_t modifiers = 0;  // k...Pressed bits
  int16_t button = 0;
  int16_t row = 0;
  int16_t column = 0;
  bool operator==(const InputEvent&) const = default;
};

struct ScreenState;

// What a backend does for the screen.  Any pointer may be null.
struct ScreenBackend {
  // Shows the grid and the cursor (called after every change).
  void (*show)(const ScreenState& screen) = nullptr;
  // Waits up to timeoutMs (-1: without limit) for input and appends what
  // arrives to screen.input; appends a kEnd event when input has ended.
  void (*waitInput)(ScreenState& screen, int timeoutMs) = nullptr;
  void (*beep)() = nullptr;
  // Sends bytes to the terminal as they are (the clipboard's OSC 52).
  void (*sendRaw)(std::string_view bytes) = nullptr;
  // True when the input not yet delivered is typed later rather than typed
  // ahead (a key script): a flush then drops only what was delivered.
  bool inputIsScripted = false;
};

struct ScreenState {
  CellGrid cells{};
  int16_t cursorRow = 1;
  int16_t cursorColumn = 1;
  int16_t cursorSize = 50;  // 0 hidden, 50 half, 100 full
  bool cursorVisible = true;
  uint8_t foreground = 7;
  uint8_t background = 0;
  std::deque<InputEvent> input;
  bool endReported = false;  // a kEnd event has been handed out
  bool insertLock = false;   // the keyboard's Insert toggle, flipped by Ins
  int16_t mouseButtons = 0;  // buttons the backend can report; 0: no mouse
  int32_t beeps = 0;         // how many times Beep ran (tests read it)
  int16_t refreshHeld = 0;   // HoldScreenRefresh depth
  ScreenBackend backend;
  // Runs when input is read again after its end was reported, so a caller
  // that does not look for kEnd cannot spin; EndProcess(0) unless replaced.
  void (*inputGone)() = nullptr;
};

// The process's screen.
ScreenState& Screen();

// A blank grid in 7 on 0, cursor at 1,1, no backend, no input (tests).
void ResetScreenForTesting();

// Cursor.  Positions outside the grid are clamped to it.
void SetCursorPosition(int row, int column);
int16_t CursorRow();
int16_t CursorColumn();
// Size 0 hides the cursor; 1..100 is the share of the cell it fills (the
// terminal shows up to 50 as an underline, above as a block).
void SetCursorSize(int size);
void SetCursorVisible(bool visible);

// Colours for the following writes (each taken modulo 16).
void SetTextColours(int foreground, int background);
uint8_t CurrentAttribute();

// Writes code page 850 bytes at the cursor in the current colours, each as
// its glyph (control bytes included), going on at the start of the next row
// after column 80.  Text past the last cell is dropped; the screen never
// scrolls by itself.  The cursor ends just after the text (clamped to the
// last cell).
void WriteText(std::string_view text);

// One cell, read back or written, without moving the cursor.  Reading
// outside the grid gives a blank in 7 on 0; writing there does nothing.
Cell ReadCell(int row, int column);
void WriteCell(int row, int column, Cell cell);

// Blanks in the current colours over the rectangle (clipped to the screen).
void ClearRectangle(int top, int left, int bottom, int right);

// Moves the rectangle's contents up by `lines` rows (down when negative);
// rows that come free are blanked in the current colours.
void ScrollRectangle(int top, int left, int bottom, int right, int lines);

void Beep();

// The rows of the grid as UTF-8 text lines (trailing blanks kept), with the
// glyphs the console shows.
std::string ScreenRowText(int row);

// Input.  KeyWaiting looks without waiting; ReadInputEvent waits.  After a
// kEnd event has been handed out, reading again runs ScreenState::inputGone.
// An Ins key without modifiers flips the Insert lock as it is read.
bool KeyWaiting();
// Like KeyWaiting, but gives input up to timeoutMs to arrive; a key the
// terminal only finishes after a short pause (a lone Escape) is complete
// by then.
bool KeyWaitingWithin(int timeoutMs);
InputEvent ReadInputEvent();
void FlushInput();

// Shows the grid through the backend now (unless held).
void RefreshScreen();

// Holds the showing of changes while a routine redraws many cells (a
// window put back cell by cell), so the terminal gets one frame instead of
// one per cell.  Holds nest; the last release shows the result.
void HoldScreenRefresh();
void ReleaseScreenRefresh();

}  // namespace kestrova

// The keyboard reader: every wait for a key in the job's screens goes
// through here.
//
// Input events of the screen become 16-bit key codes in the PC keyboard
// convention (a character is its code page 850 code, an extended key its
// scan code x 256), with three additions: holding left Alt and typing digits
// on the keypad types the character with that code, the Shift, Ctrl and Alt
// variants of the function keys get codes of their own, and Alt-E types the
// euro sign (213, as code page 858 places it).  Alt-X and Alt-C are hot keys
// that open the calculator and the calendar over any screen; what a pop-up
// returns is then typed into the caller character by character.
//
// Mouse clicks travel with the key: the key filter hands out the button and
// the clicked cell, and ReadKey turns a click into a negative key code (see
// MouseKeyCode) so that screens reading whole keys see clicks too.
#pragma once

#include <cstdint>
#include <string>

namespace kestrova {

// The pop-ups behind the hot keys.  Each shows itself over the screen and
// returns the text to type into the field that was being edited (empty:
// nothing).  The calculator and the calendar register themselves here; a
// hot key with nothing registered types nothing.
using HotKeyPopup = std::string (*)();

struct KeyboardState {
  std::string pendingText;      // still to be delivered as keys, first first
  int16_t calculatorOpen = 0;   // -1 while the calculator runs
  int16_t calendarOpen = 0;     // -1 while the calendar runs
  int16_t mouseState = 0;       // 0 not set up, 1 on, 2 being switched on, 3 no mouse
  uint16_t modifiers = 0;       // modifier bits of the last event read
  bool inputEnded = false;      // the screen reported the end of input
  HotKeyPopup calculator = nullptr;
  HotKeyPopup calendar = nullptr;
};

KeyboardState& Keyboard();
void ResetKeyboardForTesting();

// Registers the routines Alt-X and Alt-C run (null: that hot key does
// nothing but reach the caller).
void RegisterHotKeyPopups(HotKeyPopup calculator, HotKeyPopup calendar);

// What one step of the key filter yields: a key code (0 for none) and, for
// a mouse press, its button and the cell (screen rows and columns from 1).
struct FilteredKey {
  uint16_t key = 0;
  int16_t button = 0;
  int16_t row = 0;
  int16_t column = 0;
};

// One step under ReadKey, in this order: a pending typed character (no
// console input is read); the mouse set-up on first use; one input event,
// with the left-Alt keypad entry collected over the events that follow;
// Alt-E to the euro; the folding of modified function keys, Home, Left and
// Right; a mouse press with its button and cell; the hot keys.  The hot key
// itself is still returned (callers ignore keys they do not know) and the
// pop-up's text arrives on the following reads.  May return key 0 (an Alt
// release, a lone modifier, a mouse event while the mouse is off, the end
// of input: see Keyboard().inputEnded).
FilteredKey KeyFilter();

// The key code a mouse press stands for among keys: -(100 x column + row)
// for the left button, and 10 000 x the button number further down for the
// others, so a caller can tell clicks from keys by the sign.
int32_t MouseKeyCode(int16_t button, int16_t row, int16_t column);

// Waits for a key and returns its code, or the MouseKeyCode of a mouse
// press; never 0.  When the input has ended (the script ran out, the
// terminal hung up) and the screen has not ended the process, returns Esc,
// so that every screen backs out instead of waiting for ever.
int32_t ReadKey();

// Discards the console input that has not been read yet.  The pending typed
// text of a pop-up stays: it is the operator's, already given.
void FlushKeyboard();

}  // namespace kestrova

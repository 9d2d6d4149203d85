// The terminal's input decoder: bytes from a terminal in raw mode -> input
// events in the PC key convention.  A pure function over a small state, so
// it is tested from byte strings, without a terminal.
//
// What it understands (docs/terminal-keys.md has the full table):
//   - printable characters in UTF-8 (converted to code page 850; characters
//     the code page cannot hold are dropped), control characters as
//     Ctrl-letters, 127 and 8 as Backspace, CR as Enter;
//   - xterm's CSI and SS3 sequences for the function, cursor and editing
//     keys, with the modifier parameter (Shift, Alt, Ctrl);
//   - ESC before a key as Alt with that key: letters become the Alt-letter
//     codes, digits the keypad digits with left Alt (so a run of Alt+digits
//     types a character by its code).  Terminals never report the release
//     of Alt, so the entry is ended by an "Alt released" event (key 0
//     without modifiers): before the first other key, or when no key has
//     come for the Alt-digit pause;
//   - SGR mouse reports (button presses on the 80 x 25 grid);
//   - bracketed paste, delivered as typed characters; its line ends and
//     other control characters become blanks (a pasted line end must not
//     act as Enter on a form), trailing line ends are dropped.
// A lone ESC is Escape once nothing has followed it for the Escape delay:
// the caller then calls DecodeTerminalTimeout.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/screen.h"

namespace kestrova {

struct TerminalDecoder {
  std::string pending;       // the start of a sequence not yet complete
  bool inPaste = false;
  std::string paste;         // bracketed paste so far (UTF-8)
  bool altDigitRun = false;  // the last event was an Alt+digit
};

// Milliseconds to wait for the rest of a sequence before DecodeTerminalTimeout
// should run, or -1 when nothing is pending.
inline constexpr int kEscapeDelayMs = 40;
inline constexpr int kPasteDelayMs = 2000;
// After an Alt+digit: how long the next digit of the same code may take.
// The digits of one code are typed by hand with Alt held, a few tenths of a
// second apart, so the Escape delay would cut every code after its first
// digit; a pause this long means the operator has let go.
inline constexpr int kAltDigitPauseMs = 700;
int DecoderWaitMs(const TerminalDecoder& decoder);

// Decodes `bytes` after what is pending; complete events are appended.
void DecodeTerminalInput(TerminalDecoder& decoder, std::string_view bytes,
                         std::vector<InputEvent>& events);

// Nothing more came within the delay: a lone ESC is Escape, ESC + "[" or
// "O" is Alt with that key, a cut-off sequence is dropped, an unfinished
// paste is delivered as it is, a run of Alt+digits is ended ("Alt
// released").
void DecodeTerminalTimeout(TerminalDecoder& decoder, std::vector<InputEvent>& events);

}  // namespace kestrova

// Key codes of the PC keyboard convention shared by the input backends: the
// terminal decoder and the headless key script name keys the same way.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrova {

// Key codes in the PC convention: a character is its code page 850 code, an
// extended key its scan code x 256.  Modified keys keep their plain code
// (Shift-F1 is kKeyF1 with kShiftPressed); the key reader folds them.
inline constexpr uint16_t kKeyBackspace = 8;
inline constexpr uint16_t kKeyTab = 9;
inline constexpr uint16_t kKeyEnter = 13;
inline constexpr uint16_t kKeyEscape = 27;
inline constexpr uint16_t kKeyShiftTab = 0x0F00;
inline constexpr uint16_t kKeyF1 = 0x3B00;  // F1..F10: 0x3B00..0x4400
inline constexpr uint16_t kKeyF11 = 0x8500;
inline constexpr uint16_t kKeyF12 = 0x8600;
inline constexpr uint16_t kKeyHome = 0x4700;
inline constexpr uint16_t kKeyUp = 0x4800;
inline constexpr uint16_t kKeyPgUp = 0x4900;
inline constexpr uint16_t kKeyLeft = 0x4B00;
inline constexpr uint16_t kKeyKeypad5 = 0x4C00;
inline constexpr uint16_t kKeyRight = 0x4D00;
inline constexpr uint16_t kKeyEnd = 0x4F00;
inline constexpr uint16_t kKeyDown = 0x5000;
inline constexpr uint16_t kKeyPgDn = 0x5100;
inline constexpr uint16_t kKeyIns = 0x5200;
inline constexpr uint16_t kKeyDel = 0x5300;

// Control characters with a meaning of their own in the form and the editor.
inline constexpr uint16_t kKeyCtrlB = 2;   // ends the form like F10
inline constexpr uint16_t kKeyCtrlC = 3;   // copy
inline constexpr uint16_t kKeyCtrlV = 22;  // paste
inline constexpr uint16_t kKeyCtrlY = 25;  // clear the value

inline constexpr uint16_t kKeyF2 = 0x3C00;
inline constexpr uint16_t kKeyF4 = 0x3E00;
inline constexpr uint16_t kKeyF10 = 0x4400;
inline constexpr uint16_t kKeyCtrlLeft = 0x7300;
inline constexpr uint16_t kKeyCtrlRight = 0x7400;
inline constexpr uint16_t kKeyCtrlHome = 0x7700;
// Ctrl with End: the line editor's way to the end of the text where a screen
// gives End itself a meaning (End finishes the form).
inline constexpr uint16_t kKeyCtrlEnd = 0x7500;
inline constexpr uint16_t kKeyCtrlF4 = 0x6100;
inline constexpr uint16_t kKeyAltF4 = 0x6B00;

// Alt+letter keys the job gives a meaning: Alt-E types the euro sign, Alt-X
// opens the calculator and Alt-C the calendar; in either, Alt-F ends it as
// "F" does.
inline constexpr uint16_t kKeyAltE = 0x1200;
inline constexpr uint16_t kKeyAltF = 0x2100;
inline constexpr uint16_t kKeyAltX = 0x2D00;
inline constexpr uint16_t kKeyAltC = 0x2E00;

// A character typed that code page 850 cannot hold (an emoji, a CJK
// ideograph): the backends report it with this code, which no key of the PC
// keyboard has, so that the keyboard reader can refuse it with a beep rather
// than let it reach a value as garbage.
inline constexpr uint16_t kUnmappableCharacterKey = 0xFF00;

// F1..F12 (n from 1), or 0 outside that range.
uint16_t FunctionKeyCode(int n);

// The code of an Alt+letter key: the letter's scan code x 256 (Alt-F is
// 0x2100), whatever the letter's case; 0 for anything but a-z.
uint16_t AltLetterCode(char letter);

// The keypad key that stands for a digit while left Alt is held, the way a
// character is typed by its code: 0 Ins, 1 End, 2 Down, 3 PgDn, 4 Left,
// 5 keypad 5, 6 Right, 7 Home, 8 Up, 9 PgUp.  0 for anything but a digit.
uint16_t KeypadDigitCode(char digit);

// The key code of a key name as the key scripts and the key table write it:
// "Enter", "Esc", "Tab", "Bksp", "Up", "Down", "Left", "Right", "Home",
// "End", "PgUp", "PgDn", "Ins", "Del", "F1".."F12", "Space".  Letter case
// does not matter.  0 for an unknown name.
uint16_t NamedKeyCode(std::string_view name);

}  // namespace kestrova

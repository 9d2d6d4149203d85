// Key codes of the PC keyboard convention shared by the input backends: the
// terminal decoder and the headless key script name keys the same way.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrova {

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

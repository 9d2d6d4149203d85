// Picture-mask number formatting, the save stack and the record field copy.
//
// Every amount, percentage, index value and count the job shows or prints is
// laid into a picture mask by FormatWithMask, so report columns line up: the
// result is always exactly as long as the mask.  Mask characters:
//   9   a digit, 0 when there is none
//   Z z a digit, blank when there is none (leading zeros suppressed)
//   *   a digit, "*" when there is none (cheque-style fill)
//   .   the decimal character; ,  the thousands character
//   -   "-" when negative, else blank; +  "-" or "+"
//   anything else is copied unchanged (" %", "/").
// The decimal and thousands characters are the user's ([Usuari] DecCaracter
// and MilCaracter of Tarn.ini), not the system locale's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// The user's decimal and thousands characters.  0 means not yet read: the
// first FormatWithMask that finds one unset reads it from JOBROOT +
// "Tarn.ini", section "Usuari", keys "DecCaracter" / "MilCaracter" (first
// character; a missing or blank value gives "'" and "." respectively), and
// it is kept for the rest of the run.
struct SeparatorSettings {
  char DecimalChar = 0;
  char ThousandsChar = 0;
};
SeparatorSettings& Separators();
void ResetSeparatorsForTesting();

// `value` laid into `mask`; reads (and on first use loads) Separators().
// Always LEN(mask) characters.  Decimals are rounded to the last shown
// decimal, halves to even ("ZZ9": 2.5 -> "  2", 3.5 -> "  4").  A negative
// value under a mask without "-" or "+" gets a floating "-" left of its
// digits.  When the value does not fit the mask, the plain form ("-", the
// digits, the decimal character and decimals) is right-aligned in the width,
// decimals cut first ("ZZ9.99", 1234.5 -> "1234'5"); when not even the
// integer digits fit, or the value is NaN or infinite, every position is "!".
std::string FormatWithMask(std::string_view mask, double value);

// `value` written by a short format text: digits before a "." are the
// width W (zero-padded and cut on the left), digits after it the decimals D;
// "V" leaves out the decimal point, "Z" writes "0" for an empty integer
// part, "S" writes "+" for values >= 0, "N" and "M" mark negatives with "N"
// ("M" gives a blank for others).  Without W or ".", every decimal the value
// carries is written (its shortest exact form: 1.1 -> "1.1").  Letters in
// any case.  The sign takes the first of the W positions, or goes in front.
// NaN and infinities give W times "!" (one "!" when W is 0).  W and D stop
// growing at 1000.
std::string FormatWithSpec(double value, std::string_view format);

// FormatWithSpec with an empty format text: 12.5 -> "12.5",
// 0.5 -> ".5", -3 -> "-3", 0 -> "" (nothing to write).
std::string NumberToPlainText(double value);

// The save stack: callers keep a copy of a text there around work that may
// change it, and take it back before returning; pushes and pops balance.
// One process-wide byte string; each entry is the text followed by its
// length as 2 bytes, low byte first, so an entry holds at most 65535 bytes
// (a longer text is kept cut to that).  PopSaved of an empty stack returns
// an empty text.
void PushSaved(std::string_view text);
std::string PopSaved();
std::string& SavedStack();
void ResetSavedStackForTesting();

// `count` bytes copied from `address` (a fixed-length field inside a record
// buffer).  Empty when count <= 0 or address is null.  The caller vouches
// that the bytes exist.
std::string CopyMemoryText(const void* address, int16_t count);

}  // namespace kestrova

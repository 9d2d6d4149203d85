// Numeric strings, packed digit pairs, the currency setting and amounts as
// text.
//
// Codes and dates in the record files keep their digits two to a byte
// (byte = 128 + the two-digit number), so that byte order is number order.
// Amounts are integers in hundredths of the main currency; AmountToText
// builds the picture mask that FormatWithMask (picture_mask.h) lays them into.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// The euro-peseta rate.  It has always been held as a single-precision
// constant and widened for the multiplication, so converted amounts carry the
// float's error (166.38600158691406...); the amounts in words use the same
// constant so both agree to the last digit.
inline constexpr float kPesetaRate = 166.386f;

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2,
// 3.5 -> 4, -2.5 -> -2).  The one rounding rule for amounts and percentages
// everywhere in the job.  NaN and infinities come back unchanged.
double RoundHalfEven(double value);

// A digit text stored two digits per byte: byte = 128 + 10 * first + second,
// so bytes lie in 128..227 and byte order is numeric order for texts of equal
// length.  The text, without surrounding blanks, is right-aligned in its own
// length with "0" fill; blanks and non-digits count as 0; an odd length is
// completed with a 0 digit.  "20261207" -> 148 154 140 135; " 7" -> 135.
std::string PackDigits(std::string_view text);

// Two decimal digits per byte: the value (byte AND 127), zero-padded, last
// two digits kept (a byte of 128 + 105 gives "05"; a byte below 128 is read
// the same way, 7 gives "07").
std::string UnpackDigits(std::string_view bytes);

// The digits of |value|, left-padded with "0" and cut to the last n
// characters: ZeroPad(7, 2) = "07", ZeroPad(2026, 2) = "26",
// ZeroPad(-5, 3) = "005".  Empty when n <= 0.
std::string ZeroPad(int64_t value, int n);

// A code written in groups separated by "." ("12.3") as packed fixed-width
// digit groups ("00120003").  The first group is 6 digits wide when the text
// is 6 characters without a "." or 11 characters with fewer than two ".",
// else 4; later groups are 4 wide.  A group is read as a number (leading
// blanks, digits up to the first other character).  Reading stops when the
// rest of the text is blank.  Empty text gives no bytes.
std::string PackDottedCode(std::string_view text);

// A name stored as "surnames*given part" shown given part first:
// "GARCIA LOPEZ*JOAN" -> "JOAN GARCIA LOPEZ", "ABADAL*d'" -> "d'ABADAL"
// (no blank after a trailing apostrophe).  Without a "*", or with the "*"
// first, the name is only trimmed.
std::string NameForDisplay(std::string_view name);

// The currency setting held for the whole job.
struct CurrencyState {
  char main = 'E';        // main currency
  char alternative = 0;   // 0 until set
  char current = 'E';     // drives AmountToText
};

CurrencyState& Currency();
void ResetCurrencyForTesting();

// Changes the currency setting (the only routine that does):
//   "a,E"  first letter A with a comma: main := E (E when nothing follows the
//          comma), current := main;
//   "x,P"  another first letter with a comma: alternative := P (the main
//          currency when nothing follows the comma);
//   "P"    no comma, first letter P: current := alternative, else main;
//   other  no comma: current := main.
// Letters are taken in either case and stored in upper case.
void SetCurrency(std::string_view option);

// An amount in hundredths of the main currency laid into a picture such as
// "ZZZZZZZZZ" or "Z,ZZ9.99-": the picture only says how wide, whether to
// show a zero, thousands groups, sign place and fill; the decimals follow the
// currency (2 for the main currency, the picture's own for pesetas, which
// are converted at kPesetaRate).  Reads Currency() and the separator
// characters.  Always LEN(picture) characters: a value too wide for the
// picture is written plainly and cut (see FormatWithMask); when not even its
// integer digits fit, or for NaN and infinities, every position is "!".
std::string AmountToText(std::string_view picture, double amount);

}  // namespace kestrova

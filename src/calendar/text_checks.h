// Character folding and the checking of typed text.
//
// Operator input is code page 850.  FoldText upper-cases it (optionally
// also stripping accents and punctuation) so searches and comparisons find
// "Ñ" from "ñ" or "N"; ParseDateText reads a typed date and says whether it
// exists; CheckNumberText and CheckNumberRange say whether a typed number
// has an allowed form and lies in its range.  None of them throws or reads
// outside its text, whatever the text holds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// The folding tables for codes 64..237 (entry 0 is code 64); codes below 64
// and above 237 are never changed.
//   upper-case: lower-case letters to their capitals, every other code to
//     itself (ÿ, ø, ı, þ, ß, µ, ª, º have no capital here and stay);
//   accent-folding: every letter to its capital without accent (ß -> S,
//     þ -> T, æ -> A, ø -> O, ª -> A, º -> O), code 213 -> E (the euro
//     sign of the suite's installations), anything that is not a letter to
//     a blank.
inline constexpr int kFoldFirstCode = 64;
inline constexpr int kFoldLastCode = 237;
using FoldTable = std::array<unsigned char, kFoldLastCode - kFoldFirstCode + 1>;
const FoldTable& UpperCaseTable();
const FoldTable& AccentFoldingTable();

// -1: FoldText uses the accent-folding table; anything else the upper-case
// table.  Process-wide, 0 at start; the list search sets it to -1 around its
// own comparisons and back to 0.
int16_t& FoldAccents();

// The folded copy of a text (same length), by the table FoldAccents()
// chooses.
std::string FoldText(std::string_view text);

// What the last ParseDateText read (all 0 when the text could not be read
// as numbers at all).
struct DateParseResults {
  int16_t ParsedDay = 0;
  int16_t ParsedMonth = 0;
  int16_t ParsedYear = 0;
  int16_t ParsedMonthDays = 0;  // days of the parsed month in the parsed year
};
DateParseResults& ParsedDate();
void ResetTextChecksForTesting();  // FoldAccents and the parse results

// A typed date: "5/3/25", "05-03-2025", "050325", "5.3.2025" (day, month,
// year; separators ".", "/", "-"; blanks allowed in the parts).  A year of
// up to 2 digits gets the century that puts it within 50 years of the
// current year (platform clock).  Returns 0 when the date exists (Gregorian
// leap years; 5 to 14 October 1582 do not exist), -1 otherwise: any other
// character, one or three separators, a part over 32767, day or month out of
// range.  Sets ParsedDate().
int16_t ParseDateText(std::string_view text);

// 0 when the text is a number in an allowed form, -1 otherwise.  `allowed`
// lists the optional parts: "." a decimal point, "-" or "+" a leading sign.
// Blanks are ignored anywhere; the sign may only come before the digits and
// the point; one point at most; any other character is an error.
int16_t CheckNumberText(std::string_view text, std::string_view allowed);

// 0 when the text is a number with at most `decimals` decimals (more are
// rounded, half up) between minimum and maximum, -1 otherwise.  A sign is
// allowed only when minimum < 0, a point only when decimals > 0.  Invalid
// bounds (maximum < minimum, NaN, decimals outside 0..16) give -1.
int16_t CheckNumberRange(std::string_view text, double minimum, double maximum, int16_t decimals);

}  // namespace kestrova

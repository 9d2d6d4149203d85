// Numeric strings, packed digit pairs and the currency setting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// A digit text stored two digits per byte: byte = 128 + 10 * first + second,
// so bytes lie in 128..227 and byte order is numeric order for texts of equal
// length.  The text, without surrounding blanks, is right-aligned in its own
// length with "0" fill; blanks and non-digits count as 0; an odd length is
// completed with a 0 digit.  "20261207" -> 148 154 140 135.
std::string PackDigits(std::string_view text);

// Two decimal digits per byte: the value (byte AND 127), zero-padded, last
// two digits kept (a byte of 128 + 105 gives "05").
std::string UnpackDigits(std::string_view bytes);

// The currency setting held for the whole job.
struct CurrencyState {
  char main = 'E';        // main currency
  char alternative = 0;   // 0 until set
  char current = 'E';     // drives AmountToText
};

CurrencyState& Currency();
void ResetCurrencyForTesting();

// "a,E" sets the main (and current) currency; "x,P" sets the alternative;
// "P" alone makes the alternative (else the main) current; any other letter
// alone makes the main currency current.
void SetCurrency(std::string_view option);

}  // namespace kestrova

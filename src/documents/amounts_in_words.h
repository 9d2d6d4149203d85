// Numbers in words, in the session language (Catalan, Spanish, Galician or
// Occitan), for letters that state an amount or a date in words as well as
// in figures.  Only the words: the currency name, where one is wanted, is
// the template's to write.
#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// Spells |value| in Session().language (any code other than "SPA", "GLG",
// "OCI" is Catalan).  Only the first character of `mode` counts, in either
// case:
//   "p"        value is hundredths of a euro, spelled as whole pesetas
//              (at 166.386 a euro, rounded half up), feminine, no cents;
//   "m", "f"   value is a whole number (rounded half up), masculine or
//              feminine, no cents;
//   empty      a whole number, masculine;
//   other      value is hundredths: the units and the cents, masculine
//              ("mil cinc-cents amb setanta-cinc cèntims" for 150075).
// Only the last nine digits of the integer part are spelled; zero gives an
// empty text, and so does a value that is not a number.  Code page 850.
//
// Example: AmountInWords(200, "f") in Catalan gives "dues-centes".
std::string AmountInWords(double value, std::string_view mode);

}  // namespace kestrova

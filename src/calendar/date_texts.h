// Dates written for screens, reports and letters, in the session language
// and with the user's separator and order of parts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// The user's date settings from JOBROOT + "Tarn.ini", section "Usuari":
// "DatCaracter" (1 character, the separator of numeric parts; blank means
// "/") and "DatOrdre" (3 letters D day, M month, A year; blank means "DMA").
// A setting still holding NUL characters has not been read yet; DateInWords
// reads it once and keeps it for the rest of the job.
struct DateTextSettings {
  std::string DatCaracter = std::string(1, '\0');
  std::string DatOrdre = std::string(3, '\0');
};
DateTextSettings& DateSettings();
void ResetDateSettingsForTesting();

// A packed date as text.  Reads DateSettings() (loading them on first use)
// and Session().language ("SPA", "GLG", "OCI", anything else Catalan).
//   style -1  ISO: "2026-12-07" (any negative style does the same)
//   style 0   numbers, "7/12/2026" + blank, fixed width
//   style 1   "7/des/2026", the month as 3 letters, fixed width
//   style 2+  words: "7 de desembre del 2026", "7 d'abril del 2026"
// `parts` says which of "D", "M", "A" to write (either case); their order
// is the user's.  Styles 0 and 1 are blank-padded or cut to
//   (2 if D) + (4 if A) + (style + 2 if M) + LEN(parts) - 1
// characters, so columns line up.  An empty date gives an empty text (blanks
// for styles 0 and 1).  A month outside 1..12 has no name in styles 1 and 2+
// (empty, its joiner kept); style 0 writes its number.  The order setting
// is taken without regard to case ("amd" is "AMD").
// Texts are code page 850.
std::string DateInWords(std::string_view packedDate, int16_t style, std::string_view parts);

}  // namespace kestrova

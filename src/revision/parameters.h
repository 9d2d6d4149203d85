// The revision parameters: what the operator asked for on the revision
// form, checked against the concept types, the letter texts and the
// price-index table, and confirmed, before a pass of the revision starts.
//
// Also the form's description hook: what is shown beside a field.
//
// Screen 1 of the form holds, field by field: 1 mode, 2 application date,
// 3 regime, 4-5 from estate and unit, 6-7 to estate and unit, 8 increase
// concept, 9 arrears months, 10 arrears concept, 11 letter date, 12 letter
// text.  Screen 2 holds the confirmation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

struct RevisionParameters {
  std::string Mode = " ";          // "L" report, "N" letters, "A" apply
  std::string ApplicationDate;     // PackedDate
  int16_t Regime = 0;              // 1 to 4 as typed (other values kept)
  std::string FromKey;             // UnitKey: estate and unit, packed
  std::string ToKey;
  int16_t IncreaseConcept = 0;     // numbered concept 1..10
  int16_t ArrearsMonths = 0;
  int16_t ArrearsConcept = 0;      // coded concept
  std::string LetterDate;          // PackedDate
  std::string TextCode;            // as typed (8 characters)
  std::string IndexDate;           // PackedDate of the index applied
  double IndexValue = 0;           // thousandths, an integer value
};

// The run's parameters, rewritten by every check of the form.
RevisionParameters& Revision();
void ResetRevisionParametersForTesting();

// A typed number as a 16-bit integer: nearest, halves to even.  Reads an
// optional sign, digits and decimals after "." or ","; stops at any other
// character.  Blank or no digits: 0.  Values beyond 16 bits are held at
// -32768 or 32767 rather than wrapped, so a mistyped regime of 99999 stays a
// regime no rule admits instead of turning into another one.
int16_t FieldNumber(std::string_view text);

// Fills Revision() from the values of screen 1 (IndexDate and IndexValue
// are left as they are: the index check sets them).
void FillRevisionParameters();

// The form's check hook.  Escape (27) or a screen other than 1: 0 at once.
// Otherwise fills the parameters, runs the checks (increase concept,
// arrears concept, letter text, index) showing each failure in its own
// message window at row 12 and waiting for one key, then the range (at
// least one unit from "Des de" to "Fins a"), and returns -1 when any failed,
// with FormFaultField set to the field of the first failure.  Then the confirmation: screen 2 runs on `key` and the form is
// accepted (0) only when its field holds "S"; else -1.
int16_t ValidateRevisionParameters(int16_t screen, int32_t& key);

// The index check alone: sets IndexDate and IndexValue from the series-I
// record for the application month (exactly, under regime 2; the last one
// on or before it otherwise).  Returns false when there is none.
bool FindRevisionIndex();

// True when at least one unit key lies between the two keys (both
// included); false for an inverted range.
bool RangeHasUnits(std::string_view fromKey, std::string_view toKey);

// The text shown in the description area beside field `field` of screen
// `screen`: a letter text's or a concept's description, a date in words, or
// a number through its mask; empty for a field that has no description.
std::string FieldDescription(int16_t screen, int16_t field);

// How the confirmation screen runs: the form input's RunFormScreen with
// both flags 0, on the check hook's own key variable.  Tests script it.
using FormScreenRunner = void (*)(int16_t screen, int32_t& key);
FormScreenRunner& ConfirmationScreenRunner();

// Sets the check and description hooks on the form input.
void InstallRevisionFormHooks();

}  // namespace kestrova

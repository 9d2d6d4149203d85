// Form input: shows one screen of the job's form (JobForm, session/job_form.h),
// lets the operator walk its fields and edit their values with the line
// editor, checks every value by its type as it is left, hands the finished
// screen to the form's check hook and returns the key that ended it.
//
// The five input-control codes of a field (FormField::controls[0..4]):
//   1  line length: 0 one line; m > 0 the value in lines of m characters
//   2  width of the description area after the value (0: none)
//   3  flags: 1 left out when the first and last field are found (and
//      edited from blanks), 2 secret input (edited from blanks, shown as
//      "*"), 4 not edited (the cursor passes over it), 8 editing starts
//      after the last non-blank character
//   4  value type checked when the field is left:
//        1 a date (blank: the session date), 3 and 12 a plain number,
//        4 stored upper-cased, 6 a whole number 0..10, 11 0..60,
//        others stored as typed
//   5  the field's look-up list (0: none), opened with F4
// The screen's name lists the function keys the screen accepts besides the
// editing keys (hexadecimal, comma-separated: "3c00,3e00"); F1 is always
// added.  Items of the name that are not hexadecimal codes are skipped.
//
// Keys on a screen: Enter, Tab and Down go to the next field (Enter on the
// last field finishes the screen, Down there does nothing), Up and
// Shift-Tab to the previous one (Up on the first field of a sub-screen
// leaves it with Esc), PgUp to the first and PgDn to the last field (when
// the screen lists them), End or Ctrl-B finish the screen from any field
// (when listed; a listed End reaches the form instead of moving the cursor,
// and Ctrl-End is then the way to the end of the text), Esc goes back to the
// first field and, there, leaves; F1 shows the job's
// help; F4 opens the field's look-up list; F2 (or Enter/Down on the last
// field) runs the linked screen; a click on a field moves there.
//
// Hooks: what the form means belongs to the job's revision parameters,
// which plug in here (all optional):
//   check         the finished screen (screen, key): 0 accepts it, any
//                 other value sends the operator back to the first field;
//                 may change the key (a confirmation screen's key).
//   describe      the description shown after a field's value (screen,
//                 field), in code page 850; cut or blank-padded to the
//                 field's description width.
//   listLine      the line a look-up list shows for the record just read
//                 into its file's record variable (list number, line out);
//                 false leaves the record out of the list.
//   handOver      fills the form from the chosen record, which is in its
//                 file's record variable (list, screen, field of the F4).
//   listStart     the key a look-up list opens at (list, screen, field of
//                 the F4), so the list shows what the field holds (or what
//                 was typed into it, LastEdit); empty: the first record.
//
// Around the fields: the bottom row shows the keys the screen answers to
// (F1, F4 when listed, Alt-X, Alt-C, Ctrl-B when listed, Esc) in the session
// language; the row above it says why a typed value was refused, and the
// typed text stays for correction (also after F1, and after F4 when the
// list is left without a choice).  Esc on a field stores nothing and shows
// the stored value again, so the screen always shows what the run will use.
#pragma once

#include <cstdint>
#include <string>

namespace kestrova {

struct FormHooks {
  int16_t (*check)(int16_t screen, int32_t& key) = nullptr;
  std::string (*describe)(int16_t screen, int16_t field) = nullptr;
  bool (*listLine)(int16_t list, std::string& line) = nullptr;
  void (*handOver)(int16_t list, int16_t screen, int16_t field) = nullptr;
  std::string (*listStart)(int16_t list, int16_t screen, int16_t field) = nullptr;
};

// The hooks of the job's form (process-wide; the revision parameters set
// them before the first screen runs).
FormHooks& FormInputHooks();

// The last edit, for the hooks: the value as edited, the key that ended it
// and the field number; cleared when a screen closes.
struct LastEditState {
  std::string value;
  int32_t key = 0;
  int16_t field = 0;
};
LastEditState& LastEdit();

// The field the check hook wants corrected (from 1; 0: none).  The form
// input clears it before each check; when the check refuses the screen,
// editing starts again on that field instead of the first.
int16_t& FormFaultField();

void ResetFormInputForTesting();  // hooks, last edit, fault field

// Runs screen |screen| of the form and returns with `key` set to the key
// that ended it (Esc, Enter, End, Ctrl-B, or the key a sub-screen or the
// check hook left).  A negative number runs it as a sub-screen: Up on its
// first field leaves it with Esc.  A screen with a window (top not 0) opens
// framed over what is on the screen and puts it back on return.  The two
// flags are the suite's extension points; the job always passes 0 and they
// are not used.  A screen number the form does not have shows nothing and
// returns Esc; a screen without an editable field finishes at once (the
// check hook still runs).
void RunFormScreen(int16_t screen, int32_t& key, int16_t& flag1, int16_t& flag2);

// The check of a value by its type (control code 4): 0 when it passes,
// with `value` as it is to be stored (a blank date becomes the session
// date, type 4 upper-cased), -1 when it does not.
int16_t CheckFieldValue(int16_t valueType, std::string& value);

// What the operator reads when CheckFieldValue refuses a value of this
// type: what is wrong and what is allowed, in the session language (empty
// for types that refuse nothing).
std::string FieldCheckMessage(int16_t valueType);

}  // namespace kestrova

// The pop-up calculator: a desk calculator with a paper tape that Alt-X
// opens over any screen of the job.
//
// It floats as a full-height column, 26 cells wide, at columns
// column .. column + 25 (column 1..55): the visible tape lines on rows 2..22,
// a rule on row 23, the entry line on row 24 and the bottom of the frame on
// row 25.  Its tape, value, pending operation and position are kept between
// openings, and between jobs, in "JOBCALC.TMP" of the terminal directory.
// "F" (or Alt-F) closes it and returns the result text to type into the
// field under edit; Esc closes it and returns "".
//
// Keys: digits, "." and Backspace edit the entry; "+", "-", "*", "/" apply
// the waiting operator to the accumulator; "=" or Enter finish a
// calculation; "%" takes a percentage (of the accumulator after "+" or
// "-"); "R" rounds to hundredths, halves to the even hundredth (a negative
// value is cut); "T" changes the sign; "C" clears the entry, then
// everything, then the tape; Left and Right move the window (wrapping from
// column 1 to 55 and back).
//
// A result that is not a number (a division by zero, an overflow past the
// largest double) puts the calculator in its error state: the entry line
// shows the catalogue text "ERROR (C esborra)" instead of a number, the
// value and accumulator are 0, every key but "C", the moves, "F" and Esc is
// refused with a beep, "F" types nothing, and "C" leaves the error state as
// a full clear does.  The tape keeps the operands up to the failed operator
// and gets no result line.  The error state is not written to the state
// file (its form has no place for it): the next opening starts from the
// cleared calculator.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

inline constexpr int16_t kCalculatorTapeEntries = 22;
inline constexpr int16_t kCalculatorFirstColumn = 1;
inline constexpr int16_t kCalculatorLastColumn = 55;
// First tape row when no tape line is visible; rows 2..22 show entries 2..22.
inline constexpr int16_t kCalculatorNoTapeRow = 23;
inline constexpr int16_t kCalculatorTopTapeRow = 2;
// A double holds about 15 significant digits: more decimals are noise, and
// with the point they would push every integer position out of the mask.
inline constexpr int16_t kCalculatorMaxDecimals = 15;

struct CalculatorTapeEntry {
  double value = 0;
  int16_t hasPoint = 0;
  int16_t decimals = 0;
  char op = ' ';  // the operator the value was entered with; blank: a result
  bool operator==(const CalculatorTapeEntry&) const = default;
};

struct CalculatorState {
  int16_t windowColumn = kCalculatorFirstColumn;
  int16_t firstTapeRow = kCalculatorNoTapeRow;
  double value = 0;        // the number in the entry line
  double accumulator = 0;  // the running result
  int16_t cleared = -1;    // a full clear was the last clear: a further one erases the tape
  int16_t entering = 0;    // a number is being typed
  int16_t hasPoint = 0;
  int16_t decimals = 0;
  std::string op;          // operator of the key just pressed ("" or one character)
  std::string previousOp;  // operator waiting for its second operand
  std::array<CalculatorTapeEntry, kCalculatorTapeEntries> tape{};  // [0] is entry 1
  bool error = false;      // the entry line shows the error text (never stored)
  bool operator==(const CalculatorState&) const = default;
};

// JOBCALC.TMP in the session's terminal directory.
std::string CalculatorStatePath();

// The state file's text: four lines (column, first tape row, value,
// accumulator / the three flags and decimals / operator, previous operator
// / then one line per tape entry: value, has point, decimals, operator),
// numbers in plain decimal form (flags 0 or -1), strings in double quotes,
// lines ended by CR LF.
std::string CalculatorStateText(const CalculatorState& state);

// The state read from a state file's text, as far as it is sound: an empty
// text gives the initial state; a missing line or field, or one that is not
// a finite number, keeps its initial value; the column is clamped to 1..55,
// the first tape row to 2..23, decimals to 0..15; any non-zero flag reads
// as -1; an operator that is not one of the calculator's keys reads as
// empty; lines past the last tape entry are ignored.
CalculatorState ParseCalculatorState(std::string_view text);

// What a key did to the calculator.
enum class CalculatorAction {
  kNone,     // nothing to show (ignored or refused)
  kChanged,  // the entry line or the tape changed
  kMoved,    // the window moved, or the tape got shorter: draw it afresh
  kClosed,   // F or Esc: the result text is set
};

// Applies one key code (as ReadKey returns it) to the state.  On kClosed,
// `result` holds the text to type ("" for Esc and in the error state).
CalculatorAction ApplyCalculatorKey(CalculatorState& state, int32_t key, std::string& result);

// The text "F" types: the number (the value while entering, else the
// accumulator) in hundredths, digits only, with "." before any decimal
// past the second; no sign.  12.5 -> "1250", 0.05 -> "5",
// 12.3456 -> "1234.56", 0 -> "0".  Empty in the error state or when the
// number has no digits a double can hold.
std::string CalculatorResultText(const CalculatorState& state);

// The mask a number is shown with: always 22 characters, the point and each
// decimal pushing one integer position out on the left.
std::string CalculatorMask(int16_t hasPoint, int16_t decimals);

// Draws the calculator at its column: the visible tape lines, their top
// border, the rule, the entry line and the bottom border, in the current
// colours.  Cells above the top border are not touched.
void DrawCalculator(const CalculatorState& state);

// Alt-X: loads the state file (created empty when missing), saves the
// screen under the window (the window stack), pushes an empty key map and
// the normal colour pair, and reads keys until F or Esc; then puts the
// screen back, writes the state file whole, and gives back the colours, the
// key map and the cursor.  Returns the result text ("" for Esc).  A state
// file that cannot be written costs the state, not the job: a beep.
std::string OpenCalculator();

}  // namespace kestrova

// The line editor: edits one field value of fixed width in place on the
// screen, as free text on one or several lines, or as a choice among the
// options of a choice list, and returns the key that ended the edit.
//
// Keys come through the key filter (console/keyboard.h), so the hot keys
// and their pop-ups work inside a field; which keys may end the edit, what
// they become and whether typed characters are hidden come from the key map
// (console/key_map.h).
//
// Choice lists.  ChoiceList() holds the options of the next edit (empty:
// free typing).  Each option is introduced by "|" and written as a one-
// character code, ",", and its text: "|S,Sí|N,No".  The option whose code
// equals the value is current (else the first one); the value shows the
// current option's text between two markers, a left and a right triangle,
// and holds its code.  A typed letter picks the next option whose text
// begins with it (the words shown, in the session language), else the next
// one whose code it is.  Damaged lists are read as far as they make sense:
//   - text before the first "|" is ignored;
//   - an empty option ("||", a final "|") is skipped;
//   - an option without "," after its code shows the rest as its text
//     ("|SSí" is code S, text "Sí");
//   - a list without any option is edited as free text.
//
// Key codes are 32-bit here: extended codes above 0x7FFF (Alt-F12 is
// 0x8C00) stay positive, and a mouse click the editor does not handle comes
// back as the negative code -(100 x column + row) of the clicked cell
// (screen rows and columns from 1).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The choice list of the next EditFieldValue (process-wide, set by the
// caller before the call).
std::string& ChoiceList();

// Edits `value` (its length never changes) at (row, column) of the current
// window (LocateInWindow: row 1, column 1 is the first cell inside the
// frame; 0 takes the cursor's current row or column).  lineLength m > 0
// shows the value in lines of m characters one under the other; 0 on one
// line.  `cursor` (1 .. length + 1) is where editing starts and, on return,
// where it stopped.  On return `key` holds the key that ended the edit:
// Enter (also for Tab), Up (also for Shift-Tab and Up on the first line),
// Down (on the last line), Esc (also for Ctrl-F4 and Alt-F4), End when the
// key map lists End (otherwise End moves the cursor after the last non-blank
// character; Ctrl-End always does), a function key, or a click outside the
// value.  With input ended the edit ends with Esc.
void EditFieldValue(int16_t row, int16_t column, int16_t lineLength, std::string& value,
                    int16_t& cursor, int32_t& key);

// One option of a choice list.
struct ChoiceOption {
  char code = ' ';
  std::string text;
};

// The options of a choice-list text (see above for damaged lists).
std::vector<ChoiceOption> ParseChoiceList(std::string_view list);

// Where the words of a value start and end for Ctrl-Left and Ctrl-Right:
// words are separated by " ,.;:".  Ctrl-Left goes to the start of the word
// before the cursor (1 at the latest); Ctrl-Right to the start of the next
// word, or just after the last non-blank character when no word follows
// (the cursor stays when it is already further).
int16_t PreviousWordStart(std::string_view value, int16_t cursor);
int16_t NextWordStart(std::string_view value, int16_t cursor);

}  // namespace kestrova

// What the pop-ups (the calculator, the calendar) share: while one runs over
// a screen, the caller's key map, colour pair and cursor are put aside, and
// they are given back when it closes.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrova {

struct PopupSavedState {
  bool cursorVisible = false;
  int16_t cursorSize = 0;
};

// Applies `keyMapModes` (with `keys`) to the key map (a "+" there saves the
// caller's map), saves the colour pair and selects the normal one, and hides
// the cursor; returns what the cursor was.
PopupSavedState EnterPopup(std::string_view keyMapModes, std::string_view keys = {});

// Takes the saved colour pair and key map back and shows the cursor as it
// was.
void LeavePopup(const PopupSavedState& saved);

// Writes code page 850 text at a screen cell (rows and columns from 1).
void WriteAt(int row, int column, std::string_view text);

}  // namespace kestrova

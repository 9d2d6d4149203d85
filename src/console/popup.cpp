#include "console/popup.h"

#include "console/key_map.h"
#include "platform/screen.h"
#include "windows/windows.h"

namespace kestrova {

PopupSavedState EnterPopup(std::string_view keyMapModes, std::string_view keys) {
  SetKeyMap(keyMapModes, keys);
  SelectColours("+n");
  const PopupSavedState saved{Screen().cursorVisible, Screen().cursorSize};
  SetCursorVisible(false);
  return saved;
}

void LeavePopup(const PopupSavedState& saved) {
  SelectColours("-");
  SetKeyMap("-");
  SetCursorSize(saved.cursorSize);
  SetCursorVisible(saved.cursorVisible);
}

void WriteAt(int row, int column, std::string_view text) {
  SetCursorPosition(row, column);
  WriteText(text);
}

}  // namespace kestrova

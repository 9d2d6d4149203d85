#include "console/keyboard.h"

#include "platform/key_codes.h"
#include "platform/screen.h"

namespace kestrova {
namespace {

constexpr uint16_t kEuroSign = 213;  // the euro in code page 858

// The digit a keypad key stands for while left Alt is held, or -1.
int KeypadDigit(uint16_t key) {
  switch (key) {
    case kKeyIns: return 0;
    case kKeyEnd: return 1;
    case kKeyDown: return 2;
    case kKeyPgDn: return 3;
    case kKeyLeft: return 4;
    case kKeyKeypad5: return 5;
    case kKeyRight: return 6;
    case kKeyHome: return 7;
    case kKeyUp: return 8;
    case kKeyPgUp: return 9;
    default: return -1;
  }
}

bool LeftAltHeld(const InputEvent& event) {
  return event.kind == InputKind::kKey && (event.modifiers & kLeftAltPressed) != 0;
}

// Collects the keypad digits typed while left Alt stays down, starting with
// `first`.  The collection ends when Alt is released (an event without key,
// consumed) or at any other event, which is put back to be read next: the
// operator's next key must not be lost.  Only the value modulo 256 matters,
// so a long run of digits cannot overflow.
uint16_t CollectAltKeypadCode(int first) {
  int code = first;
  for (;;) {
    const InputEvent next = ReadInputEvent();
    if (LeftAltHeld(next)) {
      if (next.key == 0) continue;  // a lone modifier change
      const int digit = KeypadDigit(next.key);
      if (digit >= 0) {
        code = (code * 10 + digit) % 256;
        continue;
      }
    }
    if (!(next.kind == InputKind::kKey && next.key == 0)) Screen().input.push_front(next);
    break;
  }
  return static_cast<uint16_t>(code % 256);
}

// The Alt, Ctrl and Shift variants of the function keys, and Ctrl with Home,
// End, Left and Right; only the first modifier that applies counts.  Ctrl-End
// takes the PC keyboard's own code, so that the line editor can keep the
// cursor's way to the end of the text on it where End finishes the form.
uint16_t FoldModifiers(uint16_t key, uint16_t modifiers) {
  const bool functionKey = key >= kKeyF1 && key <= kKeyF10;
  const bool f11OrF12 = key == kKeyF11 || key == kKeyF12;
  if ((modifiers & (kRightAltPressed | kLeftAltPressed)) != 0) {
    if (functionKey) return static_cast<uint16_t>(key + 0x2D00);
    if (f11OrF12) return static_cast<uint16_t>(key + 0x0600);
  } else if ((modifiers & (kRightCtrlPressed | kLeftCtrlPressed)) != 0) {
    if (functionKey) return static_cast<uint16_t>(key + 0x2300);
    if (f11OrF12) return static_cast<uint16_t>(key + 0x0400);
    if (key == kKeyHome) return kKeyCtrlHome;
    if (key == kKeyEnd) return kKeyCtrlEnd;
    if (key == kKeyRight) return kKeyCtrlRight;
    if (key == kKeyLeft) return kKeyCtrlLeft;
  } else if ((modifiers & kShiftPressed) != 0) {
    if (functionKey) return static_cast<uint16_t>(key + 0x1900);
    if (f11OrF12) return static_cast<uint16_t>(key + 0x0200);
  }
  return key;
}

// Runs a pop-up unless it is already open, and keeps what it returns to be
// typed.  The guard stops a pop-up from opening itself again; the other one
// may open inside it.
void RunHotKeyPopup(HotKeyPopup popup, int16_t& openGuard) {
  if (popup == nullptr || openGuard != 0) return;
  openGuard = -1;
  std::string typed = popup();
  openGuard = 0;
  Keyboard().pendingText = std::move(typed) + Keyboard().pendingText;
}

}  // namespace

KeyboardState& Keyboard() {
  static KeyboardState state;
  return state;
}

void ResetKeyboardForTesting() { Keyboard() = KeyboardState{}; }

void RegisterHotKeyPopups(HotKeyPopup calculator, HotKeyPopup calendar) {
  Keyboard().calculator = calculator;
  Keyboard().calendar = calendar;
}

FilteredKey KeyFilter() {
  KeyboardState& k = Keyboard();
  FilteredKey out;
  // 1. Text a pop-up typed comes first, without touching the console.
  if (!k.pendingText.empty()) {
    out.key = static_cast<uint8_t>(k.pendingText.front());
    k.pendingText.erase(0, 1);
    return out;
  }
  // 2. Mouse set-up on first use.  The backend switches the terminal's
  //    reports on itself; here the reader only takes note.
  if (k.mouseState == 0) {
    if (Screen().mouseButtons == 0) {
      k.mouseState = 3;
    } else {
      k.mouseState = 2;
      k.mouseState = 1;
    }
  }
  // 3. One event; left Alt with keypad digits types a character by its code.
  const InputEvent event = ReadInputEvent();
  k.modifiers = event.modifiers;
  if (event.kind == InputKind::kEnd) {
    k.inputEnded = true;
    return out;
  }
  if (event.kind == InputKind::kMouse) {
    // 7. A press: its button and cell go with key 0.
    if (k.mouseState == 1) {
      out.button = event.button;
      out.row = event.row;
      out.column = event.column;
    }
    return out;
  }
  // A character the code page cannot hold is refused here, with a beep, so
  //    no value ever stores it as garbage.
  if (event.key == kUnmappableCharacterKey) {
    Beep();
    return out;
  }
  // 4. The event already carries the key code.
  uint16_t key = event.key;
  const int digit = LeftAltHeld(event) ? KeypadDigit(key) : -1;
  if (digit >= 0) return FilteredKey{CollectAltKeypadCode(digit)};
  // 5. Alt-E types the euro sign.
  if (key == kKeyAltE) return FilteredKey{kEuroSign};
  // 6. Modified function keys, Home, Left and Right.
  key = FoldModifiers(key, event.modifiers);
  out.key = key;
  // 8. Hot keys.
  if (key == kKeyAltX) RunHotKeyPopup(k.calculator, k.calculatorOpen);
  if (key == kKeyAltC) RunHotKeyPopup(k.calendar, k.calendarOpen);
  return out;
}

int32_t MouseKeyCode(int16_t button, int16_t row, int16_t column) {
  const int32_t buttonNumber = button == kMouseRightButton ? 2 : button == kMouseMiddleButton ? 3 : 1;
  return -(10000 * (buttonNumber - 1) + 100 * column + row);
}

int32_t ReadKey() {
  for (;;) {
    const FilteredKey got = KeyFilter();
    if (got.key != 0) return got.key;
    if (got.button != 0) return MouseKeyCode(got.button, got.row, got.column);
    if (Keyboard().inputEnded) return kKeyEscape;
  }
}

void FlushKeyboard() { FlushInput(); }

}  // namespace kestrova

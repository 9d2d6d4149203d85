#include "console/line_editor.h"

#include <algorithm>

#include "calendar/text_checks.h"
#include "console/key_map.h"
#include "console/keyboard.h"
#include "platform/blanks.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/key_codes.h"
#include "platform/screen.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

// The markers around a choice list: a left- and a right-pointing triangle.
constexpr std::string_view kLeftMarker = "◄"_cp;
constexpr std::string_view kRightMarker = "►"_cp;

constexpr std::string_view kWordSeparators = " ,.;:";

struct Edit {
  explicit Edit(std::string& v) : value(v) {}
  std::string& value;
  int16_t length = 0;     // L
  int16_t top = 0;        // screen cell of the value's first character
  int16_t left = 0;
  int16_t perLine = 0;    // m
  int16_t lines = 1;
  int16_t cursor = 1;
  bool insert = false;
  char mask = 0;
  std::vector<ChoiceOption> options;  // empty: free typing
  std::size_t current = 0;
  int16_t width = 0;      // W: the longest option text
};

// What a key does to the edit.
enum class KeyEffect { kHandled, kEnds };

bool IsTypedCharacter(int32_t key, int32_t lowest) {
  return (key >= lowest && key <= 126) || (key >= 128 && key <= 254);
}


int16_t AfterLastNonBlank(std::string_view value) {
  const std::size_t last = value.find_last_not_of(' ');
  return static_cast<int16_t>(last == std::string_view::npos ? 1 : last + 2);
}

void WriteAt(int row, int column, std::string_view text) {
  SetCursorPosition(row, column);
  WriteText(text);
}

// Redraw: the current option's text, or the value line by line (masked in
// secret input), then the cursor where the next character goes.
void Redraw(Edit& e) {
  if (!e.options.empty()) {
    e.value.assign(static_cast<std::size_t>(e.length), ' ');
    if (e.length > 0) e.value[0] = e.options[e.current].code;
    std::string text = e.options[e.current].text;
    text.resize(static_cast<std::size_t>(e.width), ' ');
    WriteAt(e.top, e.left, text);
    return;
  }
  for (int k = 0; k < e.lines; ++k) {
    const std::size_t from = static_cast<std::size_t>(k) * static_cast<std::size_t>(e.perLine);
    std::string part = e.value.substr(from, static_cast<std::size_t>(e.perLine));
    if (e.mask != 0) part.assign(part.size(), e.mask);
    WriteAt(e.top + k, e.left, part);
  }
  int row = (e.cursor - 1) / e.perLine;
  int column = (e.cursor - 1) % e.perLine;
  if (e.cursor == e.length + 1 && column == 0 && row >= e.lines) {
    // Past the end of a full last line: one past that line, not below it.
    row = e.lines - 1;
    column = e.length - row * e.perLine;
  }
  SetCursorPosition(e.top + row, e.left + column);
}

// Removes the character at position p (from 1); the rest moves left and a
// blank enters at the end.
void RemoveAt(Edit& e, int p) {
  e.value.erase(static_cast<std::size_t>(p - 1), 1);
  e.value.push_back(' ');
}

void PasteClipboard(Edit& e) {
  std::string clean;
  for (char c : GetClipboardText()) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte >= 32 && byte != 127 && byte != 255) clean.push_back(c);
  }
  const std::string_view text = TrimBlanks(clean);
  const std::size_t from = static_cast<std::size_t>(e.cursor - 1);
  if (from >= e.value.size()) return;
  const std::size_t count = std::min(text.size(), e.value.size() - from);
  e.value.replace(from, count, text.substr(0, count));
}

void TypeCharacter(Edit& e, char c) {
  if (e.cursor > e.length) return;
  const std::size_t at = static_cast<std::size_t>(e.cursor - 1);
  if (e.insert) {
    // Only a blank at the end may drop off; a full value refuses.
    if (e.value.back() != ' ') return;
    e.value.pop_back();
    e.value.insert(at, 1, c);
  } else {
    e.value[at] = c;
  }
  ++e.cursor;
}

KeyEffect FreeTextKey(Edit& e, int32_t key) {
  if (IsTypedCharacter(key, 32)) {
    TypeCharacter(e, static_cast<char>(key));
    return KeyEffect::kHandled;
  }
  switch (key) {
    case kKeyLeft: e.cursor = static_cast<int16_t>(std::max(1, e.cursor - 1)); break;
    case kKeyRight: e.cursor = static_cast<int16_t>(std::min(e.length + 1, e.cursor + 1)); break;
    case kKeyHome: e.cursor = 1; break;
    case kKeyEnd:
    case kKeyCtrlEnd: e.cursor = AfterLastNonBlank(e.value); break;
    case kKeyBackspace:
      if (e.cursor > 1) RemoveAt(e, --e.cursor);
      break;
    case kKeyDel:
      if (e.cursor <= e.length) RemoveAt(e, e.cursor);
      break;
    case kKeyCtrlHome:
    case kKeyCtrlY:
      e.value.assign(static_cast<std::size_t>(e.length), ' ');
      e.cursor = 1;
      break;
    case kKeyCtrlLeft: e.cursor = PreviousWordStart(e.value, e.cursor); break;
    case kKeyCtrlRight: e.cursor = NextWordStart(e.value, e.cursor); break;
    case kKeyUp:
    case kKeyShiftTab:
      if (e.cursor <= e.perLine) return KeyEffect::kEnds;
      e.cursor = static_cast<int16_t>(e.cursor - e.perLine);
      break;
    case kKeyDown:
      if (e.cursor + e.perLine > e.length + 1) return KeyEffect::kEnds;
      e.cursor = static_cast<int16_t>(e.cursor + e.perLine);
      break;
    case kKeyCtrlC: SetClipboardText(TrimBlanks(e.value)); break;
    case kKeyCtrlV: PasteClipboard(e); break;
    default: return KeyEffect::kEnds;
  }
  return KeyEffect::kHandled;
}

// The next option after the current one, going round once, whose text
// begins with the typed letter, so the letters follow the words shown in
// the session language; when no text does, the one whose code is that
// letter.  Accents and case do not count ("n" finds "N", "o" finds "Òc").
void FindOptionByLetter(Edit& e, char typed) {
  FoldAccents() = -1;
  const std::string wanted = FoldText(std::string(1, typed));
  const std::size_t n = e.options.size();
  auto search = [&](auto letterOf) {
    for (std::size_t step = 1; step <= n; ++step) {
      const std::size_t i = (e.current + step) % n;
      if (FoldText(letterOf(e.options[i])) == wanted) {
        e.current = i;
        return true;
      }
    }
    return false;
  };
  if (!search([](const ChoiceOption& o) { return o.text.substr(0, 1); })) {
    search([](const ChoiceOption& o) { return std::string(1, o.code); });
  }
  FoldAccents() = 0;
}

KeyEffect ChoiceKey(Edit& e, int32_t key) {
  const std::size_t n = e.options.size();
  if (IsTypedCharacter(key, 33)) {
    FindOptionByLetter(e, static_cast<char>(key));
    return KeyEffect::kHandled;
  }
  switch (key) {
    case kKeyLeft: e.current = (e.current + n - 1) % n; break;
    case kKeyRight:
    case ' ': e.current = (e.current + 1) % n; break;
    case kKeyCtrlC: SetClipboardText(e.options[e.current].text); break;
    case kKeyHome: e.cursor = 1; break;
    case kKeyEnd:
    case kKeyCtrlEnd: e.cursor = AfterLastNonBlank(e.value); break;
    case kKeyBackspace:
    case kKeyDel:
    case kKeyCtrlHome:
    case kKeyCtrlY:
    case kKeyCtrlLeft:
    case kKeyCtrlRight:
    case kKeyCtrlV: break;
    default: return KeyEffect::kEnds;  // Up, Down and Shift-Tab among them
  }
  return KeyEffect::kHandled;
}

// A click: with a choice list the markers step through the options and
// the option text does nothing; in free text a click inside the value moves
// the cursor.  Anywhere else the edit ends.
KeyEffect ClickKey(Edit& e, int32_t key) {
  const int column = -key / 100;
  const int row = -key % 100;
  if (!e.options.empty()) {
    if (row != e.top) return KeyEffect::kEnds;
    if (column == e.left - 1) return ChoiceKey(e, kKeyLeft);
    if (column == e.left + e.width) return ChoiceKey(e, kKeyRight);
    if (column >= e.left && column < e.left + e.width) return KeyEffect::kHandled;
    return KeyEffect::kEnds;
  }
  // A one-line value is L characters wide; the cell after it (where the
  // cursor may stand) is not part of it.
  const int lineWidth = e.lines == 1 ? std::min<int>(e.perLine, e.length) : e.perLine;
  if (row < e.top || row >= e.top + e.lines || column < e.left || column >= e.left + lineWidth) {
    return KeyEffect::kEnds;
  }
  const int position = (row - e.top) * e.perLine + (column - e.left) + 1;
  e.cursor = static_cast<int16_t>(std::min(position, e.length + 1));
  return KeyEffect::kHandled;
}

// End moves the cursor to the end of the text, unless the key map lists
// End: the caller has given the key a meaning of its own (the form is
// finished with it), so it ends the edit, and Ctrl-End is left for the way
// to the end of the text.  Operators expect End to work alike in every
// field, and Ctrl-End goes to the end of a text in the editors they know.
bool EndEndsTheEdit(int32_t key) { return key == kKeyEnd && KeyIsListed(kKeyEnd); }

// Ending rule 1: the keys that stand for others.  Enter stays Enter even
// where End is listed: it goes on to the next field, and End reaches the
// caller itself (a caller that wants Enter taken as End can say so with the
// key map's translations).
int32_t TranslateEndingKey(int32_t key) {
  if (key == kKeyShiftTab) return kKeyUp;
  if (key == kKeyTab) return kKeyEnter;
  if (key == kKeyCtrlF4 || key == kKeyAltF4) return kKeyEscape;
  return key;
}

// Waits for the next key: the cursor shows (without a choice list) only
// while waiting.  A mouse press becomes its click code.
int32_t NextKey(const Edit& e) {
  for (;;) {
    if (e.options.empty()) {
      SetCursorVisible(true);
      SetCursorSize(e.insert ? 50 : 100);
    }
    const FilteredKey got = KeyFilter();
    SetCursorSize(0);
    if (got.key != 0) return got.key;
    if (got.button != 0) return -(100 * got.column + got.row);
    if (Keyboard().inputEnded) return kKeyEscape;
  }
}

}  // namespace

std::string& ChoiceList() {
  static std::string list;
  return list;
}

std::vector<ChoiceOption> ParseChoiceList(std::string_view list) {
  std::vector<ChoiceOption> options;
  const std::size_t first = list.find('|');
  if (first == std::string_view::npos) return options;
  list.remove_prefix(first + 1);
  for (;;) {
    const std::size_t bar = list.find('|');
    std::string_view item = list.substr(0, bar);
    if (!item.empty()) {
      ChoiceOption option;
      option.code = item[0];
      item.remove_prefix(1);
      if (!item.empty() && item[0] == ',') item.remove_prefix(1);
      option.text = std::string(item);
      options.push_back(std::move(option));
    }
    if (bar == std::string_view::npos) break;
    list.remove_prefix(bar + 1);
  }
  return options;
}

int16_t PreviousWordStart(std::string_view value, int16_t cursor) {
  auto separator = [&](int p) { return kWordSeparators.find(value[static_cast<std::size_t>(p - 1)]) != std::string_view::npos; };
  int p = std::min<int>(cursor, static_cast<int>(value.size()) + 1) - 1;
  while (p >= 1 && separator(p)) --p;
  while (p >= 1 && !separator(p)) --p;
  return static_cast<int16_t>(p + 1);
}

int16_t NextWordStart(std::string_view value, int16_t cursor) {
  const int length = static_cast<int>(value.size());
  auto separator = [&](int p) { return kWordSeparators.find(value[static_cast<std::size_t>(p - 1)]) != std::string_view::npos; };
  int p = std::max<int>(cursor, 1);
  while (p <= length && !separator(p)) ++p;
  while (p <= length && separator(p)) ++p;
  if (p > length) p = std::max<int>(cursor, AfterLastNonBlank(value));
  return static_cast<int16_t>(std::min(p, length + 1));
}

void EditFieldValue(int16_t row, int16_t column, int16_t lineLength, std::string& value,
                    int16_t& cursor, int32_t& key) {
  Edit e(value);
  // Form widths are 16-bit; a longer text is edited as far as that goes.
  if (value.size() > 32000) value.resize(32000);
  e.length = static_cast<int16_t>(value.size());
  const WindowState& w = Windows();
  const int windowTop = w.depth > 0 ? w.current.top : 0;
  const int windowLeft = w.depth > 0 ? w.current.left : 0;
  e.top = static_cast<int16_t>(row == 0 ? CursorRow() : windowTop + row);
  e.left = static_cast<int16_t>(column == 0 ? CursorColumn() : windowLeft + column);
  e.perLine = lineLength > 0 ? lineLength : static_cast<int16_t>(e.length + 1);
  e.lines = static_cast<int16_t>(std::max(1, (e.length + e.perLine - 1) / e.perLine));
  e.cursor = static_cast<int16_t>(std::clamp<int>(cursor, 1, e.length + 1));
  e.insert = Screen().insertLock;
  e.mask = KeyMap().current.mask;
  if (e.length > 0) e.options = ParseChoiceList(ChoiceList());

  // Set-up: the markers in the caller's colours, then the underline pair.
  if (!e.options.empty()) {
    for (const ChoiceOption& option : e.options) {
      e.width = std::max<int16_t>(e.width, static_cast<int16_t>(std::min<std::size_t>(option.text.size(), kScreenColumns)));
    }
    const std::string_view code = TrimBlanks(value);
    for (std::size_t i = 0; i < e.options.size(); ++i) {
      if (code.size() == 1 && e.options[i].code == code[0]) {
        e.current = i;
        break;
      }
    }
    WriteAt(e.top, e.left - 1, kLeftMarker);
    WriteAt(e.top, e.left + e.width, kRightMarker);
  }
  SelectColours("u");
  Redraw(e);

  for (;;) {
    key = NextKey(e);
    if (key == kKeyIns) {
      e.insert = !e.insert;
      Screen().insertLock = e.insert;
      continue;
    }
    const KeyEffect effect = key < 0               ? ClickKey(e, key)
                             : EndEndsTheEdit(key) ? KeyEffect::kEnds
                             : !e.options.empty() ? ChoiceKey(e, key)
                                                  : FreeTextKey(e, key);
    if (effect == KeyEffect::kEnds) {
      key = TranslateEndingKey(key);
      if (AcceptMappedKey(key)) break;
    }
    Redraw(e);
  }

  // Ending: the field's colours back, the markers wiped, the cursor home.
  SelectColours("h");
  if (!e.options.empty()) {
    WriteAt(e.top, e.left - 1, " ");
    WriteAt(e.top, e.left + e.width, " ");
  }
  SetCursorPosition(e.top, e.left);
  cursor = e.cursor;
}

}  // namespace kestrova

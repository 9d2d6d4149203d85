#include "console/form_input.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "calendar/text_checks.h"
#include "console/help.h"
#include "console/key_map.h"
#include "console/keyboard.h"
#include "console/line_editor.h"
#include "console/list_browser.h"
#include "platform/codepage.h"
#include "platform/key_codes.h"
#include "platform/screen.h"
#include "session/job_form.h"
#include "session/language.h"
#include "session/session.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

// The two bottom rows of the screen: what went wrong with the last value,
// and the keys the form answers to.
constexpr int kMessageRow = kScreenRows - 1;
constexpr int kKeyLineRow = kScreenRows;

// Control code 3.
constexpr int16_t kLeftOut = 1;
constexpr int16_t kSecret = 2;
constexpr int16_t kNotEdited = 4;
constexpr int16_t kCursorAtEnd = 8;

int16_t LineLength(const FormField& f) { return f.controls[0]; }
int16_t DescriptionWidth(const FormField& f) { return std::max<int16_t>(f.controls[1], 0); }
int16_t Flags(const FormField& f) { return f.controls[2]; }
int16_t ValueType(const FormField& f) { return f.controls[3]; }
int16_t ListNumber(const FormField& f) { return f.controls[4]; }

int ValueColumn(const FormField& f) { return f.labelColumn + static_cast<int>(f.label.size()); }

// Rows the value takes and characters per row.
int ValueLines(const FormField& f) {
  return LineLength(f) > 0 ? std::max(1, f.width / LineLength(f)) : 1;
}
int ValueLineWidth(const FormField& f) { return LineLength(f) > 0 ? LineLength(f) : f.width; }

void WriteInWindow(int row, int column, std::string_view text) {
  LocateInWindow(row, column);
  WriteText(text);
}

bool IsBlank(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

// A choice field shows the text of its value's option, as the line editor
// does, so the field reads the same whether or not it is being edited.
bool ShowChoice(const FormField& f, std::string_view value) {
  const std::vector<ChoiceOption> options = ParseChoiceList(f.help);
  if (options.empty() || f.width < 1) return false;
  std::size_t width = 0;
  const ChoiceOption* current = &options.front();
  for (const ChoiceOption& option : options) {
    width = std::max(width, option.text.size());
    if (!value.empty() && option.code == value[0]) current = &option;
  }
  std::string text = current->text;
  text.resize(std::min<std::size_t>(width, kScreenColumns), ' ');
  WriteInWindow(f.labelRow, ValueColumn(f), text);
  return true;
}

// The value as the form shows it: line by line, "*" for a secret field.
void ShowValue(const FormField& f, std::string_view value) {
  if (ShowChoice(f, value)) return;
  std::string shown(value);
  shown.resize(static_cast<std::size_t>(std::max<int16_t>(f.width, 0)), ' ');
  if ((Flags(f) & kSecret) != 0) shown.assign(shown.size(), kSecretMask);
  const int perLine = ValueLineWidth(f);
  for (int k = 0; k < ValueLines(f); ++k) {
    const std::size_t from = static_cast<std::size_t>(k) * static_cast<std::size_t>(perLine);
    if (from >= shown.size()) break;
    WriteInWindow(f.labelRow + k, ValueColumn(f), std::string_view(shown).substr(from, static_cast<std::size_t>(perLine)));
  }
}

// The description area, blank or with the hook's text.
void ShowDescription(int16_t screen, int16_t field, const FormField& f, bool clearOnly) {
  if (DescriptionWidth(f) == 0) return;
  std::string text;
  if (!clearOnly && FormInputHooks().describe != nullptr) text = FormInputHooks().describe(screen, field);
  text.resize(static_cast<std::size_t>(DescriptionWidth(f)), ' ');
  // One blank keeps a number from running into the words that name it.
  WriteInWindow(f.labelRow, ValueColumn(f) + ValueLineWidth(f) + 1, text);
}

void ShowField(int16_t screen, int16_t field) {
  const FormField& f = JobForm().screens[static_cast<std::size_t>(screen - 1)].fields[static_cast<std::size_t>(field - 1)];
  SelectColours("h");
  ShowValue(f, f.value);
  ShowDescription(screen, field, f, false);
}

// RunFormScreen step 3: the session title on row 1 of the screen (a window screen comes
// over screen 1, whose title is the same), then labels and values.
void DrawScreen(int16_t screen) {
  const FormScreen& s = JobForm().screens[static_cast<std::size_t>(screen - 1)];
  const int titleLength = static_cast<int>(Session().title.size());
  SelectColours("rh");
  SetCursorPosition(1, 41 - static_cast<int>(RoundHalfEven(titleLength / 2.0)));
  WriteText(Session().title);
  SelectColours("n");
  for (int16_t j = 1; j <= s.fieldCount; ++j) {
    const FormField& f = s.fields[static_cast<std::size_t>(j - 1)];
    WriteInWindow(f.labelRow, f.labelColumn, f.label);
  }
  for (int16_t j = 1; j <= s.fieldCount; ++j) ShowField(screen, j);
}

// The field a click (screen cell) hits, among the walked fields that are
// edited, or 0.
int16_t FieldAtClick(const FormScreen& s, int32_t click, int16_t first, int16_t last) {
  int row = -click % 100;
  int column = -click / 100;
  if (s.top != 0) {
    row -= s.top;
    column -= s.left;
  }
  for (int16_t j = first; j <= last; ++j) {
    const FormField& f = s.fields[static_cast<std::size_t>(j - 1)];
    if ((Flags(f) & kNotEdited) != 0) continue;
    if (row >= f.labelRow && row <= f.labelRow + ValueLines(f) - 1 && column >= f.labelColumn &&
        column <= ValueColumn(f) + ValueLineWidth(f) - 1) {
      return j;
    }
  }
  return 0;
}

bool EndsLinkedScreen(int32_t key) {
  return key == kKeyPgUp || key == kKeyPgDn || key == kKeyEnd || key == kKeyCtrlB || key == kKeyEnter ||
         key == kKeyDown || key == kKeyUp;
}

struct Walk {
  int16_t screen = 0;
  bool subScreen = false;
  int16_t first = 0;
  int16_t last = 0;
  int16_t current = 0;
  bool finished = false;
  // What the operator typed into the current field and has not yet got
  // stored (help was asked for, a list left without a choice, a value
  // refused): the next edit of the field starts from it, not from the
  // stored value.
  bool keepTyped = false;
  std::string typed;
};

// The walk (RunFormScreen step 5), after a field: where the key takes the
// cursor.
void Navigate(Walk& w, int32_t& key) {
  const FormScreen& s = JobForm().screens[static_cast<std::size_t>(w.screen - 1)];
  if (key == kKeyPgUp) {
    w.current = w.first;
  } else if (key == kKeyPgDn) {
    w.current = w.last;
  } else if (key == kKeyEnd || key == kKeyCtrlB) {
    w.finished = true;
  } else if (key == kKeyEscape) {
    if (w.current > w.first) {
      w.current = w.first;
    } else {
      w.finished = true;
    }
  } else if (key == kKeyEnter || key == kKeyDown || key == kKeyF2) {
    if (s.linkScreen != 0 && (w.current == w.last || key == kKeyF2)) {
      int16_t none1 = 0, none2 = 0;
      RunFormScreen(static_cast<int16_t>(-s.linkScreen), key, none1, none2);
      if (EndsLinkedScreen(key)) w.finished = true;
    } else if (key == kKeyDown) {
      if (w.current != w.last) ++w.current;
    } else if (key == kKeyEnter) {
      ++w.current;
    }
  } else if (key == kKeyUp) {
    if (w.current != w.first) {
      --w.current;
    } else if (w.subScreen) {
      key = kKeyEscape;
      w.finished = true;
    }
  } else if (key < 0) {
    const int16_t hit = FieldAtClick(s, key, w.first, w.last);
    if (hit != 0) w.current = hit;
  }
}

// The message row: saved when a message first covers it, put back when the
// message goes.
struct MessageRow {
  bool shown = false;
  std::array<Cell, kScreenColumns> saved{};
};

MessageRow& FormMessage() {
  static MessageRow row;
  return row;
}

void ClearFormMessage() {
  MessageRow& m = FormMessage();
  if (!m.shown) return;
  for (int c = 1; c <= kScreenColumns; ++c) WriteCell(kMessageRow, c, m.saved[static_cast<std::size_t>(c - 1)]);
  m.shown = false;
  RefreshScreen();
}

// Why a value was refused, on the message row, until the field is left with
// a value that passes.
void ShowFormMessage(const std::string& text) {
  MessageRow& m = FormMessage();
  if (!m.shown) {
    for (int c = 1; c <= kScreenColumns; ++c) m.saved[static_cast<std::size_t>(c - 1)] = ReadCell(kMessageRow, c);
  }
  m.shown = true;
  std::string line = " " + text;
  line.resize(kScreenColumns, ' ');
  SelectColours("+rh");
  SetCursorPosition(kMessageRow, 1);
  WriteText(line);
  SelectColours("-");
}

// The walk (RunFormScreen step 5) on the current field: edit, check and
// store it, leaving in `key` the key to navigate by; false when the value
// was refused and the same field is to be edited again.
bool EditCurrentField(Walk& w, int32_t& key) {
  FormScreen& s = JobForm().screens[static_cast<std::size_t>(w.screen - 1)];
  const int16_t j = w.current;
  FormField& f = s.fields[static_cast<std::size_t>(j - 1)];
  // 1. The screen's keys and F1.
  SetKeyMap("+a", s.name + ",3b00");
  // 2. Where editing starts from: what the operator typed and has still to
  //    correct, else blanks or the stored value.
  const bool fromBlanks = (Flags(f) & (kLeftOut | kSecret)) != 0;
  if ((Flags(f) & kSecret) != 0) SetKeyMap("h");
  std::string value = w.keepTyped ? w.typed : fromBlanks ? std::string(f.value.size(), ' ') : f.value;
  w.keepTyped = false;
  const bool edited = (Flags(f) & kNotEdited) == 0;
  // 3. A blank description area while the value is edited.
  if (edited) ShowDescription(w.screen, j, f, true);
  // 4. The line editor, unless the field is passed over.
  if (edited) {
    ChoiceList() = f.help;
    int16_t cursor = 1;
    if ((Flags(f) & kCursorAtEnd) != 0) {
      const std::size_t lastChar = value.find_last_not_of(' ');
      cursor = static_cast<int16_t>(lastChar == std::string::npos ? 1 : lastChar + 2);
    }
    EditFieldValue(f.labelRow, static_cast<int16_t>(ValueColumn(f)), LineLength(f), value, cursor, key);
    ChoiceList().clear();
    LastEdit() = LastEditState{value, key, j};
  }
  bool again = false;
  if (key == kKeyF1) {
    // 5. Help on the job's topic; the cursor stays, and so does the text.
    std::string topic = Session().menuOption;
    while (!topic.empty() && topic.back() == ' ') topic.pop_back();
    if (!topic.empty()) ShowHelp(topic);
    key = 0;
    w.keepTyped = edited;
    w.typed = value;
  } else if (key == kKeyF4) {
    // 6. The field's look-up list; a chosen line fills the form.  Without a
    //    list, or when the list is left, the typed text stays.
    key = 0;
    const FormHooks& hooks = FormInputHooks();
    const std::string start = ListNumber(f) != 0 && hooks.listStart != nullptr
                                  ? hooks.listStart(ListNumber(f), w.screen, j)
                                  : std::string();
    if (ListNumber(f) != 0 && BrowseList(ListNumber(f), start)) {
      if (hooks.handOver != nullptr) hooks.handOver(ListNumber(f), w.screen, j);
      ClearFormMessage();
      for (int16_t k = 1; k <= s.fieldCount; ++k) ShowField(w.screen, k);
      key = (j == w.last && s.linkScreen != 0) ? kKeyEnter : kKeyDown;
    } else {
      w.keepTyped = edited;
      w.typed = value;
    }
  } else if (edited) {
    // 7. The value shown again, blanked when left blank, checked by type.
    SelectColours("h");
    ShowValue(f, value);
    ShowDescription(w.screen, j, f, true);
    if (IsBlank(value) && fromBlanks) f.value.assign(f.value.size(), ' ');
    if (key == kKeyEscape) {
      // Esc stores nothing: the screen goes back to the value the run
      // will use, and a complaint about the text thrown away goes too.
      ShowField(w.screen, j);
      ClearFormMessage();
    } else {
      const std::string typed = value;
      if (CheckFieldValue(ValueType(f), value) != 0) {
        Beep();
        ShowFormMessage(FieldCheckMessage(ValueType(f)));
        again = true;
        w.keepTyped = true;
        w.typed = typed;
      } else {
        ClearFormMessage();
        PlaceFieldValue(w.screen, j, value);
        // Every description again: one field may name what another one
        // describes (the unit of an estate).
        for (int16_t k = 1; k <= s.fieldCount; ++k) ShowField(w.screen, k);
      }
    }
  }
  // 8. Secret input off and the accepted keys back.
  SetKeyMap("-");
  return !again;
}

bool ListsKey(std::string_view keys, uint16_t key) {
  const std::vector<uint16_t> listed = ParseKeyList(keys);
  return std::find(listed.begin(), listed.end(), key) != listed.end();
}

// The key line of a screen: the keys that work on it, in the session
// language.  Items that do not fit in two-blank spacing are set closer.
std::string KeyLineText(const FormScreen& s) {
  std::vector<std::string> items;
  items.push_back("F1 " + TranslateText("Ajuda"));
  if (ListsKey(s.name, kKeyF4)) items.push_back("F4 " + TranslateText("Llista"));
  items.push_back("Alt-X " + TranslateText("Calculadora"));
  items.push_back("Alt-C " + TranslateText("Calendari"));
  if (ListsKey(s.name, kKeyCtrlB)) items.push_back("Ctrl-B " + TranslateText("Acaba"));
  items.push_back("Esc " + TranslateText("Surt"));
  for (const char* gap : {"  ", " "}) {
    std::string line;
    for (const std::string& item : items) line += (line.empty() ? "" : gap) + item;
    if (line.size() <= kScreenColumns - 1 || std::string_view(gap) == " ") {
      line.resize(kScreenColumns - 1, ' ');
      return line;
    }
  }
  return {};
}

// Shows the key line; returns what it covered, to be put back.
std::array<Cell, kScreenColumns> ShowKeyLine(const FormScreen& s) {
  std::array<Cell, kScreenColumns> saved{};
  for (int c = 1; c <= kScreenColumns; ++c) saved[static_cast<std::size_t>(c - 1)] = ReadCell(kKeyLineRow, c);
  SelectColours("+r");
  SetCursorPosition(kKeyLineRow, 1);
  WriteText(" " + KeyLineText(s).substr(0, kScreenColumns - 1));
  SelectColours("-");
  return saved;
}

void PutRowBack(int row, const std::array<Cell, kScreenColumns>& saved) {
  for (int c = 1; c <= kScreenColumns; ++c) WriteCell(row, c, saved[static_cast<std::size_t>(c - 1)]);
  RefreshScreen();
}

}  // namespace

FormHooks& FormInputHooks() {
  static FormHooks hooks;
  return hooks;
}

LastEditState& LastEdit() {
  static LastEditState state;
  return state;
}

int16_t& FormFaultField() {
  static int16_t field = 0;
  return field;
}

void ResetFormInputForTesting() {
  FormInputHooks() = FormHooks{};
  LastEdit() = LastEditState{};
  FormFaultField() = 0;
  FormMessage() = MessageRow{};
}

std::string FieldCheckMessage(int16_t valueType) {
  switch (valueType) {
    case 1: return TranslateText("Data incorrecta: escriviu una data que existeixi, dia, mes i any"_cp);
    case 3:
    case 12: return TranslateText("Número incorrecte: escriviu només xifres, sense signe ni decimals"_cp);
    case 6: return TranslateText("Número incorrecte: ha de ser un enter de 0 a 10"_cp);
    case 11: return TranslateText("Número incorrecte: ha de ser un enter de 0 a 60"_cp);
    default: return {};
  }
}

int16_t CheckFieldValue(int16_t valueType, std::string& value) {
  switch (valueType) {
    case 1:
      if (IsBlank(value)) value = DateDigits(Session().sessionDate);
      return ParseDateText(value) == 0 ? 0 : -1;
    case 3:
    case 12:
      return CheckNumberText(value, "") == 0 ? 0 : -1;
    case 4:
      FoldAccents() = 0;
      value = FoldText(value);
      return 0;
    case 6:
      return CheckNumberRange(value, 0, 10, 0) == 0 ? 0 : -1;
    case 11:
      return CheckNumberRange(value, 0, 60, 0) == 0 ? 0 : -1;
    default:
      return 0;
  }
}

void RunFormScreen(int16_t screen, int32_t& key, int16_t& flag1, int16_t& flag2) {
  (void)flag1;
  (void)flag2;
  // 1. A negative number is a sub-screen.
  Walk w;
  w.subScreen = screen < 0;
  w.screen = static_cast<int16_t>(std::abs(screen));
  JobFormState& form = JobForm();
  if (w.screen < 1 || w.screen > static_cast<int>(form.screens.size())) {
    key = kKeyEscape;
    return;
  }
  const FormScreen& s = form.screens[static_cast<std::size_t>(w.screen - 1)];
  // 2. The screen's window.
  const bool windowed = s.top != 0;
  if (windowed) {
    SelectColours("+n");
    PushWindow(s.top, s.left, s.bottom, s.right);
    DrawWindowFrame(2);
    SelectColours("-");
  }
  // 3. The title, the labels, the values and their descriptions.
  DrawScreen(w.screen);
  // 4. The first and the last field of the walk.
  for (int16_t j = 1; j <= s.fieldCount; ++j) {
    if ((Flags(s.fields[static_cast<std::size_t>(j - 1)]) & kLeftOut) != 0) continue;
    if (w.first == 0) w.first = j;
    w.last = j;
  }
  // The key line, on a screen of its own (a window screen comes over one
  // that shows it already).
  const bool keyLine = !windowed && !w.subScreen;
  std::array<Cell, kScreenColumns> underKeyLine{};
  if (keyLine) underKeyLine = ShowKeyLine(s);
  int16_t start = w.first;
  for (;;) {
    // 5. The walk over the fields.
    w.current = start;
    w.finished = w.first == 0;
    w.keepTyped = false;
    while (!w.finished && w.current >= w.first && w.current <= w.last) {
      const int16_t before = w.current;
      if (!EditCurrentField(w, key)) continue;
      Navigate(w, key);
      // Text kept for correction belongs to the field it was typed in.
      if (w.current != before || w.finished) w.keepTyped = false;
      // A field that is passed over must not hold the cursor: when the key
      // that brought the cursor does not move it on, it goes on downwards
      // (upwards after Up), so a screen of such fields ends.
      const FormField& f = s.fields[static_cast<std::size_t>(before - 1)];
      if ((Flags(f) & kNotEdited) != 0 && !w.finished && w.current == before) {
        w.current = static_cast<int16_t>(key == kKeyUp ? before - 1 : before + 1);
      }
    }
    // 6. The finished screen goes to the form's check, which may name the
    //    field to correct.
    FormFaultField() = 0;
    if (FormInputHooks().check == nullptr || FormInputHooks().check(w.screen, key) == 0) break;
    // Nothing the operator could correct: no field, or no more input.
    if (w.first == 0 || Keyboard().inputEnded) break;
    const int16_t fault = FormFaultField();
    start = fault >= w.first && fault <= w.last ? fault : w.first;
  }
  ClearFormMessage();
  if (keyLine) PutRowBack(kKeyLineRow, underKeyLine);
  // 7. The window closes; the last edit is forgotten.
  if (windowed) PopWindow();
  LastEdit() = LastEditState{};
}

}  // namespace kestrova

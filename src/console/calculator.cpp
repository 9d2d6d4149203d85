#include "console/calculator.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "console/keyboard.h"
#include "console/popup.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/screen.h"
#include "session/language.h"
#include "session/list_input.h"
#include "session/session.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

// The window is 26 cells wide: a frame cell, 22 for the number, the
// operator column, a frame cell.
constexpr int kWindowWidth = 26;
constexpr int kNumberWidth = 22;
constexpr int kRuleRow = 23;
constexpr int kEntryRow = 24;
constexpr int kBottomRow = 25;

// Integer part of the number mask; the point and the decimals take its
// positions from the left.
constexpr std::string_view kIntegerMask = "Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";

// Computed values keep at most this many digits in all: more would show
// the noise of binary fractions (0.1 + 0.2).
constexpr int kSignificantDigits = 15;

// Doubles hold every integer up to 2^53 exactly.
constexpr double kExactIntegerLimit = 9007199254740992.0;

constexpr std::string_view kErrorText = "ERROR (C esborra)";

double PowerOfTen(int n) { return std::pow(10.0, n); }

int16_t Flag(bool set) { return set ? -1 : 0; }

// ---- The keys ---------------------------------------------------------

// The digits a value typed or computed with `decimals` decimals stands for,
// as an exact integer: value x 10^decimals snapped to the nearest integer
// (typed 0.57 is 0.5700000000000001 inside).  False when the digits do not
// fit a double exactly.
bool ExactDigits(double value, int16_t decimals, double& digits) {
  if (decimals < 0 || decimals > kCalculatorMaxDecimals) return false;
  const double scaled = value * PowerOfTen(decimals);
  if (!std::isfinite(scaled) || std::fabs(scaled) >= kExactIntegerLimit) return false;
  digits = RoundHalfEven(scaled);
  return true;
}

// Normalisation of a computed value: as many decimals as it has, up to 15
// digits in all, the last one rounded to nearest, trailing zeros dropped.
void Normalise(CalculatorState& s, double computed) {
  int integerDigits = 0;
  for (double a = std::fabs(computed); a >= 1.0 && integerDigits < 400; a /= 10.0) ++integerDigits;
  int kept = 0;
  double scaled = computed;
  while (scaled != std::trunc(scaled) && integerDigits + kept < kSignificantDigits) {
    scaled *= 10.0;
    ++kept;
  }
  scaled = RoundHalfEven(scaled);
  while (kept > 0 && std::fmod(scaled, 10.0) == 0.0) {
    scaled /= 10.0;
    --kept;
  }
  s.value = scaled / PowerOfTen(kept);
  s.decimals = static_cast<int16_t>(kept);
  s.hasPoint = Flag(kept > 0);
}

void ClearAll(CalculatorState& s) {
  s.value = 0;
  s.accumulator = 0;
  s.op.clear();
  // The waiting operator goes too: kept, it would apply to the empty
  // accumulator (C C 5 + 3 = would give 3).
  s.previousOp.clear();
  s.hasPoint = 0;
  s.decimals = 0;
  s.entering = 0;
  s.cleared = -1;
  s.error = false;
}

void EnterError(CalculatorState& s) {
  ClearAll(s);
  s.cleared = 0;
  s.error = true;
}

// The value goes to entry 22 of the tape after every entry moved up one;
// one more tape line becomes visible until the tape fills the column.
void PushTape(CalculatorState& s, double value, int16_t hasPoint, int16_t decimals, char op) {
  if (s.firstTapeRow > kCalculatorTopTapeRow) --s.firstTapeRow;
  std::move(s.tape.begin() + 1, s.tape.end(), s.tape.begin());
  s.tape.back() = CalculatorTapeEntry{value, hasPoint, decimals, op};
}

void PushValue(CalculatorState& s, char op) { PushTape(s, s.value, s.hasPoint, s.decimals, op); }

void TypeDigit(CalculatorState& s, int digit) {
  if (s.entering == 0) {
    s.value = 0;
    s.hasPoint = 0;
    s.decimals = 0;
  }
  // A digit extends the number away from zero, so "5 T 3" gives -53.
  const double sign = std::signbit(s.value) ? -1.0 : 1.0;
  if (s.hasPoint == 0) {
    s.value = s.value * 10.0 + sign * digit;
  } else if (s.decimals < kCalculatorMaxDecimals) {
    ++s.decimals;
    const double typed = s.value + sign * digit / PowerOfTen(s.decimals);
    double digits = 0;
    s.value = ExactDigits(typed, s.decimals, digits) ? digits / PowerOfTen(s.decimals) : typed;
    if (s.value == 0 && sign < 0) s.value = -0.0;
  } else {
    Beep();
  }
  s.entering = -1;
  if (!std::isfinite(s.value)) EnterError(s);
}

void TypePoint(CalculatorState& s) {
  if (s.entering == 0) {
    s.value = 0;
    s.hasPoint = 0;
    s.decimals = 0;
  }
  if (s.hasPoint == 0) {
    s.hasPoint = -1;
    s.decimals = 0;
  }
  s.entering = -1;
}

void RubOut(CalculatorState& s) {
  if (s.hasPoint == 0) {
    s.value = std::trunc(s.value / 10.0);
  } else {
    double digits = 0;
    const bool exact = ExactDigits(s.value, s.decimals, digits);
    --s.decimals;
    if (s.decimals < 0) {
      s.hasPoint = 0;
      s.decimals = 0;
    } else if (exact) {
      s.value = std::trunc(digits / 10.0) / PowerOfTen(s.decimals);
    } else {
      s.value = std::trunc(s.value * PowerOfTen(s.decimals)) / PowerOfTen(s.decimals);
    }
  }
  s.entering = Flag(s.value != 0);
}

// "R": hundredths, an exact half to the even hundredth; the remainder keeps
// the value's sign, so a negative value is cut rather than rounded.  Worked
// on the value's own digits where a double holds them, so that a typed
// 2.675 rounds as its digits say and not as its binary neighbour does.
double RoundToHundredths(double value, int16_t decimals) {
  const int16_t d = std::max<int16_t>(decimals, 2);
  double digits = 0;
  if (ExactDigits(value, d, digits)) {
    const double unit = PowerOfTen(d - 2);
    const double rest = std::fmod(digits, unit);
    double scaled = (digits - rest) / unit;
    if (rest > unit / 2 || (rest == unit / 2 && std::fmod(scaled, 2.0) != 0.0)) scaled += 1.0;
    return scaled / 100.0;
  }
  double scaled = value * 100.0;
  const double fraction = scaled - std::trunc(scaled);
  scaled = std::trunc(scaled);
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(scaled, 2.0) != 0.0)) scaled += 1.0;
  return scaled / 100.0;
}

void RoundKey(CalculatorState& s) {
  s.value = RoundToHundredths(s.value, s.decimals);
  s.hasPoint = -1;
  s.decimals = 2;
  PushValue(s, 'R');
}

void PercentKey(CalculatorState& s) {
  PushValue(s, '%');
  const double computed = s.previousOp == "+" || s.previousOp == "-" ? s.accumulator / 100.0 * s.value
                                                                     : s.value / 100.0;
  if (!std::isfinite(computed)) return EnterError(s);
  Normalise(s, computed);
}

// "+", "-", "*", "/", "=": the waiting operator takes the value.
void ApplyOperator(CalculatorState& s, char pressed) {
  const char waiting = s.previousOp.empty() ? '\0' : s.previousOp[0];
  double result = s.value;
  switch (waiting) {
    case '+': result = s.accumulator + s.value; break;
    case '-': result = s.accumulator - s.value; break;
    case '*': result = s.accumulator * s.value; break;
    case '/': result = s.value == 0 ? std::nan("") : s.accumulator / s.value; break;
    default: break;
  }
  PushValue(s, pressed);
  if (!std::isfinite(result)) return EnterError(s);
  s.accumulator = result;
  Normalise(s, result);
  if (pressed == '=') {
    s.op.clear();
    PushValue(s, ' ');
  }
  s.entering = 0;
  s.cleared = 0;
  s.previousOp = pressed == '=' ? std::string() : std::string(1, pressed);
}

// "C": the entry, then everything, then the tape.
CalculatorAction ClearKey(CalculatorState& s) {
  if (s.error) {
    ClearAll(s);
    return CalculatorAction::kChanged;
  }
  if (s.entering != 0) {
    s.value = 0;
    s.hasPoint = 0;
    s.decimals = 0;
    s.entering = 0;
    s.op = s.previousOp;
    return CalculatorAction::kChanged;
  }
  if (s.cleared == 0) {
    ClearAll(s);
    return CalculatorAction::kChanged;
  }
  s.tape.fill(CalculatorTapeEntry{});
  s.firstTapeRow = kCalculatorNoTapeRow;
  return CalculatorAction::kMoved;
}

bool IsOperatorKey(char c) { return std::string_view("+-*/%RC=").find(c) != std::string_view::npos; }

// ---- The state file ---------------------------------------------------

std::string PlainNumber(double value) {
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The items of one line by the suite's list-input rules.
std::vector<std::string> LineItems(std::string_view line) {
  std::vector<std::string> items;
  ListInput in = MakeListInput(line);
  std::string item;
  while (items.size() < 8 && ReadTextItem(in, item) == ItemStatus::kOk) items.push_back(item);
  return items;
}

// Item i as a finite number, or false (missing, empty, not a number).
bool NumberItem(const std::vector<std::string>& items, std::size_t i, double& out) {
  if (i >= items.size()) return false;
  const std::string& text = items[i];
  if (text.empty() || text.size() > 400) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return false;
  out = value;
  return true;
}

void ReadInteger(const std::vector<std::string>& items, std::size_t i, int16_t low, int16_t high, int16_t& out) {
  double value = 0;
  if (NumberItem(items, i, value)) out = static_cast<int16_t>(std::clamp<double>(std::trunc(value), low, high));
}

void ReadFlag(const std::vector<std::string>& items, std::size_t i, int16_t& out) {
  double value = 0;
  if (NumberItem(items, i, value)) out = Flag(value != 0);
}

void ReadDouble(const std::vector<std::string>& items, std::size_t i, double& out) {
  double value = 0;
  if (NumberItem(items, i, value)) out = value;
}

std::string ReadOperator(const std::vector<std::string>& items, std::size_t i, std::string_view allowed) {
  if (i >= items.size() || items[i].size() != 1) return "";
  return allowed.find(items[i][0]) != std::string_view::npos ? items[i] : "";
}

// ---- The screen -------------------------------------------------------

std::string Rule(std::string_view left, std::string_view right) {
  std::string line(left);
  for (int i = 0; i < kWindowWidth - 2; ++i) line += "─"_cp;
  return line + std::string(right);
}

std::string FormattedNumber(double value, int16_t hasPoint, int16_t decimals) {
  return FormatWithMask(CalculatorMask(hasPoint, decimals), value);
}

void WindowOver(const CalculatorState& s) {
  PushWindow(1, s.windowColumn, kBottomRow, s.windowColumn + kWindowWidth - 1);
}

}  // namespace

std::string CalculatorStatePath() { return Session().terminalDirectory + "JOBCALC.TMP"; }

std::string CalculatorMask(int16_t hasPoint, int16_t decimals) {
  const int16_t d = std::clamp<int16_t>(decimals, 0, kCalculatorMaxDecimals);
  std::string tail(kIntegerMask);
  if (hasPoint != 0) tail += '.';
  tail.append(static_cast<std::size_t>(d), '9');
  return "-" + tail.substr(tail.size() - kIntegerMask.size());
}

std::string CalculatorStateText(const CalculatorState& s) {
  constexpr std::string_view kEnd = "\r\n";
  std::string out;
  out += std::to_string(s.windowColumn) + "," + std::to_string(s.firstTapeRow) + "," + PlainNumber(s.value) + "," +
         PlainNumber(s.accumulator) + std::string(kEnd);
  out += std::to_string(s.cleared) + "," + std::to_string(s.entering) + "," + std::to_string(s.hasPoint) + "," +
         std::to_string(s.decimals) + std::string(kEnd);
  out += Quoted(s.op) + "," + Quoted(s.previousOp) + std::string(kEnd);
  for (const CalculatorTapeEntry& e : s.tape) {
    out += PlainNumber(e.value) + "," + std::to_string(e.hasPoint) + "," + std::to_string(e.decimals) + "," +
           Quoted(std::string(1, e.op)) + std::string(kEnd);
  }
  return out;
}

CalculatorState ParseCalculatorState(std::string_view text) {
  CalculatorState s;
  std::vector<std::vector<std::string>> lines;
  while (!text.empty() && lines.size() < 3 + kCalculatorTapeEntries) {
    const std::size_t end = text.find('\n');
    lines.push_back(LineItems(text.substr(0, end)));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  lines.resize(3 + kCalculatorTapeEntries);
  ReadInteger(lines[0], 0, kCalculatorFirstColumn, kCalculatorLastColumn, s.windowColumn);
  ReadInteger(lines[0], 1, kCalculatorTopTapeRow, kCalculatorNoTapeRow, s.firstTapeRow);
  ReadDouble(lines[0], 2, s.value);
  ReadDouble(lines[0], 3, s.accumulator);
  ReadFlag(lines[1], 0, s.cleared);
  ReadFlag(lines[1], 1, s.entering);
  ReadFlag(lines[1], 2, s.hasPoint);
  ReadInteger(lines[1], 3, 0, kCalculatorMaxDecimals, s.decimals);
  s.op = ReadOperator(lines[2], 0, "+-*/%RC=");
  s.previousOp = ReadOperator(lines[2], 1, "+-*/");
  for (std::size_t i = 0; i < s.tape.size(); ++i) {
    const std::vector<std::string>& items = lines[3 + i];
    CalculatorTapeEntry& e = s.tape[i];
    ReadDouble(items, 0, e.value);
    ReadFlag(items, 1, e.hasPoint);
    ReadInteger(items, 2, 0, kCalculatorMaxDecimals, e.decimals);
    const std::string op = ReadOperator(items, 3, "+-*/%R=");
    e.op = op.empty() ? ' ' : op[0];
  }
  return s;
}

CalculatorAction ApplyCalculatorKey(CalculatorState& s, int32_t key, std::string& result) {
  const bool extended = key > 255 || key < -255;
  if (extended) {
    switch (key) {
      case kKeyLeft:
      case kKeyCtrlLeft:
        s.windowColumn = s.windowColumn <= kCalculatorFirstColumn ? kCalculatorLastColumn
                                                                  : static_cast<int16_t>(s.windowColumn - 1);
        return CalculatorAction::kMoved;
      case kKeyRight:
      case kKeyCtrlRight:
        s.windowColumn = s.windowColumn >= kCalculatorLastColumn ? kCalculatorFirstColumn
                                                                 : static_cast<int16_t>(s.windowColumn + 1);
        return CalculatorAction::kMoved;
      case kKeyAltF:
        result = CalculatorResultText(s);
        return CalculatorAction::kClosed;
      default: return CalculatorAction::kNone;
    }
  }
  const char c = static_cast<char>(key >= 'a' && key <= 'z' ? key - 32 : key);
  if (key == kKeyEscape) {
    result.clear();
    return CalculatorAction::kClosed;
  }
  if (c == 'F') {
    result = CalculatorResultText(s);
    return CalculatorAction::kClosed;
  }
  if (c == 'C') {
    s.op = "C";
    return ClearKey(s);
  }
  const bool known = (c >= '0' && c <= '9') || c == '.' || key == kKeyBackspace || key == kKeyEnter ||
                     c == 'T' || IsOperatorKey(c);
  if (!known) return CalculatorAction::kNone;
  if (s.error) {
    Beep();
    return CalculatorAction::kNone;
  }
  if (c >= '0' && c <= '9') {
    TypeDigit(s, c - '0');
  } else if (c == '.') {
    TypePoint(s);
  } else if (key == kKeyBackspace) {
    RubOut(s);
  } else if (c == 'T') {
    s.value = -s.value;
  } else if (key == kKeyEnter || c == '=') {
    if (s.entering == 0) return CalculatorAction::kNone;
    s.op = "=";
    ApplyOperator(s, '=');
  } else {
    s.op = std::string(1, c);
    if (c == 'R') {
      RoundKey(s);
    } else if (c == '%') {
      PercentKey(s);
    } else {
      ApplyOperator(s, c);
    }
  }
  return CalculatorAction::kChanged;
}

std::string CalculatorResultText(const CalculatorState& s) {
  if (s.error) return "";
  const int d = std::max<int>(2, s.decimals);
  const double number = s.entering != 0 ? s.value : s.accumulator;
  double n = RoundHalfEven(number * PowerOfTen(d));
  if (!std::isfinite(n)) return "";
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(std::fabs(std::fmod(n, 10.0)))));
    n = std::trunc(n / 10.0);
  } while (n != 0);
  if (d == 2) return digits;
  const std::size_t extra = static_cast<std::size_t>(d - 2);
  if (digits.size() < extra) digits.insert(0, extra - digits.size(), '0');
  return digits.substr(0, digits.size() - extra) + "." + digits.substr(digits.size() - extra);
}

void DrawCalculator(const CalculatorState& s) {
  const int col = s.windowColumn;
  HoldScreenRefresh();
  for (int i = std::max<int>(s.firstTapeRow, kCalculatorTopTapeRow); i < kRuleRow; ++i) {
    const CalculatorTapeEntry& e = s.tape[static_cast<std::size_t>(i - 1)];
    WriteAt(i, col, std::string("│"_cp) + FormattedNumber(e.value, e.hasPoint, e.decimals) + " " + std::string(1, e.op) + std::string("│"_cp));
  }
  const bool tapeShown = s.firstTapeRow < kCalculatorNoTapeRow;
  if (tapeShown && s.firstTapeRow - 1 >= 1) WriteAt(s.firstTapeRow - 1, col, Rule("┌"_cp, "┐"_cp));
  WriteAt(kRuleRow, col, tapeShown ? Rule("├"_cp, "┤"_cp) : Rule("┌"_cp, "┐"_cp));
  std::string entry;
  if (s.error) {
    entry = TranslateText(kErrorText);
    entry.resize(std::min<std::size_t>(entry.size(), kNumberWidth));
    entry.insert(0, kNumberWidth - entry.size(), ' ');
  } else {
    entry = FormattedNumber(s.value, s.hasPoint, s.decimals);
  }
  WriteAt(kEntryRow, col, std::string("│"_cp) + entry + "  " + std::string("│"_cp));
  WriteAt(kBottomRow, col, Rule("└"_cp, "┘"_cp));
  ReleaseScreenRefresh();
}

std::string OpenCalculator() {
  const std::string path = CalculatorStatePath();
  std::string text;
  if (!ReadWholeFile(path, text)) {
    text.clear();
    WriteWholeFile(path, "");
  }
  CalculatorState s = ParseCalculatorState(text);

  const PopupSavedState saved = EnterPopup("+e");
  WindowOver(s);
  DrawCalculator(s);

  std::string result;
  for (;;) {
    const CalculatorAction action = ApplyCalculatorKey(s, ReadKey(), result);
    if (action == CalculatorAction::kClosed) break;
    if (action == CalculatorAction::kMoved) {
      // What was under the old place comes back before the window is drawn
      // at the new one.
      HoldScreenRefresh();
      PopWindow();
      WindowOver(s);
      DrawCalculator(s);
      ReleaseScreenRefresh();
    } else if (action == CalculatorAction::kChanged) {
      DrawCalculator(s);
    }
  }

  PopWindow();
  if (!WriteWholeFile(path, CalculatorStateText(s))) Beep();
  LeavePopup(saved);
  return result;
}

}  // namespace kestrova

#include "platform/screen.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/host.h"

namespace kestrova {
namespace {

bool Inside(int row, int column) {
  return row >= 1 && row <= kScreenRows && column >= 1 && column <= kScreenColumns;
}

Cell& CellAt(int row, int column) {
  return Screen().cells[static_cast<std::size_t>((row - 1) * kScreenColumns + (column - 1))];
}

void EndOnLostInput() { EndProcess(0); }

// A rectangle clipped to the screen; empty when nothing of it is on screen.
struct Rect {
  int top, left, bottom, right;
  bool Empty() const { return top > bottom || left > right; }
};

Rect Clip(int top, int left, int bottom, int right) {
  return {std::max(top, 1), std::max(left, 1), std::min(bottom, static_cast<int>(kScreenRows)),
          std::min(right, static_cast<int>(kScreenColumns))};
}

}  // namespace

ScreenState& Screen() {
  static ScreenState state = [] {
    ScreenState s;
    s.inputGone = EndOnLostInput;
    return s;
  }();
  return state;
}

void ResetScreenForTesting() {
  Screen() = ScreenState{};
  Screen().inputGone = EndOnLostInput;
}

void RefreshScreen() {
  const ScreenState& s = Screen();
  if (s.refreshHeld == 0 && s.backend.show != nullptr) s.backend.show(s);
}

void HoldScreenRefresh() { ++Screen().refreshHeld; }

void ReleaseScreenRefresh() {
  ScreenState& s = Screen();
  if (s.refreshHeld > 0 && --s.refreshHeld == 0) RefreshScreen();
}

void SetCursorPosition(int row, int column) {
  ScreenState& s = Screen();
  s.cursorRow = static_cast<int16_t>(std::clamp(row, 1, static_cast<int>(kScreenRows)));
  s.cursorColumn = static_cast<int16_t>(std::clamp(column, 1, static_cast<int>(kScreenColumns)));
  RefreshScreen();
}

int16_t CursorRow() { return Screen().cursorRow; }
int16_t CursorColumn() { return Screen().cursorColumn; }

void SetCursorSize(int size) {
  Screen().cursorSize = static_cast<int16_t>(std::clamp(size, 0, 100));
  RefreshScreen();
}

void SetCursorVisible(bool visible) {
  Screen().cursorVisible = visible;
  RefreshScreen();
}

void SetTextColours(int foreground, int background) {
  Screen().foreground = static_cast<uint8_t>(foreground & 15);
  Screen().background = static_cast<uint8_t>(background & 15);
}

uint8_t CurrentAttribute() {
  return static_cast<uint8_t>(Screen().foreground + 16 * Screen().background);
}

void WriteText(std::string_view text) {
  ScreenState& s = Screen();
  int row = s.cursorRow;
  int column = s.cursorColumn;
  const uint8_t attribute = CurrentAttribute();
  for (char c : text) {
    if (row > kScreenRows) break;
    CellAt(row, column) = {static_cast<uint8_t>(c), attribute};
    if (++column > kScreenColumns) {
      column = 1;
      ++row;
    }
  }
  if (row > kScreenRows) {
    row = kScreenRows;
    column = kScreenColumns;
  }
  s.cursorRow = static_cast<int16_t>(row);
  s.cursorColumn = static_cast<int16_t>(column);
  RefreshScreen();
}

Cell ReadCell(int row, int column) {
  if (!Inside(row, column)) return Cell{};
  return CellAt(row, column);
}

void WriteCell(int row, int column, Cell cell) {
  if (!Inside(row, column)) return;
  CellAt(row, column) = cell;
  RefreshScreen();
}

void ClearRectangle(int top, int left, int bottom, int right) {
  const Rect r = Clip(top, left, bottom, right);
  if (r.Empty()) return;
  const Cell blank{' ', CurrentAttribute()};
  for (int row = r.top; row <= r.bottom; ++row) {
    for (int column = r.left; column <= r.right; ++column) CellAt(row, column) = blank;
  }
  RefreshScreen();
}

void ScrollRectangle(int top, int left, int bottom, int right, int lines) {
  const Rect r = Clip(top, left, bottom, right);
  if (r.Empty() || lines == 0) return;
  const int height = r.bottom - r.top + 1;
  const Cell blank{' ', CurrentAttribute()};
  // Walk in the direction that never reads a row already overwritten.
  const bool up = lines > 0;
  const int shift = std::min(up ? lines : -lines, height);
  for (int k = 0; k < height; ++k) {
    const int row = up ? r.top + k : r.bottom - k;
    const int from = up ? row + shift : row - shift;
    const bool fromInside = from >= r.top && from <= r.bottom;
    for (int column = r.left; column <= r.right; ++column) {
      CellAt(row, column) = fromInside ? CellAt(from, column) : blank;
    }
  }
  RefreshScreen();
}

void Beep() {
  ScreenState& s = Screen();
  ++s.beeps;
  if (s.backend.beep != nullptr) s.backend.beep();
}

std::string ScreenRowText(int row) {
  std::string line;
  for (int column = 1; column <= kScreenColumns; ++column) {
    AppendUtf8(line, Cp850DisplayCodePoint(ReadCell(row, column).character));
  }
  return line;
}

namespace {

// Asks the backend for input when none is queued.  Without a backend input
// has ended.
void FillInput(int timeoutMs) {
  ScreenState& s = Screen();
  if (!s.input.empty()) return;
  if (s.backend.waitInput != nullptr) {
    // Whatever is on the grid is shown before the operator is waited for.
    s.refreshHeld = 0;
    RefreshScreen();
    s.backend.waitInput(s, timeoutMs);
  } else {
    s.input.push_back({InputKind::kEnd});
  }
}

}  // namespace

bool KeyWaiting() {
  FillInput(0);
  return !Screen().input.empty();
}

bool KeyWaitingWithin(int timeoutMs) {
  FillInput(timeoutMs);
  return !Screen().input.empty();
}

InputEvent ReadInputEvent() {
  ScreenState& s = Screen();
  if (s.endReported && s.input.empty() && s.inputGone != nullptr) s.inputGone();
  while (s.input.empty()) FillInput(-1);
  const InputEvent event = s.input.front();
  s.input.pop_front();
  if (event.kind == InputKind::kEnd) {
    s.endReported = true;
    // Nothing can follow the end of input.
    s.input.clear();
  }
  if (event.kind == InputKind::kKey && event.key == kKeyIns && event.modifiers == 0) {
    s.insertLock = !s.insertLock;
  }
  return event;
}

void FlushInput() {
  ScreenState& s = Screen();
  // Drop what is queued and what the backend already holds, but keep an end
  // of input: it cannot be flushed away.
  for (;;) {
    const bool ended = std::any_of(s.input.begin(), s.input.end(),
                                   [](const InputEvent& e) { return e.kind == InputKind::kEnd; });
    s.input.clear();
    if (ended) {
      s.input.push_back({InputKind::kEnd});
      return;
    }
    if (s.backend.waitInput == nullptr || s.backend.inputIsScripted) return;
    s.backend.waitInput(s, 0);
    if (s.input.empty()) return;
  }
}

}  // namespace kestrova

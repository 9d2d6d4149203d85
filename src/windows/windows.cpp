#include "windows/windows.h"

#include <cctype>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/screen.h"
#include "session/session.h"
#include "windows/paragraph.h"

namespace kestrova {
namespace {

constexpr std::size_t kHeaderSize = 4;      // P
constexpr int32_t kEmptyStackPosition = 5;  // P of an empty stack
constexpr std::size_t kEntryFixedSize = 25;  // 10 two-digit fields + length

void AppendDigits(std::string& out, int value, int digits) {
  int modulus = 1;
  for (int i = 0; i < digits; ++i) modulus *= 10;
  value = ((value % modulus) + modulus) % modulus;
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value /= 10) text[static_cast<std::size_t>(i)] += value % 10;
  out += text;
}

// Decimal digits at `at`; -1 when any of them is not a digit or the field
// runs past the text.
int ReadDigits(std::string_view text, std::size_t at, int digits) {
  if (at + static_cast<std::size_t>(digits) > text.size()) return -1;
  int value = 0;
  for (int i = 0; i < digits; ++i) {
    const char c = text[at + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

int32_t ReadPosition(std::string_view file) {
  uint32_t p = 0;
  for (int i = 3; i >= 0; --i) p = (p << 8) | static_cast<uint8_t>(file[static_cast<std::size_t>(i)]);
  return static_cast<int32_t>(p);
}

void WritePosition(std::string& file, int32_t p) {
  if (file.size() < kHeaderSize) file.resize(kHeaderSize, '\0');
  for (int i = 0; i < 4; ++i) {
    file[static_cast<std::size_t>(i)] = static_cast<char>((static_cast<uint32_t>(p) >> (8 * i)) & 0xFF);
  }
}

bool InsideScreen(int top, int left, int bottom, int right) {
  return top >= 1 && top <= ScreenRows() && bottom >= 1 && bottom <= ScreenRows() && left >= 1 &&
         left <= ScreenColumns() && right >= 1 && right <= ScreenColumns() && top <= bottom &&
         left <= right;
}

void SaveStack(const std::string& path, const std::string& file) {
  if (!WriteWholeFile(path, file)) FatalError(path, "the window stack cannot be written");
}

// One entry read back from the stack file, checked against the screen.
struct StackEntry {
  int cursorRow = 0, cursorColumn = 0;
  WindowRect previous;
  WindowRect area;
  std::string_view cells;
};

// The entry that ends just before position p (1-based), or false when the
// bytes there are not a sound entry.
bool ReadLastEntry(std::string_view file, int32_t p, StackEntry& entry, int32_t& start) {
  if (p <= kEmptyStackPosition || static_cast<std::size_t>(p) > file.size() + 1) return false;
  const std::size_t end = static_cast<std::size_t>(p) - 1;  // bytes before P
  if (end < kHeaderSize + kEntryFixedSize) return false;
  const int length = ReadDigits(file, end - 5, 5);
  if (length < static_cast<int>(kEntryFixedSize) || static_cast<std::size_t>(length) > end - kHeaderSize) {
    return false;
  }
  const std::size_t at = end - static_cast<std::size_t>(length);
  int fields[10];
  for (int i = 0; i < 10; ++i) {
    fields[i] = ReadDigits(file, at + 2 * static_cast<std::size_t>(i), 2);
    if (fields[i] < 0) return false;
  }
  entry.cursorRow = fields[0];
  entry.cursorColumn = fields[1];
  entry.previous = {static_cast<int16_t>(fields[2]), static_cast<int16_t>(fields[3]),
                    static_cast<int16_t>(fields[4]), static_cast<int16_t>(fields[5])};
  entry.area = {static_cast<int16_t>(fields[6]), static_cast<int16_t>(fields[7]),
                static_cast<int16_t>(fields[8]), static_cast<int16_t>(fields[9])};
  const WindowRect& a = entry.area;
  if (!InsideScreen(a.top, a.left, a.bottom, a.right)) return false;
  const std::size_t cellCount =
      static_cast<std::size_t>(a.bottom - a.top + 1) * static_cast<std::size_t>(a.right - a.left + 1);
  if (kEntryFixedSize + 2 * cellCount != static_cast<std::size_t>(length)) return false;
  entry.cells = file.substr(at + 20, 2 * cellCount);
  start = static_cast<int32_t>(at) + 1;
  return true;
}

}  // namespace

WindowState& Windows() {
  static WindowState state;
  return state;
}

void ResetWindowsForTesting() { Windows() = WindowState{}; }

std::string WindowStackPath() { return Session().jobTmp + "WinPush.tmp"; }

int16_t ScreenRows() { return kScreenRows; }
int16_t ScreenColumns() { return kScreenColumns; }

void LocateInWindow(int row, int column) {
  const WindowState& w = Windows();
  if (w.depth == 0) {
    SetCursorPosition(row, column);
  } else {
    SetCursorPosition(w.current.top + row, w.current.left + column);
  }
}

void SelectColours(std::string& letters) {
  // 1. Upper case; a blank text changes nothing.
  for (char& c : letters) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (letters.find_first_not_of(' ') == std::string::npos) return;
  WindowState& w = Windows();
  // 2. "+" saves the current choice.
  if (letters.find('+') != std::string::npos) w.colourStack.push_back(static_cast<char>(w.pair));
  // 3. The pair: from the stack, or by its letters.
  int pair = 0;
  if (letters.find('-') != std::string::npos) {
    if (!w.colourStack.empty()) {
      pair = static_cast<uint8_t>(w.colourStack.back()) % 5;
      w.colourStack.pop_back();
    }
  } else if (letters.find('U') != std::string::npos) {
    pair = 4;
  } else {
    pair = (letters.find('R') != std::string::npos ? 2 : 0) + (letters.find('N') != std::string::npos ? 1 : 0);
  }
  // 4. The console's colours follow.
  const ColourPair& colours = Session().colourTable[static_cast<std::size_t>(pair)];
  SetTextColours(colours.foreground, colours.background);
  w.pair = static_cast<int16_t>(pair);
}

void SelectColours(std::string_view letters) {
  std::string copy(letters);
  SelectColours(copy);
}

void PushWindow(int top, int left, int bottom, int right) {
  // 1. Only a rectangle on the screen is saved.
  if (!InsideScreen(top, left, bottom, right)) return;
  // 2. The stack so far; a position field that points outside the file means
  //    the file is damaged, and the stack starts again empty.
  const std::string path = WindowStackPath();
  std::string file;
  ReadWholeFile(path, file);
  int32_t p = kEmptyStackPosition;
  if (file.size() > 3) p = ReadPosition(file);
  if (p < kEmptyStackPosition || static_cast<std::size_t>(p) > file.size() + 1) {
    p = kEmptyStackPosition;
  }
  // 3. The entry: cursor, previous window, area, cells, length.
  WindowState& w = Windows();
  std::string entry;
  AppendDigits(entry, CursorRow(), 2);
  AppendDigits(entry, CursorColumn(), 2);
  for (int v : {w.current.top, w.current.left, w.current.bottom, w.current.right}) AppendDigits(entry, v, 2);
  for (int v : {top, left, bottom, right}) AppendDigits(entry, v, 2);
  for (int row = top; row <= bottom; ++row) {
    for (int column = left; column <= right; ++column) {
      const Cell cell = ReadCell(row, column);
      entry.push_back(static_cast<char>(cell.character));
      entry.push_back(static_cast<char>(cell.attribute));
    }
  }
  AppendDigits(entry, static_cast<int>(entry.size() + 5), 5);
  // 4. Entries after P are left over from earlier pops: overwritten in place,
  //    whatever lies beyond stays as it was.
  const std::size_t at = static_cast<std::size_t>(p) - 1;
  if (file.size() < at + entry.size()) file.resize(at + entry.size(), '\0');
  file.replace(at, entry.size(), entry);
  WritePosition(file, p + static_cast<int32_t>(entry.size()));
  SaveStack(path, file);
  w.current = {static_cast<int16_t>(top), static_cast<int16_t>(left), static_cast<int16_t>(bottom),
               static_cast<int16_t>(right)};
  ++w.depth;
}

void PopWindow() {
  const std::string path = WindowStackPath();
  std::string file;
  if (!ReadWholeFile(path, file) || file.size() <= 3) {
    // Nothing to put back, and no file is left behind.
    RemoveFile(path);
    return;
  }
  StackEntry entry;
  int32_t start = 0;
  if (!ReadLastEntry(file, ReadPosition(file), entry, start)) {
    RemoveFile(path);
    return;
  }
  WindowState& w = Windows();
  --w.depth;
  w.current = entry.previous;
  // Every cell goes back with its own colours; the console keeps those of
  // the last one.  The terminal sees the window go in one frame.
  HoldScreenRefresh();
  std::size_t i = 0;
  for (int row = entry.area.top; row <= entry.area.bottom; ++row) {
    for (int column = entry.area.left; column <= entry.area.right; ++column, i += 2) {
      const Cell cell{static_cast<uint8_t>(entry.cells[i]), static_cast<uint8_t>(entry.cells[i + 1])};
      SetTextColours(cell.attribute % 16, cell.attribute / 16);
      WriteCell(row, column, cell);
    }
  }
  SetCursorPosition(entry.cursorRow, entry.cursorColumn);
  ReleaseScreenRefresh();
  if (start < 6) {
    RemoveFile(path);
    return;
  }
  WritePosition(file, start);
  SaveStack(path, file);
}

void DrawWindowFrame(int style) {
  const WindowState& w = Windows();
  if (w.depth == 0) return;
  struct FrameSet {
    std::string_view topLeft, topRight, bottomLeft, bottomRight, horizontal, vertical;
  };
  static constexpr FrameSet kStyles[3] = {
      {" ", " ", " ", " ", " ", " "},
      {"┌"_cp, "┐"_cp, "└"_cp, "┘"_cp, "─"_cp, "│"_cp},
      {"╔"_cp, "╗"_cp, "╚"_cp, "╝"_cp, "═"_cp, "║"_cp},
  };
  const FrameSet& f = kStyles[style >= 0 && style <= 2 ? style : 0];
  const WindowRect& r = w.current;
  const std::size_t inner = r.right - r.left > 1 ? static_cast<std::size_t>(r.right - r.left - 1) : 0;
  auto repeat = [inner](std::string_view piece) {
    std::string s;
    for (std::size_t i = 0; i < inner; ++i) s += piece;
    return s;
  };
  // Written from absolute positions: the window is the frame itself.
  HoldScreenRefresh();
  SetCursorPosition(r.top, r.left);
  WriteText(std::string(f.topLeft) + repeat(f.horizontal) + std::string(f.topRight));
  for (int row = r.top + 1; row <= r.bottom - 1; ++row) {
    SetCursorPosition(row, r.left);
    WriteText(std::string(f.vertical) + std::string(inner, ' ') + std::string(f.vertical));
  }
  if (r.bottom > r.top) {
    SetCursorPosition(r.bottom, r.left);
    WriteText(std::string(f.bottomLeft) + repeat(f.horizontal) + std::string(f.bottomRight));
  }
  ReleaseScreenRefresh();
}

void ShowMessageWindow(int row, std::string_view text) {
  // 1. Reverse colours, the caller's choice saved.
  SelectColours("+rh");
  // 2. The text as lines of w characters; an empty text still makes one line.
  constexpr int16_t w = 76;
  std::string laidOut = text.empty() ? std::string(" ") : std::string(text);
  FormatParagraph(laidOut, 0, w, "i");
  const int k = static_cast<int>(laidOut.size() / w);
  // 3. Rows around the asked row, kept on the screen.
  int top = row - (k + 1) / 2 - 2;
  if (top < 1) top = 1;
  int bottom = top + k + 1;
  if (bottom > ScreenRows()) {
    bottom = ScreenRows();
    top = bottom - k - 1;
    if (top < 1) {
      SelectColours("-");
      return;
    }
  }
  // 4. Width: centred on column 41, sized by the first of the longest lines.
  auto line = [&laidOut](std::size_t i) {
    std::string_view s = std::string_view(laidOut).substr(i * w, w);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
  };
  // Only k lines fit between the frame's rows (attribute bytes in a
  // message would otherwise push a slice onto the frame).
  int left = 0, right = 0;
  const std::size_t lineCount = static_cast<std::size_t>(k);
  for (std::size_t i = 0; i < lineCount; ++i) {
    const int length = static_cast<int>(line(i).size());
    if (right - left < length + 4) {
      left = 41 - (length + 1) / 2 - 2;
      right = length / 2 + 42;
    }
  }
  // 5-6. The window, its frame and the lines.
  PushWindow(top, left, bottom, right);
  DrawWindowFrame(1);
  for (std::size_t i = 0; i < lineCount; ++i) {
    LocateInWindow(static_cast<int>(i) + 1, 2);
    WriteText(line(i));
  }
  // 7. The caller's colours again.
  SelectColours("-");
}

}  // namespace kestrova

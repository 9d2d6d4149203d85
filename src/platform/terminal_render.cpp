// The renderer half of the terminal console: pure, from the grid to bytes.
#include <string>

#include "platform/codepage.h"
#include "platform/terminal.h"

namespace kestrova {
namespace {

// Console colour bits are blue 1, green 2, red 4; ANSI numbers red 1,
// green 2, blue 4.
int AnsiColour(int console) { return ((console & 1) << 2) | (console & 2) | ((console & 4) >> 2); }

void MoveTo(std::string& out, int row, int column) {
  out += "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H";
}

}  // namespace

std::string AttributeSequence(uint8_t attribute) {
  const int fg = attribute & 15, bg = attribute >> 4;
  return "\x1b[0;" + std::to_string((fg & 8 ? 90 : 30) + AnsiColour(fg)) + ";" +
         std::to_string((bg & 8 ? 100 : 40) + AnsiColour(bg)) + "m";
}

std::string RenderScreen(TerminalView& view, const ScreenState& screen) {
  std::string out;
  int atRow = view.valid ? view.cursorRow : 0, atColumn = view.valid ? view.cursorColumn : 0;
  bool cursorKnown = view.valid && !view.wrapPending;
  for (int row = 1; row <= kScreenRows; ++row) {
    for (int column = 1; column <= kScreenColumns; ++column) {
      const std::size_t i = static_cast<std::size_t>((row - 1) * kScreenColumns + column - 1);
      const Cell cell = screen.cells[i];
      if (view.valid && view.sent[i] == cell) continue;
      if (out.empty() && view.cursorShape != 0) out += "\x1b[?25l";  // no cursor jumping about
      if (!cursorKnown || atRow != row || atColumn != column) MoveTo(out, row, column);
      if (view.attribute != cell.attribute) {
        out += AttributeSequence(cell.attribute);
        view.attribute = cell.attribute;
      }
      AppendUtf8(out, Cp850DisplayCodePoint(cell.character));
      view.sent[i] = cell;
      // After the last column terminals differ on where the cursor is.
      atRow = row;
      atColumn = column + 1;
      cursorKnown = column < kScreenColumns;
    }
  }
  const bool drew = !out.empty();
  view.valid = true;
  view.wrapPending = false;
  // The cursor: its cell, then its shape (a hidden one was hidden above).
  const int16_t shape = !screen.cursorVisible || screen.cursorSize == 0 ? 0
                        : screen.cursorSize <= 50                       ? 1
                                                                        : 2;
  if (drew || view.cursorRow != screen.cursorRow || view.cursorColumn != screen.cursorColumn) {
    MoveTo(out, screen.cursorRow, screen.cursorColumn);
    view.cursorRow = screen.cursorRow;
    view.cursorColumn = screen.cursorColumn;
  }
  if (shape != view.cursorShape || (drew && shape != 0)) {
    if (shape == 0) {
      out += "\x1b[?25l";
    } else {
      out += shape == 1 ? "\x1b[4 q" : "\x1b[2 q";
      out += "\x1b[?25h";
    }
    view.cursorShape = shape;
  }
  return out;
}

std::string SizeNotice(int columns, int rows) {
  return "\x1b[0m\x1b[2J\x1b[1;1H" + Cp850ToUtf8("Cal un terminal de 80 x 25 com a mínim"_cp) +
         "\x1b[2;1H(" + std::to_string(columns) + " x " + std::to_string(rows) + ")";
}

}  // namespace kestrova

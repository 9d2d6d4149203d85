#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "platform/terminal.h"

namespace kestrova {
namespace {

TEST(TerminalRender, ColoursSwapRedAndBlueAndUseBrightCodes) {
  const struct {
    uint8_t attribute;
    const char* want;
  } cases[] = {
      {0x07, "\x1b[0;37;40m"},   // light grey on black
      {0x0F, "\x1b[0;97;40m"},   // white
      {0x01, "\x1b[0;34;40m"},   // console blue is ANSI 4
      {0x04, "\x1b[0;31;40m"},   // console red is ANSI 1
      {0x1E, "\x1b[0;93;44m"},   // yellow on blue
      {0x70, "\x1b[0;30;47m"},   // reverse
      {0xC9, "\x1b[0;94;101m"},  // bright background
  };
  for (const auto& c : cases) EXPECT_EQ(AttributeSequence(c.attribute), c.want) << int(c.attribute);
}

TEST(TerminalRender, OnlyChangedCellsAreSent) {
  ScreenState screen;
  screen.cursorVisible = false;
  TerminalView view;
  const std::string first = RenderScreen(view, screen);
  EXPECT_GT(first.size(), 2000u);  // everything, once
  EXPECT_EQ(RenderScreen(view, screen), "");  // nothing changed, nothing sent

  screen.cells[2 * 80 + 4] = {0xC9, 0x1E};  // row 3, column 5
  screen.cells[2 * 80 + 5] = {0xCD, 0x1E};
  screen.cells[2 * 80 + 6] = {0xD5, 0x1E};
  EXPECT_EQ(RenderScreen(view, screen), "\x1b[3;5H\x1b[0;93;44m╔═€\x1b[1;1H");

  // The cursor: moved and shown as a block, then hidden.
  screen.cursorVisible = true;
  screen.cursorSize = 100;
  screen.cursorRow = 10;
  screen.cursorColumn = 20;
  EXPECT_EQ(RenderScreen(view, screen), "\x1b[10;20H\x1b[2 q\x1b[?25h");
  screen.cursorSize = 0;
  EXPECT_EQ(RenderScreen(view, screen), "\x1b[?25l");
}

TEST(TerminalRender, AfterTheLastColumnTheCursorIsPlacedAgain) {
  ScreenState screen;
  screen.cursorVisible = false;
  TerminalView view;
  RenderScreen(view, screen);
  screen.cells[79] = {'a', 7};  // row 1, column 80
  screen.cells[80] = {'b', 7};  // row 2, column 1
  EXPECT_EQ(RenderScreen(view, screen), "\x1b[1;80Ha\x1b[2;1Hb\x1b[1;1H");
}

}  // namespace
}  // namespace kestrova

#include "windows/windows.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/screen.h"
#include "session/session.h"

namespace kestrova {
namespace {

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kestrova-windows-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ResetSessionForTesting();
    ResetScreenForTesting();
    ResetWindowsForTesting();
    Session().jobTmp = dir_.string() + "/";
    Session().colourTable = ParseColourText(kDefaultColourText);
    // A screen where every cell differs, so a misplaced cell shows.
    for (int row = 1; row <= kScreenRows; ++row) {
      for (int column = 1; column <= kScreenColumns; ++column) {
        WriteCell(row, column, {static_cast<uint8_t>('A' + (row + column) % 26),
                                static_cast<uint8_t>((row * 7 + column) % 256)});
      }
    }
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string StackFile() {
    std::string bytes;
    ReadWholeFile(WindowStackPath(), bytes);
    return bytes;
  }
  bool StackExists() { return PathExists(WindowStackPath()); }

  std::filesystem::path dir_;
};

TEST_F(WindowsTest, PushOfTheWholeScreenWritesOneFullEntry) {
  SetCursorPosition(7, 33);
  PushWindow(1, 1, 25, 80);
  const std::string file = StackFile();
  ASSERT_EQ(file.size(), 4u + 25 + 2 * 2000);
  const int32_t p = static_cast<uint8_t>(file[0]) | static_cast<uint8_t>(file[1]) << 8 |
                    static_cast<uint8_t>(file[2]) << 16 | static_cast<uint8_t>(file[3]) << 24;
  EXPECT_EQ(p, 5 + 25 + 4000);
  EXPECT_EQ(file.substr(4, 20), "07330000000001012580");
  EXPECT_EQ(file.substr(file.size() - 5), "04025");
  EXPECT_EQ(file[24], 'A' + 2 % 26);  // cell (1,1)
  EXPECT_EQ(Windows().current, (WindowRect{1, 1, 25, 80}));
  EXPECT_EQ(Windows().depth, 1);
}

TEST_F(WindowsTest, PushThenPopRestoresCellsCursorAndRemovesTheFile) {
  const CellGrid before = Screen().cells;
  SetCursorPosition(3, 4);
  PushWindow(5, 10, 9, 40);
  SetTextColours(14, 1);
  DrawWindowFrame(2);
  SetCursorPosition(20, 20);
  EXPECT_NE(Screen().cells, before);
  PopWindow();
  EXPECT_EQ(Screen().cells, before);
  EXPECT_EQ(CursorRow(), 3);
  EXPECT_EQ(CursorColumn(), 4);
  // The console keeps the colours of the last cell put back, (9, 40).
  EXPECT_EQ(CurrentAttribute(), ReadCell(9, 40).attribute);
  EXPECT_FALSE(StackExists());
  EXPECT_EQ(Windows().depth, 0);
}

TEST_F(WindowsTest, NestedWindowsComeBackInOrder) {
  PushWindow(2, 2, 10, 30);
  PushWindow(4, 5, 6, 20);
  PopWindow();
  EXPECT_EQ(Windows().current, (WindowRect{2, 2, 10, 30}));
  EXPECT_TRUE(StackExists());
  PopWindow();
  EXPECT_EQ(Windows().current, (WindowRect{0, 0, 0, 0}));
  EXPECT_FALSE(StackExists());
  // One more pop on the empty stack changes nothing and leaves no file.
  const CellGrid before = Screen().cells;
  PopWindow();
  EXPECT_EQ(Screen().cells, before);
  EXPECT_FALSE(StackExists());
}

TEST_F(WindowsTest, EntriesLeftByAnEarlierProcessAreHonoured) {
  const CellGrid before = Screen().cells;
  PushWindow(10, 10, 12, 50);
  DrawWindowFrame(1);
  ResetWindowsForTesting();  // a new process of the same session
  PushWindow(1, 1, 3, 3);
  PopWindow();
  PopWindow();
  EXPECT_EQ(Screen().cells, before);
  EXPECT_FALSE(StackExists());
}

TEST_F(WindowsTest, PushOutsideTheScreenChangesNothing) {
  const WindowRect bad[] = {{0, 1, 5, 5}, {1, 0, 5, 5}, {1, 1, 26, 5}, {1, 1, 5, 81}, {9, 1, 5, 5}};
  for (const WindowRect& r : bad) {
    PushWindow(r.top, r.left, r.bottom, r.right);
    EXPECT_FALSE(StackExists()) << r.top << "," << r.left << "," << r.bottom << "," << r.right;
    EXPECT_EQ(Windows().depth, 0);
  }
}

TEST_F(WindowsTest, DamagedStackFilesAreDroppedWithoutTouchingTheScreen) {
  PushWindow(3, 3, 4, 6);
  const std::string good = StackFile();  // 4 + 25 + 16 bytes
  auto withP = [](std::string f, uint32_t p) {
    for (int i = 0; i < 4; ++i) f[static_cast<std::size_t>(i)] = static_cast<char>(p >> (8 * i));
    return f;
  };
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"truncated", good.substr(0, good.size() - 7)},
      {"length field too big", good.substr(0, good.size() - 5) + "99999"},
      {"length field not digits", good.substr(0, good.size() - 5) + "00a41"},
      {"length disagrees with the area", good.substr(0, good.size() - 5) + "00039"},
      {"position past the end", withP(good, 100000)},
      {"position inside the header", withP(good, 2)},
      {"position of an empty stack", withP(good, 5)},
      {"area off the screen", withP(good.substr(0, 16) + "99" + good.substr(18), 46)},
      {"garbage", std::string("\x07\x00\x00\x00garbage", 11)},
  };
  const CellGrid before = Screen().cells;
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteWholeFile(WindowStackPath(), c.bytes));
    PopWindow();
    EXPECT_EQ(Screen().cells, before) << c.what;
    EXPECT_FALSE(StackExists()) << c.what;
  }
}

TEST_F(WindowsTest, ColourStackRules) {
  // Pairs: 0 = 15 on 0, 1 = 7 on 0, 2..4 = 0 on 7 (the default table with
  // the pairs told apart).
  Session().colourTable = {{{15, 0}, {7, 0}, {0, 7}, {1, 7}, {14, 1}}};
  const struct {
    const char* letters;
    int pair;
    std::string stack;  // after the call
  } steps[] = {
      {"-", 0, ""},      // empty stack: pair 0
      {"n", 1, ""},      {"+", 0, "\x01"},  // "+" saves, then selects pair 0
      {"+rh", 2, std::string("\x01\x00", 2)},
      {"rn", 3, std::string("\x01\x00", 2)},
      {"u", 4, std::string("\x01\x00", 2)},
      {"-", 0, "\x01"},  {"   ", 0, "\x01"},  // blank: nothing
      {"-", 1, ""},
  };
  for (const auto& s : steps) {
    std::string letters = s.letters;
    SelectColours(letters);
    EXPECT_EQ(Windows().pair, s.pair) << s.letters;
    EXPECT_EQ(Windows().colourStack, s.stack) << s.letters;
    const ColourPair& want = Session().colourTable[static_cast<std::size_t>(s.pair)];
    EXPECT_EQ(CurrentAttribute(), want.foreground + 16 * want.background) << s.letters;
  }
  std::string lower = "+rh";
  SelectColours(lower);
  EXPECT_EQ(lower, "+RH");
}

TEST_F(WindowsTest, LocateInWindowCountsFromInsideTheFrame) {
  LocateInWindow(1, 1);
  EXPECT_EQ(CursorRow(), 1);
  EXPECT_EQ(CursorColumn(), 1);
  PushWindow(5, 10, 15, 60);
  LocateInWindow(1, 1);
  EXPECT_EQ(CursorRow(), 6);
  EXPECT_EQ(CursorColumn(), 11);
}

TEST_F(WindowsTest, FrameStylesUseTheBoxCharacters) {
  const struct {
    int style;
    std::string_view top, middle, bottom;
  } cases[] = {
      {0, "    ", "    ", "    "},
      {1, "┌──┐"_cp, "│  │"_cp, "└──┘"_cp},
      {2, "╔══╗"_cp, "║  ║"_cp, "╚══╝"_cp},
  };
  auto rowText = [](int row) {
    std::string s;
    for (int column = 5; column <= 8; ++column) s.push_back(static_cast<char>(ReadCell(row, column).character));
    return s;
  };
  DrawWindowFrame(2);  // no window open: nothing drawn
  EXPECT_NE(rowText(2), "╔══╗"_cp);
  for (const auto& c : cases) {
    PushWindow(2, 5, 5, 8);
    DrawWindowFrame(c.style);
    EXPECT_EQ(rowText(2), c.top) << c.style;
    EXPECT_EQ(rowText(3), c.middle) << c.style;
    EXPECT_EQ(rowText(4), c.middle) << c.style;
    EXPECT_EQ(rowText(5), c.bottom) << c.style;
    PopWindow();
  }
}

// Rows of the message box: the first and last rows holding a frame corner.
std::pair<int, int> FrameRows() {
  int first = 0, last = 0;
  for (int row = 1; row <= kScreenRows; ++row) {
    for (int column = 1; column <= kScreenColumns; ++column) {
      if (ReadCell(row, column).character == static_cast<uint8_t>("┌"_cp[0])) first = row;
      if (ReadCell(row, column).character == static_cast<uint8_t>("└"_cp[0])) last = row;
    }
  }
  return {first, last};
}

TEST_F(WindowsTest, MessageWindowRowsAndWidth) {
  const std::string w76(76, 'x');
  const struct {
    int row;
    std::string text;
    int top, bottom, left, right;
  } cases[] = {
      {12, "Hola", 9, 11, 37, 44},
      {12, w76, 9, 11, 1, 80},
      {12, w76 + w76 + "fi", 8, 12, 1, 80},
      {24, "Avall", 21, 23, 36, 44},
      {25, w76 + w76 + w76 + w76 + "fi", 19, 25, 1, 80},  // pushed up to stay on the screen
      {1, "Dalt", 1, 3, 37, 44},
      {12, "", 9, 11, 39, 42},         // an empty text still opens its window
  };
  for (const auto& c : cases) {
    ResetWindowsForTesting();
    ShowMessageWindow(c.row, c.text);
    EXPECT_EQ(Windows().current, (WindowRect{static_cast<int16_t>(c.top), static_cast<int16_t>(c.left),
                                             static_cast<int16_t>(c.bottom),
                                             static_cast<int16_t>(c.right)}))
        << c.text.size() << " at " << c.row;
    EXPECT_EQ(FrameRows(), std::make_pair(c.top, c.bottom));
    EXPECT_EQ(Windows().colourStack, "");
    EXPECT_EQ(Windows().pair, 0);
    PopWindow();
    EXPECT_FALSE(StackExists());
  }
  // The text itself, one cell inside the frame and one blank from it.
  ShowMessageWindow(12, "Fitxer ocupat");
  std::string row10;
  for (int column = 32; column <= 48; ++column) row10.push_back(static_cast<char>(ReadCell(10, column).character));
  EXPECT_EQ(row10, "│ Fitxer ocupat │"_cp);
  EXPECT_EQ(ReadCell(10, 34).attribute, 0 + 16 * 7);  // reverse: pair 2
}

TEST_F(WindowsTest, MessageLongerThanTheScreenShowsNothing) {
  SelectColours("n");
  const CellGrid before = Screen().cells;
  ShowMessageWindow(12, std::string(76 * 24, 'x'));
  EXPECT_EQ(Screen().cells, before);
  EXPECT_FALSE(StackExists());
  EXPECT_EQ(Windows().pair, 1);
  EXPECT_EQ(Windows().colourStack, "");
}

}  // namespace
}  // namespace kestrova

// The pop-up calculator: its keys read back from the screen while it is
// open (a hot-key pop-up takes the snapshot), the result it types, its
// state file, and the screen it leaves behind.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "calendar/picture_mask.h"
#include "console/calculator.h"
#include "console_test_support.h"
#include "platform/blanks.h"
#include "platform/files.h"

namespace kestrova {
namespace {

// What the calculator showed at the moment of the snapshot: the entry line
// and the visible tape lines ("number op"), numbers without their padding.
struct Shown {
  std::string entry;
  std::vector<std::string> tape;
  int16_t column = 0;
};
Shown g_shown;

uint8_t Byte(std::string_view cp850) { return static_cast<uint8_t>(cp850[0]); }

std::string CellsText(int row, int from, int count) {
  std::string out;
  for (int c = from; c < from + count; ++c) out += static_cast<char>(ReadCell(row, c).character);
  return out;
}

// A number cell range without its blanks (the mask puts the sign at its
// left end, away from the digits).
std::string NumberText(int row, int from) {
  std::string out;
  for (char c : CellsText(row, from, 22)) {
    if (c != ' ') out += c;
  }
  return out;
}

// Registered as the Alt-C pop-up: reads the open calculator off the screen.
std::string Snapshot() {
  g_shown = Shown{};
  for (int16_t col = 1; col <= 55; ++col) {
    if (ReadCell(25, col).character == Byte("└"_cp) && ReadCell(25, col + 25).character == Byte("┘"_cp)) {
      g_shown.column = col;
      break;
    }
  }
  const int col = g_shown.column;
  g_shown.entry = NumberText(24, col + 1);
  for (int row = 2; row <= 22; ++row) {
    if (ReadCell(row, col).character != Byte("│"_cp)) continue;
    g_shown.tape.push_back(NumberText(row, col + 1) + " " +
                           CellsText(row, col + 24, 1));
  }
  return "";
}

class CalculatorTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    Session().language = "CAT";
    Session().terminalDirectory = dir_.Path();
    ResetSeparatorsForTesting();
    Separators().DecimalChar = ',';
    Separators().ThousandsChar = '.';
    RegisterHotKeyPopups(OpenCalculator, Snapshot);
  }

  // Opens the calculator on `keys` (a snapshot with {A-c} where wanted);
  // the script's end closes it with Esc.
  std::string Run(std::string_view keys) {
    Type(keys);
    return OpenCalculator();
  }

  std::string StateFile() {
    std::ifstream in(CalculatorStatePath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

// One sequence per operator and key, from a fresh calculator: the entry line
// and the tape as the operator sees them.
TEST_F(CalculatorTest, KeySequencesShowTheirEntryLineAndTape) {
  struct Case {
    const char* keys;
    const char* entry;
    std::vector<std::string> tape;
  } cases[] = {
      {"12.5+3=", "15,5", {"12,5 +", "3 =", "15,5  "}},
      {"10-4=", "6", {"10 -", "4 =", "6  "}},
      {"6*7=", "42", {"6 *", "7 =", "42  "}},
      {"7/2=", "3,5", {"7 /", "2 =", "3,5  "}},
      {"200+10%", "20", {"200 +", "10 %"}},
      {"200+10%=", "220", {"200 +", "10 %", "20 =", "220  "}},
      {"50%", "0,5", {"50 %"}},
      {"2.125R", "2,12", {"2,12 R"}},
      {"2.375R", "2,38", {"2,38 R"}},
      {"1.236TR", "-1,23", {"-1,23 R"}},
      {"2.675R", "2,68", {"2,68 R"}},
      {"5T3", "-53", {}},
      {"12.34\b", "12,3", {}},
      {"0.57\b", "0,5", {}},
      {"123\b\b\b", "0", {}},
      {"1/3{Enter}", "0,333333333333333", {"1 /", "3 =", "0,333333333333333  "}},
      {".1+.2=", "0,3", {"0,1 +", "0,2 =", "0,3  "}},
      {"1234567+0=", "1.234.567", {"1.234.567 +", "0 =", "1.234.567  "}},
      {"5+=", "5", {"5 +"}},  // "=" waits for a number
      {"5*C5+3=", "8", {"5 *", "5 +", "3 =", "8  "}},
      {"x5{F5}{Up}", "5", {}},  // other keys do nothing
  };
  for (const Case& c : cases) {
    RemoveFile(CalculatorStatePath());
    ResetScreenForTesting();
    Screen().inputGone = nullptr;
    std::string keys;
    for (const char* p = c.keys; *p != '\0'; ++p) keys += *p == '\b' ? std::string("{Bksp}") : std::string(1, *p);
    Run(keys + "{A-c}{Esc}");
    EXPECT_EQ(g_shown.entry, c.entry) << c.keys;
    EXPECT_EQ(g_shown.tape, c.tape) << c.keys;
  }
}

TEST_F(CalculatorTest, ResultTextIsTheNumberInHundredths) {
  EXPECT_EQ(Run("12.5F"), "1250");
  EXPECT_EQ(Run("12.5{Esc}"), "");
  EXPECT_EQ(Run("C C 12.5f"), "1250");
  EXPECT_EQ(Run("C{A-f}"), "0");  // not entering: the accumulator, 0 after the clears
  struct Case {
    double number;
    int16_t decimals;
    const char* text;
  } cases[] = {
      {12.5, 1, "1250"}, {0.05, 2, "5"},  {12.3456, 4, "1234.56"}, {0, 0, "0"},
      {-3.5, 1, "350"},  {1.15, 2, "115"}, {0.0001, 4, ".01"},     {1e20, 0, "10000000000000000000000"},
  };
  for (const Case& c : cases) {
    CalculatorState s;
    s.entering = -1;
    s.value = c.number;
    s.decimals = c.decimals;
    s.hasPoint = c.decimals > 0 ? -1 : 0;
    EXPECT_EQ(CalculatorResultText(s), c.text) << c.number;
  }
}

// A division by zero shows the error on the entry line, keeps the operands
// on the tape without a result line, refuses other keys, types nothing, and
// "C" brings the calculator back.
TEST_F(CalculatorTest, DivisionByZeroIsAnErrorThatCClears) {
  Run("5/0={A-c}{Esc}");
  EXPECT_EQ(g_shown.entry, "ERROR(Cesborra)");
  EXPECT_EQ(g_shown.tape, (std::vector<std::string>{"5 /", "0 ="}));

  const int32_t beeps = Screen().beeps;
  EXPECT_EQ(Run("5/0=3+{A-c}F"), "");
  EXPECT_EQ(g_shown.entry, "ERROR(Cesborra)");
  EXPECT_EQ(Screen().beeps, beeps + 2);

  Run("5/0=C{A-c}7+1={A-c}{Esc}");
  EXPECT_EQ(g_shown.entry, "8");
  // The state file never holds a NaN: it reads back as what was shown.
  EXPECT_EQ(StateFile().find("nan"), std::string::npos);

  // 0 / 0 and a product past the largest double are errors as well.
  Run("C0/0={A-c}{Esc}");
  EXPECT_EQ(g_shown.entry, "ERROR(Cesborra)");
  Run("C1" + std::string(200, '0') + "*1" + std::string(200, '0') + "={A-c}{Esc}");
  EXPECT_EQ(g_shown.entry, "ERROR(Cesborra)");
}

// Past the mask's 16 integer digits the entry shows the plain digits while
// they fit, then the overflow form; the calculator goes on working.
TEST_F(CalculatorTest, ValuesBeyondTheMaskShowTheOverflowFormAndWorkGoesOn) {
  Run("C40000000000000000{A-c}{Esc}");
  EXPECT_EQ(g_shown.entry, "40000000000000000");
  Run("C1000000000000*1000000000000={A-c}{Esc}");
  EXPECT_EQ(g_shown.entry, std::string(22, '!'));
  Run("C" + std::string(400, '9') + "{A-c}{Esc}");  // past the largest double
  EXPECT_EQ(g_shown.entry, "ERROR(Cesborra)");
  Run("C2+2={A-c}{Esc}");
  EXPECT_EQ(g_shown.entry, "4");
  Run(std::string(30, '.') + "1234567890123456789{A-c}{Esc}");  // decimals stop at 15
  EXPECT_EQ(g_shown.entry, "0,123456789012345");
}

TEST_F(CalculatorTest, ThreeClearsTakeTheEntryThenEverythingThenTheTape) {
  Run("12+3C{A-c}{Esc}");
  EXPECT_EQ(g_shown.entry, "0");
  EXPECT_EQ(g_shown.tape, (std::vector<std::string>{"12 +"}));
  Run("={A-c}{Esc}");  // the clear entry left no number to finish with
  EXPECT_EQ(g_shown.tape, (std::vector<std::string>{"12 +"}));
  Run("C4={A-c}{Esc}");  // the clear all forgot the 12 and its "+"
  EXPECT_EQ(g_shown.entry, "4");
  Run("C{A-c}{Esc}");
  EXPECT_EQ(g_shown.entry, "0");
  EXPECT_EQ(g_shown.tape.size(), 3u);
  Run("C{A-c}{Esc}");
  EXPECT_TRUE(g_shown.tape.empty());
}

TEST_F(CalculatorTest, TheTapeKeepsTwentyOneVisibleLines) {
  std::string keys;
  for (int i = 1; i <= 30; ++i) keys += std::to_string(i) + "+";
  Run(keys + "{A-c}{Esc}");
  ASSERT_EQ(g_shown.tape.size(), 21u);
  EXPECT_EQ(g_shown.tape.front(), "10 +");
  EXPECT_EQ(g_shown.tape.back(), "30 +");
  EXPECT_EQ(g_shown.entry, "465");
  EXPECT_EQ(ReadCell(1, 1).character, static_cast<uint8_t>(' '));  // closed again
}

TEST_F(CalculatorTest, TheWindowMovesAndWrapsAtBothEnds) {
  Run("{Left}{A-c}{Esc}");
  EXPECT_EQ(g_shown.column, 55);
  Run("{A-c}{Right}{A-c}{Esc}");  // kept between openings
  EXPECT_EQ(g_shown.column, 1);
  Run("{C-Right}{C-Right}{A-c}{C-Left}{Esc}");
  EXPECT_EQ(g_shown.column, 3);
  EXPECT_EQ(ParseCalculatorState(StateFile()).windowColumn, 2);
}

// Whatever was under the window comes back cell for cell, colours and
// cursor included, after moves, tape growth and a cleared tape.
TEST_F(CalculatorTest, TheScreenUnderTheWindowIsRestoredExactly) {
  for (int row = 1; row <= 25; ++row) {
    for (int col = 1; col <= 80; ++col) {
      WriteCell(row, col, Cell{static_cast<uint8_t>('A' + (row * 7 + col) % 50), static_cast<uint8_t>((row + col) % 256)});
    }
  }
  SetCursorPosition(12, 34);
  SetCursorVisible(true);
  SetCursorSize(100);
  const CellGrid before = Screen().cells;
  const std::string pairs = Windows().colourStack;
  const int16_t pair = Windows().pair;
  EXPECT_EQ(Run("1+2+3={Left}{Left}{Right}4*5=CCC9/0=F"), "");
  EXPECT_TRUE(Screen().cells == before);
  EXPECT_EQ(CursorRow(), 12);
  EXPECT_EQ(CursorColumn(), 34);
  EXPECT_TRUE(Screen().cursorVisible);
  EXPECT_EQ(Screen().cursorSize, 100);
  EXPECT_EQ(Windows().depth, 0);
  EXPECT_EQ(Windows().colourStack, pairs);
  EXPECT_EQ(Windows().pair, pair);
  EXPECT_TRUE(KeyMap().saved.empty());
}

// Alt-X opens the calculator from any key read; its result arrives as typed
// keys; inside it a second Alt-X is an ordinary key.
TEST_F(CalculatorTest, AltXTypesTheResultAndIsNotReentrant) {
  Type("{A-x}12{A-x}.5F");
  EXPECT_EQ(ReadKey(), 0x2D00);
  std::string typed;
  for (int i = 0; i < 4; ++i) typed += static_cast<char>(ReadKey());
  EXPECT_EQ(typed, "1250");
  EXPECT_EQ(Keyboard().calculatorOpen, 0);
}

TEST_F(CalculatorTest, StateFileRoundTripsAndIsKeptBetweenOpenings) {
  CalculatorState s;
  s.windowColumn = 17;
  s.firstTapeRow = 20;
  s.value = -0.1;
  s.accumulator = 1.0 / 3.0;
  s.cleared = 0;
  s.entering = -1;
  s.hasPoint = -1;
  s.decimals = 15;
  s.op = "%";
  s.previousOp = "-";
  s.tape[20] = CalculatorTapeEntry{123456789.125, -1, 3, '*'};
  s.tape[21] = CalculatorTapeEntry{1e300, 0, 0, ' '};
  const std::string text = CalculatorStateText(s);
  EXPECT_EQ(text.substr(0, text.find("\r\n")), "17,20,-0.1,0.3333333333333333");
  EXPECT_EQ(ParseCalculatorState(text), s);

  Run("12+3=F");
  Run("{A-c}{Esc}");
  EXPECT_EQ(g_shown.tape, (std::vector<std::string>{"12 +", "3 =", "15  "}));
  EXPECT_EQ(g_shown.entry, "15");
}

// A state file of another version or damaged: what is sound is read, what
// is out of range is clamped, the rest keeps its initial value.
TEST_F(CalculatorTest, DamagedStateFilesAreReadAsFarAsTheyAreSound) {
  struct Case {
    std::string text;
    int16_t column, firstRow;
    double value, accumulator;
    int16_t decimals;
    std::string op;
  } cases[] = {
      {"", 1, 23, 0, 0, 0, ""},
      {"abc,xyz\r\n", 1, 23, 0, 0, 0, ""},
      {"99,1,1e999,5\r\n0,0,-1,500\r\n\"Q\",\"+\"", 55, 2, 0, 5, 15, ""},
      {"-5,40,nan,inf\r\n0,0,0,-3\r\n\"%\"", 1, 23, 0, 0, 0, "%"},
      {"12,7,3.5,2\n", 12, 7, 3.5, 2, 0, ""},  // line feeds alone
      {"\"12\",\"20\",\"1.5\r\n", 12, 20, 1.5, 0, 0, ""},  // quoted numbers, a quote left open
      {std::string("3,4,\0,5", 7), 3, 4, 0, 5, 0, ""},
  };
  for (const Case& c : cases) {
    const CalculatorState s = ParseCalculatorState(c.text);
    EXPECT_EQ(s.windowColumn, c.column) << c.text;
    EXPECT_EQ(s.firstTapeRow, c.firstRow) << c.text;
    EXPECT_EQ(s.value, c.value) << c.text;
    EXPECT_EQ(s.accumulator, c.accumulator) << c.text;
    EXPECT_EQ(s.decimals, c.decimals) << c.text;
    EXPECT_EQ(s.op, c.op) << c.text;
  }
  // Flags read as -1 whatever non-zero number they hold; tape lines past
  // the 22nd are ignored, missing ones stay empty.
  std::string text = "1,23,0,0\r\n7,0,2,1\r\n\"\",\"\"\r\n";
  for (int i = 1; i <= 30; ++i) text += std::to_string(i) + ",0,0,\"+\"\r\n";
  const CalculatorState s = ParseCalculatorState(text);
  EXPECT_EQ(s.cleared, -1);
  EXPECT_EQ(s.hasPoint, -1);
  EXPECT_EQ(s.tape[21].value, 22);
  EXPECT_EQ(ParseCalculatorState("1,23,0,0\r\n0,0,0,0\r\n\"\",\"\"\r\n5,0,0,\"+\"").tape[1].value, 0);

  // Opened over a damaged file, the calculator works and writes it back whole.
  std::ofstream(CalculatorStatePath(), std::ios::binary) << "70,0,1e999\r\n\"oops";
  Run("{A-c}{Esc}");
  EXPECT_EQ(g_shown.column, 55);
  const std::string written = StateFile();
  int lines = 0;
  for (std::size_t p = 0; (p = written.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, 25);
  EXPECT_EQ(ParseCalculatorState(written).windowColumn, 55);
}

TEST_F(CalculatorTest, MaskGivesThePointAndDecimalsTheirPlaces) {
  EXPECT_EQ(CalculatorMask(0, 0), "-Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9");
  EXPECT_EQ(CalculatorMask(-1, 2), "-ZZ,ZZZ,ZZZ,ZZZ,ZZ9.99");
  EXPECT_EQ(CalculatorMask(-1, 99).size(), 22u);
}

}  // namespace
}  // namespace kestrova

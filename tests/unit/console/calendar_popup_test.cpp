// The pop-up calendar: cursor moves with their month and year wraps, the
// date it types, what it draws (read back while it is open through a
// hot-key pop-up), and the screen it leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calendar/date_texts.h"
#include "console/calendar_popup.h"
#include "console_test_support.h"
#include "platform/clock.h"

namespace kestrova {
namespace {

std::vector<std::string> g_rows;   // rows 7..16 as UTF-8, while open
std::string g_cursorDay;

// Registered as the Alt-X pop-up: reads the open calendar off the screen.
std::string Snapshot() {
  g_rows.clear();
  for (int row = 7; row <= 16; ++row) g_rows.push_back(ScreenRowText(row));
  // The cursor day is the one cell pair in the underline pair's colours.
  const uint8_t underline = static_cast<uint8_t>(Session().colourTable[4].foreground +
                                                  16 * Session().colourTable[4].background);
  g_cursorDay.clear();
  for (int row = 10; row <= 15; ++row) {
    for (int col = 9; col <= 72; ++col) {
      if (ReadCell(row, col).attribute == underline && ReadCell(row, col + 1).attribute == underline) {
        g_cursorDay = {static_cast<char>(ReadCell(row, col).character), static_cast<char>(ReadCell(row, col + 1).character)};
        return "";
      }
    }
  }
  return "";
}

class CalendarTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    Session().language = "CAT";
    // Pairs with colours of their own, so the cursor day can be found.
    Session().colourTable = ParseColourText("15010701140312040002");
    ResetDateSettingsForTesting();
    DateSettings().DatCaracter = "/";
    DateSettings().DatOrdre = "DMA";
    SetClockForTesting(LocalDateTime{2026, 12, 8, 10, 0, 0, 0});
    RegisterHotKeyPopups(Snapshot, OpenCalendar);
  }
  void TearDown() override { SetClockForTesting(std::nullopt); }

  static CalendarCursor Moved(CalendarCursor c, std::string_view keys) {
    std::vector<InputEvent> events;
    std::string problem;
    EXPECT_TRUE(ParseKeyScript(keys, events, problem)) << problem;
    for (const InputEvent& e : events) {
      std::string result;
      int32_t key = e.key;
      if (e.modifiers == 0 || key > 255) ApplyCalendarKey(c, key, result);
    }
    return c;
  }
};

TEST_F(CalendarTest, MovesWrapDaysMonthsAndYears) {
  struct Case {
    CalendarCursor from;
    const char* keys;
    CalendarCursor to;
  } cases[] = {
      {{2026, 1, 1}, "{Left}", {2025, 12, 31}},
      {{2025, 12, 31}, "{Right}", {2026, 1, 1}},
      {{2026, 1, 31}, "{PgDn}", {2026, 4, 30}},
      {{2026, 11, 30}, "{PgDn}", {2027, 2, 28}},
      {{2026, 2, 15}, "{PgUp}", {2025, 11, 15}},
      {{2026, 3, 3}, "{Up}", {2026, 2, 24}},
      {{2026, 2, 25}, "{Down}", {2026, 3, 4}},
      {{2024, 2, 28}, "{Right}", {2024, 2, 29}},
      {{2000, 2, 28}, "{Right}", {2000, 2, 29}},
      {{1900, 2, 28}, "{Right}", {1900, 3, 1}},
      {{2100, 2, 28}, "{Right}", {2100, 3, 1}},
      {{2024, 3, 31}, "{Home}{PgDn}{PgUp}", {2024, 1, 30}},
      {{2023, 5, 31}, "{End}{Home}{PgDn}{PgUp}{PgUp}", {2022, 10, 30}},
      {{2024, 1, 31}, "{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}{Right}", {2024, 2, 29}},
      {{2026, 5, 5}, "x{F5}{Tab}7", {2026, 5, 5}},  // not the calendar's keys
      {{1, 1, 1}, "{Left}{PgUp}{Up}", {1, 1, 1}},  // the first year is the limit
      {{9999, 12, 31}, "{Right}{PgDn}", {9999, 12, 31}},
  };
  for (const Case& c : cases) {
    const CalendarCursor got = Moved(c.from, c.keys);
    EXPECT_EQ(got, c.to) << c.from.year << "-" << c.from.month << "-" << c.from.day << " " << c.keys << " -> "
                         << got.year << "-" << got.month << "-" << got.day;
  }
}

TEST_F(CalendarTest, ResultIsTheDateAsTheUserWritesIt) {
  EXPECT_EQ(CalendarResultText({2026, 12, 7}), "7/12/2026");
  DateSettings().DatCaracter = "-";
  DateSettings().DatOrdre = "AMD";
  EXPECT_EQ(CalendarResultText({2026, 4, 30}), "2026-4-30");
  EXPECT_EQ(CalendarResultText({5, 1, 2}), "0005-1-2");
}

TEST_F(CalendarTest, OpensOnTodayAndTypesTheChosenDate) {
  Type("{Right}{Down}F");
  EXPECT_EQ(OpenCalendar(), "16/12/2026");
  Type("{Left}{A-f}");
  EXPECT_EQ(OpenCalendar(), "7/12/2026");
  Type("{PgUp}{Esc}");
  EXPECT_EQ(OpenCalendar(), "");
  EXPECT_EQ(OpenCalendar(), "");  // the end of input leaves as Esc does
}

TEST_F(CalendarTest, AltCTypesTheDateAndEscTypesNothing) {
  Type("{A-c}{Right}f{A-c}{Esc}x");
  EXPECT_EQ(ReadKey(), 0x2E00);
  std::string typed;
  for (int i = 0; i < 9; ++i) typed += static_cast<char>(ReadKey());
  EXPECT_EQ(typed, "9/12/2026");
  EXPECT_EQ(ReadKey(), 0x2E00);
  EXPECT_EQ(ReadKey(), 'x');  // Esc typed nothing
}

// The cursor's quarter with the year above it, month names in the session
// language, the weekday header of the language, weeks from Monday.
TEST_F(CalendarTest, DrawsTheQuarterOfTheCursorMonth) {
  Type("{Home}{Up}{Left}{A-x}{Esc}");
  OpenCalendar();
  ASSERT_EQ(g_rows.size(), 10u);
  EXPECT_NE(g_rows[0].find(" 2025 "), std::string::npos) << g_rows[0];
  EXPECT_NE(g_rows[1].find("OCTUBRE"), std::string::npos) << g_rows[1];
  EXPECT_NE(g_rows[1].find("DESEMBRE"), std::string::npos) << g_rows[1];
  EXPECT_NE(g_rows[2].find("DL DT DC DJ DV DS DG"), std::string::npos) << g_rows[2];
  EXPECT_EQ(g_cursorDay, "31");
  // 1 October 2025 is a Wednesday: third column of the first block.
  EXPECT_NE(g_rows[3].find("│        1  2  3  4  5"), std::string::npos) << g_rows[3];

  Session().language = "SPA";
  Type("{A-x}{Esc}");
  OpenCalendar();
  EXPECT_NE(g_rows[1].find("DICIEMBRE"), std::string::npos) << g_rows[1];
  EXPECT_NE(g_rows[2].find(" L  M  X  J  V  S  D"), std::string::npos) << g_rows[2];
  EXPECT_EQ(g_cursorDay, " 8");
  Session().language = "OCI";
  Type("{A-x}{Esc}");
  OpenCalendar();
  EXPECT_NE(g_rows[2].find("DL DT DC DJ DD DS DG"), std::string::npos) << g_rows[2];
}

TEST_F(CalendarTest, TheScreenUnderTheCalendarIsRestoredExactly) {
  for (int row = 1; row <= 25; ++row) {
    for (int col = 1; col <= 80; ++col) {
      WriteCell(row, col, Cell{static_cast<uint8_t>('a' + (row + col) % 26), static_cast<uint8_t>(row * col % 256)});
    }
  }
  SetCursorPosition(5, 6);
  const CellGrid before = Screen().cells;
  Type("{PgDn}{PgDn}{Right}{Down}{End}{Home}{Up}F");
  EXPECT_FALSE(OpenCalendar().empty());
  EXPECT_TRUE(Screen().cells == before);
  EXPECT_EQ(CursorRow(), 5);
  EXPECT_EQ(CursorColumn(), 6);
  EXPECT_EQ(Windows().depth, 0);
  EXPECT_TRUE(Windows().colourStack.empty());
  EXPECT_TRUE(KeyMap().saved.empty());
}

}  // namespace
}  // namespace kestrova

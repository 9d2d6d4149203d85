#include "calendar/text_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/clock.h"
#include "platform/codepage.h"

namespace kestrova {
namespace {

class TextChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTextChecksForTesting();
    SetClockForTesting(LocalDateTime{2026, 12, 7, 10, 0, 0, 0});
  }
  void TearDown() override {
    ResetTextChecksForTesting();
    SetClockForTesting(std::nullopt);
  }
};

// One folded character, the text given in UTF-8.
std::string Fold(const char* utf8, int16_t accents) {
  FoldAccents() = accents;
  return Cp850ToUtf8(FoldText(Utf8ToCp850(utf8)));
}

TEST_F(TextChecksTest, UpperCaseTableMapsEveryListedLetter) {
  const char* pairs[][2] = {
      {"ü", "Ü"}, {"é", "É"}, {"â", "Â"}, {"ä", "Ä"}, {"à", "À"}, {"å", "Å"}, {"ç", "Ç"},
      {"ê", "Ê"}, {"ë", "Ë"}, {"è", "È"}, {"ï", "Ï"}, {"î", "Î"}, {"ì", "Ì"}, {"æ", "Æ"},
      {"ô", "Ô"}, {"ö", "Ö"}, {"ò", "Ò"}, {"û", "Û"}, {"ù", "Ù"}, {"á", "Á"}, {"í", "Í"},
      {"ó", "Ó"}, {"ú", "Ú"}, {"ñ", "Ñ"}, {"ã", "Ã"}, {"ð", "Ð"}, {"õ", "Õ"}, {"ý", "Ý"},
      {"abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
      // Exceptions, and characters that are not lower-case letters.
      {"ÿ", "ÿ"}, {"ø", "ø"}, {"€", "€"}, {"þ", "þ"}, {"ß", "ß"}, {"µ", "µ"}, {"ª", "ª"},
      {"º", "º"}, {"Ñ", "Ñ"}, {"@[`{~", "@[`{~"}, {"0123456789,.", "0123456789,."},
  };
  for (const auto& p : pairs) EXPECT_EQ(Fold(p[0], 0), p[1]) << p[0];
  // Every code outside the listed letters maps to itself.
  int changed = 0;
  for (int code = kFoldFirstCode; code <= kFoldLastCode; ++code) {
    changed += UpperCaseTable()[static_cast<std::size_t>(code - kFoldFirstCode)] != code;
  }
  EXPECT_EQ(changed, 26 + 28);
}

TEST_F(TextChecksTest, AccentFoldingTableMapsEveryListedLetter) {
  const char* groups[][2] = {
      {"áàâäãåÁÀÂÄÃÅæÆª", "AAAAAAAAAAAAAAA"},
      {"çÇ", "CC"},
      {"ðÐ", "DD"},
      {"éèêëÉÈÊË", "EEEEEEEE"},
      {"íìîïÍÌÎÏ", "IIIIIIII"},
      {"ñÑ", "NN"},
      {"óòôöõøÓÒÔÖÕØº", "OOOOOOOOOOOOO"},
      {"ß", "S"},
      {"þÞ", "TT"},
      {"úùûüÚÙÛÜ", "UUUUUUUU"},
      {"ÿýÝ", "YYY"},
      {"€", "E"},  // code 213
      {"azAZ", "AZAZ"},
      // Not letters: blanks from "@" on; below 64 and above 237 unchanged.
      {"@[\\]^_`{|}~\x7F", "            "},
      {"!,.-/09?", "!,.-/09?"},
      {"¯´\u00AD±‗¾¶§÷¸°¨·¹³²■\u00A0", "¯´\u00AD±‗¾¶§÷¸°¨·¹³²■\u00A0"},
  };
  for (const auto& g : groups) EXPECT_EQ(Fold(g[0], -1), g[1]) << g[0];
  // Currency, fraction, quotation, line-drawing and block characters.
  const std::string symbols = Utf8ToCp850("£¥ƒ¤¢×½¼«»¡¿®©¬░▒▓│┤╣║╗╝┐└┴┬├─┼╚╔╩╦╠═╬┘┌█▄¦▀µ");
  FoldAccents() = -1;
  EXPECT_EQ(FoldText(symbols), std::string(symbols.size(), ' '));
}

TEST_F(TextChecksTest, FoldTextExamples) {
  FoldAccents() = 0;
  EXPECT_EQ(FoldText("ß ÿ 123 ñ"_cp), "ß ÿ 123 Ñ"_cp);
  FoldAccents() = -1;
  EXPECT_EQ(FoldText("ñ@,."_cp), "N ,.");
  FoldAccents() = 5;  // anything but -1: the upper-case table
  EXPECT_EQ(FoldText("ñ@"_cp), "Ñ@"_cp);
  EXPECT_EQ(FoldText(std::string("a\0b", 3)), std::string("A\0B", 3));
}

TEST_F(TextChecksTest, ParseDateTextTable) {
  struct Case {
    const char* text;
    int16_t flag, day, month, year, monthDays;
  } cases[] = {
      {"5/3/25", 0, 5, 3, 2025, 31},
      {"05-03-2025", 0, 5, 3, 2025, 31},
      {"050325", 0, 5, 3, 2025, 31},
      {"5.3.2025", 0, 5, 3, 2025, 31},
      {"29/2/2024", 0, 29, 2, 2024, 29},
      {"29/2/2000", 0, 29, 2, 2000, 29},
      {"29/2/2023", -1, 29, 2, 2023, 28},
      {"29/2/1900", -1, 29, 2, 1900, 28},
      {"10/10/1582", -1, 10, 10, 1582, 0},
      {"4/10/1582", 0, 4, 10, 1582, 31},
      {"15/10/1582", 0, 15, 10, 1582, 31},
      {"31/4/2024", -1, 31, 4, 2024, 30},
      {"0/1/2024", -1, 0, 1, 2024, 31},
      {"1/13/2024", -1, 1, 13, 2024, 30},
      {"1/2", -1, 0, 0, 0, 0},
      {"1/2/3/4", -1, 0, 0, 0, 0},
      {"5/3/76", 0, 5, 3, 2076, 31},   // 50 years ahead stays in this century
      {"5/3/77", 0, 5, 3, 1977, 31},
      {"5/3/0025", 0, 5, 3, 25, 31},   // written in full
      {" 5/ 3/ 25", 0, 5, 3, 2025, 31},
      {"5a/3/25", -1, 0, 0, 0, 0},
      {"5/3/99999", -1, 0, 0, 0, 0},  // too large for a count
      {"", -1, 0, 0, 2000, 30},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDateText(c.text), c.flag) << c.text;
    const DateParseResults& r = ParsedDate();
    EXPECT_EQ(r.ParsedDay, c.day) << c.text;
    EXPECT_EQ(r.ParsedMonth, c.month) << c.text;
    EXPECT_EQ(r.ParsedYear, c.year) << c.text;
    EXPECT_EQ(r.ParsedMonthDays, c.monthDays) << c.text;
  }
}

TEST_F(TextChecksTest, ParseDateTextSurvivesAnyText) {
  EXPECT_EQ(ParseDateText(std::string(200, '9')), -1);
  EXPECT_EQ(ParseDateText(std::string("5/3\0/25", 7)), -1);
  EXPECT_EQ(ParseDateText("5/3/ñ"_cp), -1);
  EXPECT_EQ(ParseDateText("32767/1/2026"), -1);
}

TEST_F(TextChecksTest, CheckNumberTextTable) {
  struct Case {
    const char* text;
    const char* allowed;
    int16_t expected;
  } cases[] = {
      {" -12.5", "-.", 0}, {"12.5", "", -1},   {"12-", "-", -1}, {"1.2.3", ".", -1},
      {"1,5", ".", -1},    {"x-1", "-", -1},   {"+7", "+", 0},   {"+7", "-", 0},
      {"-7", "", -1},      {"1 2 3", "", 0},   {"", "", 0},      {"-.5", "-.", 0},
      {".-5", "-.", -1},   {"--5", "-", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckNumberText(c.text, c.allowed), c.expected) << c.text << " / " << c.allowed;
  }
  EXPECT_EQ(CheckNumberText(std::string("1\0", 2), "."), -1);
}

TEST_F(TextChecksTest, CheckNumberRangeTable) {
  struct Case {
    std::string text;
    double minimum, maximum;
    int16_t decimals, expected;
  } cases[] = {
      {"12.345", 0, 100, 2, 0},      // rounded for the range test
      {"-1", 0, 100, 0, -1},         // no sign below a minimum of 0
      {"-1", -5, 5, 0, 0},
      {"100.004", 0, 100, 2, 0},     // 10000.4 rounds to 10000
      {"100.005", 0, 100, 2, -1},    // rounds half up, past the maximum
      {"5", 10, 1, 0, -1},           // maximum below minimum
      {"5", 0, 10, -1, -1},
      {"5", 0, 10, 17, -1},
      {"1.5", 0, 10, 0, -1},         // no point without decimals
      {" 7 ", 0, 10, 0, 0},
      {"", 0, 10, 0, 0},
      {"11", 0, 10, 0, -1},
      {std::string(200, '9'), 0, 1e300, 0, 0},
      {std::string(400, '9'), 0, 1e300, 0, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckNumberRange(c.text, c.minimum, c.maximum, c.decimals), c.expected)
        << c.text << " " << c.minimum << ".." << c.maximum << " " << c.decimals;
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(CheckNumberRange("5", nan, 10, 0), -1);
  EXPECT_EQ(CheckNumberRange("5", 0, nan, 0), -1);
  EXPECT_EQ(CheckNumberRange("5", -INFINITY, INFINITY, 0), 0);
}

}  // namespace
}  // namespace kestrova

#include "documents/print_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "session/session.h"
#include "support/print_script.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

using testing::ClosedScriptRecords;

class PrintChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSessionForTesting();
    ResetPrintChannelForTesting();
    Session().jobTmp = tmp_.Path();
  }
  void TearDown() override { ResetPrintChannelForTesting(); }

  testing::TempDir tmp_;
};

TEST(PrintChannelNumbers, SignDigitsTrailingBlank) {
  EXPECT_EQ(ScriptNumber(5), " 5 ");
  EXPECT_EQ(ScriptNumber(0), " 0 ");
  EXPECT_EQ(ScriptNumber(-3), "-3 ");
  EXPECT_EQ(ScriptNumber(66), " 66 ");
  EXPECT_EQ(ScriptNumber(INT32_MIN), "-2147483648 ");
}

TEST(PrintChannelJustification, EveryCodeLetter) {
  const struct {
    std::string code;
    std::string expected;
  } cases[] = {
      {"C", "C"},         {" c ", "C"},       {"D", "D"},      {" r", "D"},
      {"R", "D"},         {"a", "A"},         {"B", "A"},      {"", "E"},
      {"   ", "E"},       {"E", "E"},         {"x", "E"},      {"Left", "E"},
      // "N": the width as a script number (sign position, digits, one
      // blank), then the fill mask; other print programs of the suite read
      // these records, so exactly one blank stands before the mask.
      {"N 96 \\-\\", "N 96 \\-\\"},           {"n-12\\*\\", "N 12 \\*\\"},
      {"N", "N 0 "},      {"N 5 \\ab", "N 5 \\ab"},          {"N99999999999", "N 2147483647 "},
  };
  for (const auto& c : cases) EXPECT_EQ(NormaliseJustification(c.code), c.expected) << '"' << c.code << '"';
}

TEST_F(PrintChannelTest, RecordFormats) {
  OpenPrintJob("PANTALLA");
  StartPage(66);
  PrintControl("@e");
  SetJustification(" r");
  SetJustification("");
  PrintAt(1, "REBUT", 0);
  PrintAt(16, "a,b", 2);
  EXPECT_EQ(ClosedScriptRecords(), (std::vector<std::string>{"DEVICEPANTALLA", "PAGE 66 ", "*@e", "JUSD", "JUSE",
                                                  " 1 ,REBUT, 0 ", " 16 ,a,b, 2 "}));
}

TEST_F(PrintChannelTest, ControlBytesBecomeBlanksWithoutTouchingTheCaller) {
  OpenPrintJob("x.txt");
  StartPage(66);
  const std::string text = std::string("a\tb\rc") + '\xFF' + "d" + '\x7F' + '\0' + "\xB7";
  PrintAt(1, text, 1);
  EXPECT_EQ(text[1], '\t');
  const auto records = ClosedScriptRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2], std::string(" 1 ,a b c d  \xB7, 1 "));
}

TEST_F(PrintChannelTest, FullPageStartsANewPageOfTheSameLength) {
  OpenPrintJob("x.txt");
  StartPage(3);
  PrintAt(1, "one", 2);
  PrintAt(1, "two", 1);  // pageLine 2 < 3: same page
  EXPECT_EQ(PrintChannel().pageLine, 3);
  PrintAt(1, "three", 1);  // pageLine == pageLength: page record first
  EXPECT_EQ(PrintChannel().pageLine, 1);
  EXPECT_EQ(ClosedScriptRecords(), (std::vector<std::string>{"DEVICEx.txt", "PAGE 3 ", " 1 ,one, 2 ", " 1 ,two, 1 ",
                                                  "PAGE 3 ", " 1 ,three, 1 "}));
}

TEST_F(PrintChannelTest, ColumnCounters) {
  OpenPrintJob("x.txt");
  StartPage(66);
  const struct {
    int16_t column;
    std::string text;
    int16_t lineFeeds;
    int16_t pageLine;
    int16_t pageColumn;
  } steps[] = {
      {10, "abcde", 0, 0, 15},  // placed at 10, five long
      {0, "xyz", 0, 0, 18},     // column 0 continues where the last ended
      {40, "", 0, 0, 40},       // an empty text still moves the column
      {0, "", 3, 3, 0},         // line feeds reset the column
      {5, "ab", -2, 1, 0},      // a negative count goes back up the page
  };
  for (const auto& s : steps) {
    PrintAt(s.column, s.text, s.lineFeeds);
    EXPECT_EQ(PrintChannel().pageLine, s.pageLine) << s.text;
    EXPECT_EQ(PrintChannel().pageColumn, s.pageColumn) << s.text;
  }
  const auto records = ClosedScriptRecords();
  EXPECT_EQ(records.back(), " 5 ,ab,-2 ");
}

TEST_F(PrintChannelTest, ReopeningReplacesTheScriptAndLargeRunsAreComplete) {
  OpenPrintJob("first.txt");
  StartPage(66);
  PrintAt(1, "old", 1);
  ClosePrintJob();
  OpenPrintJob("second.txt");
  StartPage(66);
  for (int i = 0; i < 5000; ++i) PrintAt(1, "line " + std::to_string(i), 1);
  const auto records = ClosedScriptRecords();
  EXPECT_EQ(records.front(), "DEVICEsecond.txt");
  EXPECT_EQ(records.back(), " 1 ,line 4999, 1 ");
  // 5000 lines of 66-line pages: one first page record, then one per 66 lines.
  EXPECT_EQ(records.size(), 2u + 5000u + (5000 - 1) / 66);
}

TEST_F(PrintChannelTest, MissingPrintProgramIsReportedAndTheScriptStays) {
  Session().jobExe = tmp_.Path() + "noexe/";
  OpenPrintJob("x.txt");
  StartPage(66);
  PrintAt(1, "kept", 1);
  ClosePrintJob();
  EXPECT_EQ(RunPrintProgram(), kPrintProgramMissing);
  EXPECT_TRUE(PathExists(PrintScriptPath()));
}

TEST_F(PrintChannelTest, FailingPrintProgramIsReported) {
  tmp_.Write("exe/JOBPRINT", "#!/bin/sh\nexit 3\n");
  std::filesystem::permissions(tmp_.Path() + "exe/JOBPRINT", std::filesystem::perms::owner_all);
  tmp_.Write("exe/ok/jobprint", "#!/bin/sh\ntest -f \"$1\"\n");
  std::filesystem::permissions(tmp_.Path() + "exe/ok/jobprint", std::filesystem::perms::owner_all);
  OpenPrintJob("x.txt");
  ClosePrintJob();
  Session().jobExe = tmp_.Path() + "exe/";
  EXPECT_EQ(RunPrintProgram(), kPrintProgramFailed);
  // Found without regard to letter case, and given the script's path.
  Session().jobExe = tmp_.Path() + "exe/ok/";
  EXPECT_EQ(RunPrintProgram(), kPrintProgramDone);
}

}  // namespace
}  // namespace kestrova

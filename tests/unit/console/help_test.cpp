#include "console/help.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "unit/console/console_test_support.h"

namespace kestrova {
namespace {

// What the viewer shows: rows 5 to 21 inside the frame, from column 3.
std::vector<std::vector<std::string>> pages;
std::vector<uint8_t> firstRowColours;
std::string SnapshotPage() {
  firstRowColours.clear();
  for (int column = 1; column <= 80; ++column) firstRowColours.push_back(ReadCell(5, column).attribute);
  std::vector<std::string> rows;
  for (int row = 5; row <= 21; ++row) {
    std::string text;
    for (int column = 3; column <= 79; ++column) text += static_cast<char>(ReadCell(row, column).character);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    rows.push_back(text);
  }
  pages.push_back(rows);
  return "";
}

// Record n of the test files: "Line nnn", blank-padded to 80.
std::string Record(int n) {
  std::string r = "Line " + std::string(n < 10 ? "00" : n < 100 ? "0" : "") + std::to_string(n);
  r.resize(80, ' ');
  return r;
}
std::string Lines(int count) {
  std::string all;
  for (int n = 1; n <= count; ++n) all += Record(n);
  return all;
}
// The first line shown on a snapshot ("" for a blank row).
std::string FirstShown(const std::vector<std::string>& page) { return page.front(); }
std::string LastShown(const std::vector<std::string>& page) { return page.back(); }

class HelpTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    pages.clear();
    RegisterHotKeyPopups(SnapshotPage, nullptr);
  }
  void View(const std::string& contents, std::string_view script) {
    const std::string path = dir_.Write("AJUDA/PROVA.HLP", contents);
    Type(script);
    ShowHelpFile(path, "PROVA");
  }
};

TEST_F(HelpTest, PagingKeys) {
  struct Case {
    int lines;
    const char* script;
    const char* first;  // first and last rows of the last snapshot
    const char* last;
  } cases[] = {
      {40, "{A-x}", "Line 001", "Line 017"},
      {40, "{PgDn}{A-x}", "Line 018", "Line 034"},
      // PgUp shows the page ending with the first line of the one on screen.
      {40, "{PgDn}{PgUp}{A-x}", "Line 002", "Line 018"},
      // From a page starting at line 2, PgUp is pulled up to the first page.
      {40, "{PgDn}{PgUp}{PgUp}{A-x}", "Line 001", "Line 017"},
      // PgDn near the end shows the last full page, not a short one.
      {40, "{PgDn}{PgDn}{A-x}", "Line 024", "Line 040"},
      {40, "{PgDn}{PgDn}{PgDn}{Down}{A-x}", "Line 024", "Line 040"},
      {40, "{End}{A-x}", "Line 024", "Line 040"},
      {40, "{End}{Home}{A-x}", "Line 001", "Line 017"},
      {40, "{Down}{Down}{A-x}", "Line 003", "Line 019"},
      {40, "{Down}{Down}{Up}{A-x}", "Line 002", "Line 018"},
      {40, "{Up}{Home}{PgUp}{A-x}", "Line 001", "Line 017"},
      // A short file: Down, PgDn and End do nothing, its rows end blank.
      {5, "{Down}{PgDn}{End}{A-x}", "Line 001", ""},
  };
  for (const Case& c : cases) {
    pages.clear();
    Screen().input.clear();
    View(Lines(c.lines), c.script);
    ASSERT_FALSE(pages.empty()) << c.script;
    EXPECT_EQ(FirstShown(pages.back()), c.first) << c.lines << " " << c.script;
    EXPECT_EQ(LastShown(pages.back()), c.last) << c.lines << " " << c.script;
  }
}

TEST_F(HelpTest, LinesShowAtMost76CharactersWithTheirColours) {
  std::string line = std::string("\x1E") + "Títol"_cp.data() + "\x1E " + "\x1F" + "sub" + "\x1F " +
                     "\x10" + "rev" + "\x10";
  line.resize(80, 'x');
  std::string wide(80, 'y');
  View(line + wide, "{A-x}");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0][1], std::string(76, 'y'));
  // The 6 control characters are not shown and leave 74 visible.
  const std::string shown = pages[0][0];
  EXPECT_EQ(shown.substr(0, 15), std::string("Títol sub revxx"_cp));
  // Each part in its own colours: highlight, underline, reverse, normal.
  const std::array<ColourPair, 5>& pair = Session().colourTable;
  auto attribute = [](const ColourPair& p) { return static_cast<uint8_t>(p.foreground + 16 * p.background); };
  EXPECT_EQ(firstRowColours[3 - 1], attribute(pair[0]));
  EXPECT_EQ(firstRowColours[9 - 1], attribute(pair[4]));
  EXPECT_EQ(firstRowColours[13 - 1], attribute(pair[2]));
  EXPECT_EQ(firstRowColours[16 - 1], attribute(pair[1]));
  EXPECT_EQ(shown.size(), 74u);
}

TEST_F(HelpTest, OddFilesShowWithoutReadingPastTheirEnd) {
  struct Case {
    std::string contents;
    std::string last;  // row 17
    std::string four;  // row 4
  } cases[] = {
      {"", "", ""},
      // 30 bytes over 3 records: less than half a line, not counted.
      {Lines(3) + "Line 004", "", ""},
      // 40 bytes: counted, and what is missing shows blank.
      {Lines(3) + std::string("Line 004") + std::string(32, 'z'), "", "Line 004" + std::string(32, 'z')},
  };
  for (const Case& c : cases) {
    pages.clear();
    Screen().input.clear();
    View(c.contents, "{End}{A-x}");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0][16], c.last);
    EXPECT_EQ(pages[0][3], c.four);
  }
  // A missing file: an empty window that Esc closes.
  pages.clear();
  Type("{A-x}{Esc}");
  ShowHelpFile(dir_.Path() + "AJUDA/CAP.HLP", "CAP");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0][0], "");
  EXPECT_EQ(Windows().depth, 0);
}

TEST_F(HelpTest, F1OpensTheGeneralHelpOneLevelDeep) {
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path());
  dir_.Write("AJUDA/PROVA.HLP", Lines(3));
  std::string general = Record(1);
  general.replace(0, 8, "General ");
  dir_.Write("AJUDA/PORTIVEX.HLP", general);
  Session().platform = "DOS";
  Type("{F1}{F1}{A-x}{Esc}{A-x}{Esc}");
  ShowHelp("PROVA");
  std::filesystem::current_path(old);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0][0], "General");
  EXPECT_EQ(pages[1][0], "Line 001");
  EXPECT_EQ(Windows().depth, 0);
}

TEST_F(HelpTest, OnWinThePageGoesToTheStartProgram) {
  Session().platform = "WIN";
  Session().jobRoot = dir_.Path();
  Session().jobExe = dir_.Path() + "bin/";
  const std::string program = dir_.Write("bin/BRUMEL", "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/shown\"\n");
  ::chmod(program.c_str(), 0755);
  ShowHelp("KESTROVA");
  std::string shown;
  ASSERT_TRUE(ReadWholeFile(dir_.Path() + "bin/shown", shown));
  EXPECT_EQ(shown, NativePath(dir_.Path() + "AJUDA\\KESTROVA.HTM") + "\n");
}

}  // namespace
}  // namespace kestrova

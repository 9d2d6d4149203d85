#include "layout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "outputs.h"
#include "support/temp_dir.h"

namespace kestrova::jobprint {
namespace {

// Scripts are written with LF here; the reader takes CR LF and LF alike.
std::string Text(const std::string& script) { return RenderText(LayOutScript(script)); }

TEST(JobprintLayout, PlacementAndJustification) {
  const struct {
    const char* name;
    std::string script;
    std::string expected;
  } cases[] = {
      {"columns are 1-based", " 1 ,ab, 0 \n 5 ,cd, 1 \n", "ab  cd\n"},
      {"column 0 continues", " 3 ,ab, 0 \n 0 ,cd, 0 \n 0 ,ef, 1 \n", "  abcdef\n"},
      {"later text overwrites", " 1 ,aaaa, 0 \n 2 ,b, 1 \n", "abaa\n"},
      {"CR LF records", " 1 ,x, 1 \r\n 1 ,y, 1 \r\n", "x\ny\n"},
      {"commas inside the text", " 1 ,a,b,c, 1 \n", "a,b,c\n"},
      {"right: the field's width ends where it ends", "JUSD\n 1 ,    85.00 , 0 \n 0 ,    12.40-, 1 \n",
       "    85.00     12.40-\n"},
      {"centre lasts to the end of the line", "JUSC\n 1 ,a   , 1 \n 1 ,b   , 1 \n", " a\nb\n"},
      {"centred", "JUSC\n 1 ,ab      , 1 \n", "   ab\n"},
      {"justified", "JUSA\n 1 ,a b c     , 1 \n", "a    b   c\n"},
      {"justified single word stays", "JUSA\n 1 ,word  , 1 \n", "word\n"},
      {"fill with the mask character", "JUSN 10  \\-\\\n 1 ,ab, 1 \n", "ab--------\n"},
      {"fill, one blank before the mask", "JUSN 10 \\-\\\n 1 ,ab, 1 \n", "ab--------\n"},
      {"fill shorter than the text", "JUSN 2  \\-\\\n 1 ,abcd, 1 \n", "abcd\n"},
      {"left", "JUSE\n 1 , a , 1 \n", " a\n"},
      {"line feeds leave empty lines", " 1 ,a, 3 \n 1 ,b, 1 \n", "a\n\n\nb\n"},
      {"negative line feeds go back up", " 1 ,a, 2 \n 1 ,b,-2 \n 3 ,c, 1 \n", "a c\n\nb\n"},
      {"code page 850 to UTF-8", " 1 ,P\xB7GINA \xD5, 1 \n", "PÀGINA €\n"},
      {"control bytes are blanks", std::string(" 1 ,a\tb\x01" "c, 1 \n"), "a b c\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.script), c.expected) << c.name;
}

TEST(JobprintLayout, PagesAndControls) {
  const struct {
    const char* name;
    std::string script;
    std::string expected;
  } cases[] = {
      {"page record ends a page with content", "PAGE 66 \n 1 ,a, 1 \nPAGE 66 \n 1 ,b, 1 \n", "a\n\f\nb\n"},
      {"page record on an empty page adds none", "PAGE 66 \n*@e\nPAGE 66 \n 1 ,a, 1 \n", "a\n"},
      {"e starts a page", " 1 ,a, 1 \n*e\n 1 ,b, 1 \n", "a\n\f\nb\n"},
      {"a full page flows onto the next", "PAGE 2 \n 1 ,a, 1 \n 1 ,b, 1 \n 1 ,c, 1 \n", "a\nb\n\f\nc\n"},
      {"a page length of 0 is the default", "PAGE 0 \n 1 ,a, 1 \n", "a\n"},
      {"attributes do not change the text", "*b\n 1 ,a, 0 \n*b\n*u\n 0 ,b, 1 \n", "ab\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.script), c.expected) << c.name;
}

TEST(JobprintLayout, DeviceConditionsAndAttributes) {
  const PrintDocument doc = LayOutScript("DEVICEinforme.pdf\nDEVICEother\nPAGE 66 \n*@e\n*q\n 1 ,x, 1 \n"
                                         "*@e\n 1 ,y, 0 \n*b\n 0 ,z, 1 \n");
  EXPECT_EQ(doc.device, "informe.pdf");
  ASSERT_EQ(doc.pages.size(), 2u);
  EXPECT_TRUE(doc.pages[0].condensed);
  EXPECT_FALSE(doc.pages[1].condensed);
  EXPECT_EQ(doc.pages[1].lines[0].attributes[0], 0);
  EXPECT_EQ(doc.pages[1].lines[0].attributes[1], kBold);
}

TEST(JobprintLayout, BrokenScriptsRenderWhatTheyCan) {
  const std::string scripts[] = {
      "",
      "PAGE",
      " 1 ,unterminated",
      " 999999999999 ,far, 1 \n 1 ,near, 1 \n",
      " 1 ,up,-999999 \n 1 ,top, 1 \n",
      "JUSN\nJUSN 99999999 \\\nJUSA\n 1 ,   , 1 \n",
      "PAGE -5 \n 1 ,a, 1 \n*@@@eeeqqq\nDEVICE\n,,\n,\n-\n 1 ,b, 99999 \n 1 ,c, 1 \n",
      std::string("\0\0\xFF,\xFF,\xFF", 8),
  };
  for (const std::string& s : scripts) {
    const PrintDocument doc = LayOutScript(s);
    EXPECT_GE(doc.pages.size(), 1u);
    for (const PrintPage& page : doc.pages) {
      EXPECT_LE(static_cast<int>(page.lines.size()), page.length);
      for (const PrintLine& l : page.lines) EXPECT_LE(static_cast<int>(l.text.size()), kMaxColumns);
    }
    RenderText(doc);
  }
  EXPECT_EQ(Text(" 999999999999 ,far, 1 \n 1 ,near, 1 \n"), "\nnear\n");
  EXPECT_EQ(Text(" 1 ,up,-999999 \n 1 ,top, 1 \n"), "top\n");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string GoldenDir() { return std::string(std::getenv("KESTROVA_SOURCE_DIR")) + "/tests/unit/jobprint/golden/"; }

// A report page as the job writes it, laid out as text.  The expected text
// was worked out from the records by hand: see golden/report.txt.
TEST(JobprintGolden, ReportScriptAsText) {
  ASSERT_NE(std::getenv("KESTROVA_SOURCE_DIR"), nullptr);
  const std::string script = ReadFile(GoldenDir() + "report.script");
  ASSERT_FALSE(script.empty());
  EXPECT_EQ(Text(script), ReadFile(GoldenDir() + "report.txt"));
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

TEST(JobprintPdf, ValidPdfWithItsPagesAndText) {
  ASSERT_NE(std::getenv("KESTROVA_SOURCE_DIR"), nullptr);
  testing::TempDir tmp;
  const std::string path = tmp.Path() + "report.pdf";
  const PrintDocument doc = LayOutScript(ReadFile(GoldenDir() + "report.script"));
  ASSERT_EQ(WritePdf(doc, path), "");
  const std::string info = CommandOutput("pdfinfo '" + path + "'");
  EXPECT_NE(info.find("Pages:           " + std::to_string(doc.pages.size())), std::string::npos) << info;
  const std::string text = CommandOutput("pdftotext -layout '" + path + "' -");
  EXPECT_NE(text.find("PÀGINA"), std::string::npos) << text;
  EXPECT_NE(text.find("CONTRACTE VENÇUT"), std::string::npos) << text;
  // The 135-dash rule of a condensed page fits on its line.
  EXPECT_NE(text.find(std::string(135, '-')), std::string::npos);
  EXPECT_NE(WritePdf(doc, tmp.Path() + "missing/dir/x.pdf"), "");
}

TEST(JobprintViewer, LinesAndStatus) {
  const PrintDocument doc = LayOutScript(" 1 ,abcdefghij, 1 \n 1 ,klm\xB7, 1 \n*e\n 1 ,second, 1 \n");
  const auto lines = ViewerLines(doc.pages[0], 1, 2, 1, 2, 3, 6);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "mÀ    ");
  EXPECT_EQ(lines[1], "      ");
  EXPECT_EQ(lines[2].substr(0, 7), " Pàgin");
  EXPECT_NE(ViewerLines(doc.pages[1], 2, 2, 0, 0, 2, 80)[1].find("2/2"), std::string::npos);
}

}  // namespace
}  // namespace kestrova::jobprint

// The print program's outputs take the pages one at a time: what they write
// must be what the whole document laid out at once shows, and a page laid
// out again from where it starts (the viewer) must be that same page.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "layout.h"
#include "outputs.h"
#include "support/temp_dir.h"

namespace kestrova::jobprint {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class StartsSink : public PageSink {
 public:
  void Page(const PrintPage&, const LayoutState& start) override { starts.push_back(start); }
  std::vector<LayoutState> starts;
};

// A report-like page: condensed, a header with attributes, lines that fill
// the page so the next one flows on.
std::string LongScript(int pages) {
  std::string s = "DEVICEx.txt\r\nPAGE 10 \r\n";
  for (int p = 0; p < pages; ++p) {
    s += "*@e\r\n*q\r\n*b\r\n 1 ,HEADER " + std::to_string(p) + ", 0 \r\n*b\r\nJUSN 40  \\.\\\r\n 20 ,dots, 2 \r\n";
    for (int l = 0; l < 7; ++l) s += " 1 ,line " + std::to_string(l) + " of " + std::to_string(p) + ", 1 \r\n";
  }
  return s;
}

const struct {
  const char* name;
  std::string script;
} kScripts[] = {
    {"empty", ""},
    {"no text", "DEVICEx\nPAGE 66 \n*@e\n"},
    {"a full page flows on with its state", "PAGE 2 \n*q\n*u\nJUSC\n 1 ,a   , 1 \n 1 ,b, 1 \n 1 ,c, 0 \n 0 ,d, 1 \n"},
    {"attributes and condensed pitch carry over a break", "*q\n*b\n 1 ,x, 1 \n*e\n 1 ,y, 1 \n*@\n*e\n 1 ,z, 1 \n"},
    {"page length changes", "PAGE 3 \n 1 ,a, 5 \nPAGE 1 \n 1 ,b, 1 \n 1 ,c, 1 \nPAGE 66 \n 1 ,d, 1 \n"},
    {"negative line feeds and column 0", " 1 ,a, 2 \n 1 ,b,-2 \n 3 ,c, 0 \n 0 ,d, 1 \n*e\n 0 ,e,-3 \n"},
    {"justification pending at a break", "PAGE 1 \n 1 ,a, 1 \nJUSN 10  \\-\\\n 1 ,b, 1 \n"},
    {"a long report", LongScript(40)},
};

TEST(JobprintStreaming, EveryPageLaysOutAgainFromWhereItStarts) {
  testing::TempDir tmp;
  for (const auto& c : kScripts) {
    const std::string path = tmp.Write("script.tmp", c.script);
    const PrintDocument whole = LayOutScript(c.script);
    StartsSink index;
    ScriptLayout layout(index);
    ASSERT_TRUE(FeedScriptFile(path, layout)) << c.name;
    layout.Finish();
    ASSERT_EQ(index.starts.size(), whole.pages.size()) << c.name;
    for (std::size_t p = 0; p < whole.pages.size(); ++p) {
      PrintPage again;
      ASSERT_TRUE(ReLayOutPage(path, index.starts[p], again)) << c.name;
      const PrintPage& expected = whole.pages[p];
      EXPECT_EQ(again.length, expected.length) << c.name << " page " << p + 1;
      EXPECT_EQ(again.condensed, expected.condensed) << c.name << " page " << p + 1;
      ASSERT_EQ(again.lines.size(), expected.lines.size()) << c.name << " page " << p + 1;
      for (std::size_t k = 0; k < expected.lines.size(); ++k) {
        EXPECT_EQ(again.lines[k].text, expected.lines[k].text) << c.name << " page " << p + 1 << " line " << k;
        EXPECT_EQ(again.lines[k].attributes, expected.lines[k].attributes) << c.name << " page " << p + 1;
      }
    }
  }
}

TEST(JobprintStreaming, TextFileIsTheWholeDocumentsText) {
  testing::TempDir tmp;
  // A script far larger than one read of the file, records across the
  // reads' edges, CR LF and LF ends, and no line end at all at the end.
  std::string big = LongScript(900);
  big += " 1 ,last line without an end, 1 ";
  ASSERT_GT(big.size(), 3u * 65536u);
  std::vector<std::pair<const char*, std::string>> scripts;
  for (const auto& c : kScripts) scripts.emplace_back(c.name, c.script);
  scripts.emplace_back("big", big);
  scripts.emplace_back("LF ends", "PAGE 2 \n 1 ,a, 1 \n 1 ,b, 1 \n 1 ,c, 1 \n");
  for (const auto& [name, script] : scripts) {
    const std::string path = tmp.Write("script.tmp", script);
    ASSERT_EQ(WriteTextFile(path, tmp.Path() + "out.txt"), "") << name;
    EXPECT_EQ(ReadFile(tmp.Path() + "out.txt"), RenderText(LayOutScript(script))) << name;
  }
}

TEST(JobprintStreaming, PdfFileHasEveryPage) {
  testing::TempDir tmp;
  const std::string path = tmp.Write("script.tmp", LongScript(30));
  MeasureSink measured;
  ASSERT_EQ(WritePdfFile(path, tmp.Path() + "out.pdf", &measured), "");
  EXPECT_EQ(measured.pages, 30);
  EXPECT_EQ(measured.condensedPages, 30);
  EXPECT_EQ(ReadFile(tmp.Path() + "out.pdf").substr(0, 5), "%PDF-");
  const std::string command = "pdfinfo '" + tmp.Path() + "out.pdf' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string info;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) info += buffer;
  ::pclose(pipe);
  EXPECT_NE(info.find("Pages:           30"), std::string::npos) << info;
}

TEST(JobprintStreaming, UnreadableScriptAndUnwritableOutputAreReported) {
  testing::TempDir tmp;
  const std::string script = tmp.Write("script.tmp", " 1 ,a, 1 \n");
  const std::string missing = tmp.Path() + "none.tmp";
  const std::string noDirectory = tmp.Path() + "no/such/dir/out";
  EXPECT_NE(WriteTextFile(missing, tmp.Path() + "a.txt").find("NO ES POT LLEGIR"), std::string::npos);
  EXPECT_NE(WritePdfFile(missing, tmp.Path() + "a.pdf").find("NO ES POT LLEGIR"), std::string::npos);
  EXPECT_NE(WriteTextFile(script, noDirectory + ".txt").find("NO ES POT CREAR"), std::string::npos);
  EXPECT_NE(WritePdfFile(script, noDirectory + ".pdf"), "");
  PrintPage page;
  EXPECT_FALSE(ReLayOutPage(missing, LayoutState(), page));
}

}  // namespace
}  // namespace kestrova::jobprint

// Each case is a small template, merged into a fresh print script; the
// records expected were worked out by hand from the merge's rules.
#include "documents/letter_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "documents/print_channel.h"
#include "platform/files.h"
#include "session/session.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

using Records = std::vector<std::string>;
const std::string kD = "\x7f";  // directive byte
const std::string kEnd = "\xff";  // end of a value

std::string T(int column, const std::string& text, int feeds) {
  return ScriptNumber(column) + "," + text + "," + ScriptNumber(feeds);
}
std::string Pad(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}
// The records that start a page: page length, "@" on a document's first
// page, "e", the top margin and the header ending at column 95.
Records Page(bool first, int length = 66, int top = 0, const std::string& header = "") {
  Records r{"PAGE" + ScriptNumber(length)};
  if (first) r.push_back("*@");
  r.push_back("*e");
  r.push_back(T(0, "", top));
  r.push_back(T(95 - static_cast<int>(header.size()), header, 2));
  return r;
}
// One default-style line: left margin 1, 95 columns, padded with blanks.
Records Plain(const std::string& text, int left = 1, int width = 95) {
  return {T(left, "", 0), "JUSE", T(0, Pad(text, static_cast<std::size_t>(width)), 1)};
}
Records operator+(Records a, const Records& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class LetterMergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSessionForTesting();
    ResetPrintChannelForTesting();
    ResetLetterMergeForTesting();
    Session().jobRoot = tmp_.Path();
    Session().jobTmp = tmp_.Path();
    Session().language = "CAT";
  }
  void TearDown() override {
    ResetPrintChannelForTesting();
    ResetSessionForTesting();
  }

  void Template(const std::string& name, const std::string& text) { tmp_.Write("TEXTOS/" + name + ".txt", text); }
  std::string Data(const std::string& text) { return tmp_.Write("merge.tmp", text); }

  // Merges and returns the script's records after the device record.
  Records Merge(const std::string& name, const std::string& data = "", int16_t expected = kMergeDone) {
    OpenPrintJob("X");
    EXPECT_EQ(MergeTemplate(name, data, -1), expected);
    ClosePrintJob();
    std::string contents;
    EXPECT_TRUE(ReadWholeFile(PrintScriptPath(), contents));
    Records out;
    std::size_t start = 0;
    while (start < contents.size()) {
      const std::size_t end = contents.find("\r\n", start);
      if (end == std::string::npos) break;
      out.push_back(contents.substr(start, end - start));
      start = end + 2;
    }
    EXPECT_FALSE(out.empty());
    if (!out.empty()) out.erase(out.begin());
    return out;
  }

  testing::TempDir tmp_;
};

TEST_F(LetterMergeTest, OnlyTheSessionLanguageBlockIsPrinted) {
  Template("T", "fora\r\n" + kD + "ICAT\r\nHola\r\n" + kD + "ISPA\r\nHola es\r\n" + kD + "IOCI\r\nAdieu\r\n");
  EXPECT_EQ(Merge("T"), Page(true) + Plain("Hola"));
  Session().language = "SPA";
  EXPECT_EQ(Merge("T"), Page(true) + Plain("Hola es"));
  // A language outside the four reads the Catalan block, as every text of
  // the job does.
  Session().language = "ENG";
  EXPECT_EQ(Merge("T"), Page(true) + Plain("Hola"));
}

TEST_F(LetterMergeTest, TemplateWithoutLanguageDirectivePrintsNothing) {
  Template("T", "Hola\r\nAdeu\r\n");
  EXPECT_EQ(Merge("T"), Records{});
}

TEST_F(LetterMergeTest, PageLengthTopMarginAndHeader) {
  Template("T", kD + "P30\r\n" + kD + "S3\r\n" + kD + "LFull 1\r\n" + kD + "A\r\n" + kD + "Tx\r\n" + kD +
                    "ICAT\r\nx\r\n");
  EXPECT_EQ(Merge("T"), Page(true, 30, 3, "Full 1") + Plain("x"));
}

TEST_F(LetterMergeTest, StylesSelectorsAndAlignments) {
  Template("T", kD + "1040  0D\r\n" +   // style 1: right-aligned, columns 10-40
                    kD + "0130  0N\r\n" +  // style 2: filled with "-" to column 31
                    kD + "0110  0A\r\n" +  // style 3: justified, columns 1-10
                    kD + "0106  0C\r\n" +  // style 4: centred, columns 1-6
                    kD + "0000  0D\r\n" +  // style 5: margins 0 and 0 is the default
                    kD + "ICAT\r\n" + "\x02" + "abc\r\n" + "still\r\n" + "\x03" + "Total  \r\n" + "\x04" +
                    "aa bb cc dd\r\n" + "\x05" + "ab\r\n" + "\x06" + "def\r\n" + "\x01" + "   ind\r\n" + "\x09" +
                    "none\r\n");
  const Records expected =
      Page(true) +
      Records{T(10, "", 0), "JUSD", T(0, std::string(28, ' ') + "abc", 1)} +
      Records{T(10, "", 0), "JUSD", T(0, std::string(26, ' ') + "still", 1)} +
      Records{T(1, "", 0), "JUSN 31 \\-\\", T(0, "Total", 1)} +
      Records{T(1, "", 0), "JUSA", T(0, "aa  bb  cc", 1), T(1, "", 0), "JUSE", T(0, "dd", 1)} +
      Records{T(1, "", 0), "JUSC", T(0, "  ab  ", 1)} +
      Plain("def") +
      // Leading blanks of an "I" line move its left margin.
      Plain("ind", 4, 92) +
      // A selector with no style defined is the default style.
      Plain("none");
  EXPECT_EQ(Merge("T"), expected);
}

TEST_F(LetterMergeTest, LongLinesWrapAtTheStyleWidth) {
  Template("T", kD + "0110  0E\r\n" + kD + "ICAT\r\n\x02" + "aaaa bbbb cccc\r\n");
  const Records expected = Page(true) + Records{T(1, "", 0), "JUSE", T(0, "aaaa bbbb ", 1), T(1, "", 0), "JUSE",
                                                T(0, "cccc      ", 1)};
  EXPECT_EQ(Merge("T"), expected);
}

TEST_F(LetterMergeTest, AttributeBytesBecomeControlRecords) {
  Template("T", kD + "ICAT\r\na\x10" + "b\x11" + "c\x12" + "d\r\n");
  const Records expected = Page(true) + Records{T(1, "", 0), "JUSE", T(0, "a", 0), "*b", "JUSE", T(0, "b", 0),
                                                "*u", "JUSE", T(0, "c", 0), "*i", "JUSE", T(0, Pad("d", 92), 1)};
  EXPECT_EQ(Merge("T"), expected);
}

TEST_F(LetterMergeTest, IncludesKeepTheirSettingsAndShareThePageCount) {
  Template("CAP", kD + "0120  0D\r\n" + kD + "ICAT\r\n\x02" + "Cap\r\n");
  Template("T", kD + "ICAT\r\n@+CAP\r\nText\r\n#+CAP\"ignored\r\nFi\r\n");
  // The include's right-aligned style stays in it; after "#+" the next line
  // starts a new document.
  const Records cap{T(1, "", 0), "JUSD", T(0, Pad("", 17) + "Cap", 1)};
  EXPECT_EQ(Merge("T"), Page(true) + cap + Plain("Text") + cap + Page(true) + Plain("Fi"));
  EXPECT_EQ(LetterPageCount(), 0);
}

TEST_F(LetterMergeTest, APassMergesEveryLetterFromTheTemplatesAsTheyStoodAtItsStart) {
  // An include edited, and one made, while a pass runs: the pass goes on
  // with what it read; outside a pass, and at the next one, the files count.
  Template("T", kD + "ICAT\r\n@+PEU\r\n");
  Template("PEU", kD + "ICAT\r\nabans\r\n");
  StartTemplatePass();
  EXPECT_EQ(Merge("T"), Page(true) + Plain("abans"));
  Template("PEU", kD + "ICAT\r\ndespres\r\n");
  EXPECT_EQ(Merge("T"), Page(true) + Plain("abans"));
  // One that could not be read is not kept as missing.
  Template("T2", kD + "ICAT\r\n@+NOU\r\n");
  Merge("T2", "", kMergeTemplateMissing);
  Template("NOU", kD + "ICAT\r\nnou\r\n");
  EXPECT_EQ(Merge("T2"), Page(true) + Plain("nou"));
  EndTemplatePass();
  EXPECT_EQ(Merge("T"), Page(true) + Plain("despres"));
  StartTemplatePass();
  EXPECT_EQ(Merge("T"), Page(true) + Plain("despres"));
  EndTemplatePass();
}

TEST_F(LetterMergeTest, TemplatesThatCannotBeReadStopTheMergeWithTheirName) {
  Template("T", kD + "ICAT\r\nabans\r\n@+FALTA.txt\r\ndespres\r\n");
  EXPECT_EQ(Merge("T", "", kMergeTemplateMissing), Page(true) + Plain("abans"));
  EXPECT_EQ(LastMergeFailure().name, "FALTA");
  EXPECT_EQ(LetterPageCount(), 0);
  Merge("NOEXISTEIX   ", "", kMergeTemplateMissing);
  EXPECT_EQ(LastMergeFailure().name, "NOEXISTEIX");
}

TEST_F(LetterMergeTest, IncludesThatComeBackToThemselvesStopAtTheDepthLimit) {
  Template("A", kD + "ICAT\r\na\r\n@+B\r\n");
  Template("B", "@+A\r\n");
  const Records out = Merge("A", "", kMergeIncludesTooDeep);
  EXPECT_EQ(LastMergeFailure().status, kMergeIncludesTooDeep);
  // Level 0 and every second level print "a".
  EXPECT_EQ(std::count(out.begin(), out.end(), T(0, Pad("a", 95), 1)), kMaxIncludeDepth / 2 + 1);
}

TEST_F(LetterMergeTest, TransformedTextIsTurnedBack) {
  std::string stored = "Hola!";
  for (char& c : stored) c = static_cast<char>(255 - static_cast<unsigned char>(c));
  Template("T", kD + "ICAT\r\n" + kD + "C\r\n" + stored + "\r\n" + kD + "Coff\r\nHola!\r\n");
  EXPECT_EQ(Merge("T"), Page(true) + Plain("Hola!") + Plain("Hola!"));
}

TEST_F(LetterMergeTest, PositionLinesMoveDownOnlyWithinThePageBody) {
  Template("T", kD + "ICAT\r\n  @.10\r\nx\r\n#.70\r\ny\r\n@.3\r\nz\r\n");
  // After the header the page is at line 2: 7 feeds reach line 10.  70
  // cycles to 10 again, where the page already is past: no move up.
  EXPECT_EQ(Merge("T"), Page(true) + Records{T(0, "", 7)} + Plain("x") + Plain("y") + Plain("z"));
}

TEST_F(LetterMergeTest, FieldsTrimmedWithAtAndAsStoredWithHash) {
  const std::string data = Data(kD + "IMPAUM\r\n 1.234 " + kEnd + "\r\n" + kD + "fecapl\r\n1/3/2026" + kEnd + "\r\n");
  Template("T", kD + "ICAT\r\n[@IMPAUM][#impaum]\r\nDes de @FECAPL.\r\n@NOHIES #\r\n");
  EXPECT_EQ(Merge("T", data), Page(true) + Plain("[1.234][ 1.234 ]") + Plain("Des de 1/3/2026.") +
                                  Plain("@NOHIES #"));
}

TEST_F(LetterMergeTest, MultiLineValuesPrintALineEach) {
  const std::string data = Data(kD + "ADR\r\n l1 \r\nl2\r\n l3 " + kEnd + "rest ignored\r\n");
  Template("T", kD + "ICAT\r\nabc @ADR def\r\n");
  EXPECT_EQ(Merge("T", data), Page(true) + Plain("abc l1") + Plain("l2") + Plain("l3 def"));
}

TEST_F(LetterMergeTest, MarkersBroughtInByValuesAreMergedInTurn) {
  const std::string data =
      Data(kD + "A\r\nx#B" + kEnd + "\r\n" + kD + "B\r\ny" + kEnd + "\r\n" + kD + "SELF\r\nx@SELF" + kEnd + "\r\n" +
           kD + "BUIT\r\n" + kEnd + "\r\n");
  Template("T", kD + "ICAT\r\n@A.\r\n@BUIT@B\r\n@SELF\r\n");
  const Records out = Merge("T", data);
  ASSERT_GE(out.size(), 11u);
  EXPECT_EQ(out[7], T(0, Pad("xy.", 95), 1));
  EXPECT_EQ(out[10], T(0, Pad("y", 95), 1));
  // A value that names itself stops after a bounded number of rounds: 1000
  // "x" and the marker, laid out in 11 lines of 95.
  EXPECT_EQ(out.size(), 44u);
  EXPECT_EQ(out.back(), T(0, Pad(std::string(1000 - 950, 'x') + "@SELF", 95), 1));
}

TEST_F(LetterMergeTest, ValueWithoutEndByteRunsToTheEndOfTheFile) {
  const std::string data = Data(kD + "A\r\nu\r\nv");
  Template("T", kD + "ICAT\r\n<@A>\r\n");
  EXPECT_EQ(Merge("T", data), Page(true) + Plain("<u") + Plain("v>"));
}

TEST_F(LetterMergeTest, MissingDataFileStopsTheMerge) {
  Template("T", kD + "ICAT\r\nsense camps\r\n@A\r\n");
  EXPECT_EQ(Merge("T", tmp_.Path() + "no.tmp", kMergeDataMissing), Page(true) + Plain("sense camps"));
  EXPECT_EQ(LastMergeFailure().name, tmp_.Path() + "no.tmp");
  // Without a data file the markers stay as they are.
  EXPECT_EQ(Merge("T"), Page(true) + Plain("sense camps") + Plain("@A"));
}

TEST_F(LetterMergeTest, PageBreaksWhenMoreThanLengthLessEightLinesAreWritten) {
  std::string text = kD + "ICAT\r\n";
  for (int i = 0; i < 58; ++i) text += "l\r\n";
  Template("T", text);
  const Records out = Merge("T");
  // Page 1 holds the header's 2 lines and 57 text lines (lines 3 to 59);
  // the 58th starts page 2, without "@".
  Records expected = Page(true);
  for (int i = 0; i < 57; ++i) expected = expected + Plain("l");
  expected = expected + Page(false) + Plain("l");
  EXPECT_EQ(out, expected);
}

TEST_F(LetterMergeTest, AbsurdNumbersAreHeldToSoundValues) {
  // No page length, or a negative one: 66.  Three lines: 10.  A top
  // margin past the page leaves 10 lines of it.
  Template("A", kD + "P\r\n" + kD + "ICAT\r\nx\r\n");
  EXPECT_EQ(Merge("A"), Page(true) + Plain("x"));
  Template("B", kD + "P-5\r\n" + kD + "S-4\r\n" + kD + "ICAT\r\nx\r\n");
  EXPECT_EQ(Merge("B"), Page(true) + Plain("x"));
  Template("C", kD + "P3\r\n" + kD + "S500\r\n" + kD + "ICAT\r\nx\r\n");
  EXPECT_EQ(Merge("C"), Page(true, 10, 0) + Plain("x"));
  // Margins: left -5 is column 1, a right margin before the left one gives
  // one column.
  Template("D", kD + "-540  0E\r\n" + kD + "5010  0E\r\n" + kD + "ICAT\r\n\x02" + "ab\r\n\x03" + "ab\r\n");
  const Records expected =
      Page(true) + Plain("ab", 1, 40) + Records{T(50, "", 0), "JUSE", T(0, "a", 1), T(50, "", 0), "JUSE", T(0, "b", 1)};
  EXPECT_EQ(Merge("D"), expected);
}

TEST_F(LetterMergeTest, TemplateNamesAndPaths) {
  Session().jobRoot = "/arrel/";
  EXPECT_EQ(TemplatePath("REVIPC  "), "/arrel/TEXTOS\\REVIPC.txt");
  EXPECT_EQ(TemplatePath("C:\\TEXTOS\\X"), "C:\\TEXTOS\\X.txt");
  EXPECT_EQ(TemplatePath("/tmp/x"), "/tmp/x.txt");
}

}  // namespace
}  // namespace kestrova

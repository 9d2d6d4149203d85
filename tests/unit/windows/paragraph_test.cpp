#include "windows/paragraph.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrova {
namespace {

std::string Format(std::string text, int indent, int width, std::string_view align) {
  FormatParagraph(text, static_cast<int16_t>(indent), static_cast<int16_t>(width), align);
  return text;
}

TEST(FormatParagraph, LayoutTable) {
  const struct {
    const char* text;
    int indent, width;
    const char* align;
    std::string want;
  } cases[] = {
      {"aa bb cc", 0, 5, "L", "aa bbcc   "},
      {"aa bb cc", 0, 5, "i", "aa bbcc   "},
      {"aa bb cc", 0, 5, "N", "aa bbcc---"},
      {"aa bb cc", 0, 5, "R", "aa bb   cc"},
      {"aa bb cc", 0, 6, "C", "aa bb   cc  "},      // the odd blank goes right
      {"aa bb cc", 0, 6, "x", "aa bbcc"},             // unknown letter: no padding
      {"abcdefghij", 0, 4, "L", "abcdefghij  "},      // a long word is cut at the room
      {"one two three", 2, 8, "L", "  one   two     three   "},
      {"one two three", -2, 8, "L", "one two   three "},  // hanging indent
      {"aa  bb   ", 0, 10, "L", "aa  bb    "},        // trailing blanks at the end dropped
      {"a b c d e f", 0, 8, "A", "a  b c de f"},      // justified; last line not padded
      {"a b c d e f", 0, 8, "b", "a  b c de f"},
      {"a b c d e f", 0, 7, "A", "a b c de f"},       // a full line needs nothing
      {"aaaa bb", 0, 9, "A", "aaaa bb"},               // a single line is the last one
      {"", 0, 10, "L", ""},
      {"   ", 0, 4, "L", "    "},
      {"abc", 5, 3, "L", "     abc "},               // no room after the indent: one character
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Format(c.text, c.indent, c.width, c.align), c.want)
        << '"' << c.text << "\" " << c.indent << " " << c.width << " " << c.align;
  }
}

TEST(FormatParagraph, JustifiedGapsFillFromTheLeftRunByRun) {
  // 16 columns, "ab cd ef gh" is 11: five blanks go into three gaps, two
  // rounds from the left.
  EXPECT_EQ(Format("ab cd ef gh ijklmnopqrstu", 0, 16, "A"), "ab   cd   ef  ghijklmnopqrstu");
  // The first |indent| columns keep their blanks.
  EXPECT_EQ(Format("ab cd ef gh", 3, 9, "A").substr(0, 9), "   ab  cd");
}

TEST(FormatParagraph, AttributeBytesTakeNoColumn) {
  // \x02 switches bold on and off; the lines are 6 columns plus their
  // attribute bytes, and a switch after the last character that fits stays
  // on its line.
  EXPECT_EQ(Format("\x02" "abc\x02 def ghi", 0, 6, "L"), "\x02" "abc\x02   def   ghi   ");
  EXPECT_EQ(Format("abcdef\x02 gh", 0, 6, "L"), "abcdef\x02" "gh    ");
  EXPECT_EQ(Format("ab\x01 cd", 0, 6, "R"), " ab\x01 cd");
}

}  // namespace
}  // namespace kestrova

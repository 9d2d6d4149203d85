#include "windows/paragraph.h"

#include <gtest/gtest.h>

#include <algorithm>
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
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Format(c.text, c.indent, c.width, c.align), c.want)
        << '"' << c.text << "\" " << c.indent << " " << c.width << " " << c.align;
  }
}

TEST(FormatParagraph, NoRoomAfterTheIndentGivesOneWordALineNeverWiderThanTheWidth) {
  const struct {
    const char* text;
    int indent, width;
    const char* align;
    std::string want;
  } cases[] = {
      {"abc", 5, 3, "L", "abc"},
      {"abc", 3, 3, "L", "abc"},                        // width equal to the indent
      {"ab cd ef", 5, 5, "L", "ab   cd ef"},             // short words stay whole
      {"ab cd ef", 5, 5, "R", "   abcd ef"},
      {"abcdefg hi", 6, 3, "L", "abcdefg  hi "},           // only the long word is cut
      {"one two three four", -6, 6, "L", "one   two   three four  "},  // hanging, no room
      {"abc", 0, 0, "L", ""},                           // no column at all
      {"abc", 2, -3, "L", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Format(c.text, c.indent, c.width, c.align), c.want)
        << '"' << c.text << "\" " << c.indent << " " << c.width << " " << c.align;
  }
  // Every line of a left-aligned paragraph is exactly the width, and no
  // word that fits every line is split, whatever the indent.
  const std::string text = "a bb ccc dddd eeeee ffffff";
  for (int width = 1; width <= 8; ++width) {
    for (int indent = -9; indent <= 9; ++indent) {
      const std::string out = Format(text, indent, width, "L");
      ASSERT_EQ(out.size() % static_cast<std::size_t>(width), 0u) << indent << " " << width;
      // A line without room after its indent holds a whole word.
      auto roomOf = [width](int room) { return room > 0 ? room : width; };
      const int smallestRoom = std::min(roomOf(indent > 0 ? width - indent : width),
                                        roomOf(indent < 0 ? width + indent : width));
      for (const char* word : {"a", "bb", "ccc", "dddd", "eeeee", "ffffff"}) {
        if (static_cast<int>(std::string(word).size()) > smallestRoom) continue;
        bool whole = false;
        for (std::size_t at = 0; at < out.size(); at += static_cast<std::size_t>(width)) {
          whole = whole || out.substr(at, static_cast<std::size_t>(width)).find(word) != std::string::npos;
        }
        EXPECT_TRUE(whole) << word << " split at indent " << indent << " width " << width;
      }
    }
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

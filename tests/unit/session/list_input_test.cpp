#include "session/list_input.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrova {
namespace {

std::vector<std::string> AllItems(std::string_view text) {
  ListInput in = MakeListInput(text);
  std::vector<std::string> items;
  std::string item;
  while (ReadTextItem(in, item) == ItemStatus::kOk) items.push_back(item);
  return items;
}

TEST(ListInput, ItemRules) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> items;
  } cases[] = {
      {"commas and line ends", "a,b\r\nc\r\n", {"a", "b", "c"}},
      {"leading blanks skipped, trailing dropped", "  a  , b\r\n", {"a", "b"}},
      {"quoted item keeps commas and blanks", "\" a, b \",c\r\n", {" a, b ", "c"}},
      {"text after closing quote skipped", "\"a\"xyz,b\r\n", {"a", "b"}},
      {"tabs dropped", "a\tb,\tc\r\n", {"ab", "c"}},
      {"empty items", ",,\r\n", {"", "", ""}},
      {"bare line feed ends a line", "a\nb\n", {"a", "b"}},
      {"end-of-file mark", "a,b\x1A,c\r\n", {"a", "b"}},
      {"unterminated quote runs to the end", "a,\"b, c", {"a", "b, c"}},
      {"code page 850 bytes", "\"\xB7\x90\"\r\n", {"\xB7\x90"}},
  };
  for (const Case& c : cases) EXPECT_EQ(AllItems(c.text), c.items) << c.name;
}

TEST(ListInput, Numbers) {
  struct Case {
    const char* text;
    ItemStatus status;
    int16_t value;
  } cases[] = {
      {"12", ItemStatus::kOk, 12},          {" -7 ", ItemStatus::kOk, -7},
      {"+3", ItemStatus::kOk, 3},           {"", ItemStatus::kEnd, 0},
      {" ,", ItemStatus::kOk, 0},           {"32767", ItemStatus::kOk, 32767},
      {"-32768", ItemStatus::kOk, -32768},  {"32768", ItemStatus::kNotNumber, 0},
      {"1x", ItemStatus::kNotNumber, 0},    {"-", ItemStatus::kNotNumber, 0},
      {"99999999999999999999", ItemStatus::kNotNumber, 0},
  };
  for (const Case& c : cases) {
    ListInput in = MakeListInput(c.text);
    int16_t value = -1;
    EXPECT_EQ(ReadNumberItem(in, value), c.status) << c.text;
    if (c.status == ItemStatus::kOk) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(ListInput, CommentLinesAndLineNumbers) {
  ListInput in = MakeListInput("' one\r\n' two\r\nx,\r\ny\r\n");
  SkipCommentLines(in);
  std::string item;
  ASSERT_EQ(ReadTextItem(in, item), ItemStatus::kOk);
  EXPECT_EQ(item, "x");
  EXPECT_EQ(in.itemLine, 3);
  ASSERT_EQ(ReadTextItem(in, item), ItemStatus::kOk);  // the empty item after the comma
  ASSERT_EQ(ReadTextItem(in, item), ItemStatus::kOk);
  EXPECT_EQ(item, "y");
  EXPECT_EQ(in.itemLine, 4);
  EXPECT_TRUE(ListInputAtEnd(in));
}

}  // namespace
}  // namespace kestrova

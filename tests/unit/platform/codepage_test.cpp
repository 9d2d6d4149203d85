#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(CodePage, LiteralsConvertAtCompileTime) {
  constexpr std::string_view page = "PÀGINA"_cp;
  static_assert(page.size() == 6);
  EXPECT_EQ(page, std::string_view("P\xB7GINA"));
  EXPECT_EQ("Ç€ñ·"_cp, std::string_view("\x80\xD5\xA4\xFA"));
  EXPECT_EQ("◄►"_cp, std::string_view("\x11\x10"));
  EXPECT_EQ("╔═╗"_cp, std::string_view("\xC9\xCD\xBB"));
  EXPECT_EQ(""_cp, std::string_view());
}

TEST(CodePage, RoundTripsEveryTextByte) {
  for (int b = 32; b < 256; ++b) {
    if (b == 127) continue;
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp850(Cp850ToUtf8(one)), one) << b;
  }
}

TEST(CodePage, Utf8ToCp850Table) {
  struct Case {
    const char* utf8;
    const char* cp850;
  } cases[] = {
      {"abc", "abc"},
      {"àéíòú", "\x85\x82\xA1\x95\xA3"},
      {"€", "\xD5"},
      {"ı", "\xD5"},          // plain code page 850 byte 213
      {"日本", "??"},         // not in the code page
      {"\xC3", "?"},          // truncated sequence
      {"\xFF" "a", "?a"},     // invalid lead byte
      {"\xE2\x82" "a", "??a"},  // broken three-byte sequence, then a stray byte
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToCp850(c.utf8), c.cp850) << c.utf8;
}

TEST(CodePage, DisplayShowsGlyphsForControlBytes) {
  EXPECT_EQ(Cp850DisplayCodePoint(16), U'\u25BA');
  EXPECT_EQ(Cp850DisplayCodePoint(17), U'\u25C4');
  EXPECT_EQ(Cp850DisplayCodePoint(0), U' ');
  EXPECT_EQ(Cp850DisplayCodePoint(213), U'\u20AC');
  EXPECT_EQ(Cp850ToCodePoint(16), U'\x10');
}

TEST(CodePage, AnsiUpperCase) {
  EXPECT_EQ(UpperAnsi("Menu"), "MENU");
  EXPECT_EQ(UpperAnsi("\xE0\xF7\xFF\x9A"), "\xC0\xF7\x9F\x8A");
  EXPECT_EQ(UpperAnsi("\xDF"), "\xDF");
}

}  // namespace
}  // namespace kestrova

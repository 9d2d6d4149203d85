#include "calendar/picture_mask.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "session/session.h"

namespace kestrova {
namespace {

// The suite's default characters: apostrophe for decimals, "." for
// thousands.  Set directly so no test depends on a Tarn.ini.
class PictureMaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSeparatorsForTesting();
    Separators() = {'\'', '.'};
  }
  void TearDown() override { ResetSeparatorsForTesting(); }
};

// Blanks written as "_" to keep the expected texts readable.
std::string Shown(std::string text) {
  for (char& c : text) c = c == ' ' ? '_' : c;
  return text;
}

TEST_F(PictureMaskTest, WorkedTable) {
  struct Case {
    const char* mask;
    double value;
    const char* expected;
  } cases[] = {
      {"ZZ9", 5, "__5"},
      {"ZZ9", 0, "__0"},
      {"ZZ9", 2.5, "__2"},
      {"ZZ9", 3.5, "__4"},
      {"999", 7, "007"},
      {"Z,ZZ9", 1234, "1.234"},
      {"Z,ZZ9", 999, "__999"},
      {"Z,ZZ9", 12345, "12345"},
      {"ZZ9", 123456, "!!!"},
      {"ZZ9", -123, "!!!"},
      {"ZZ9.99", 1234.5, "1234'5"},
      {"ZZZ9.999", 12.3456, "__12'346"},
      {"ZZZ9.9999 %", 2.25, "___2'2500_%"},
      {"Z,ZZ9.999", 1234.5, "1.234'500"},
      {"ZZ,ZZZ,ZZ9-", -1234567, "_1.234.567-"},
      {"ZZ,ZZZ,ZZ9-", 1234567, "_1.234.567_"},
      {"ZZ9.99", -5.5, "_-5'50"},
      {"ZZ9.99", -0.5, "__-'50"},
      {"9.99", -5.5, "-5'5"},
      {"ZZ9.99", 0, "__0'00"},
      {"ZZZ.ZZ", 0, "______"},
      {"ZZZ.ZZ", 0.05, "___'05"},
      {"***,**9.99", 1234.5, "**1.234'50"},
      {"***,**9.99", 0.5, "******0'50"},
      {"+ZZ9", -12, "-_12"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Shown(FormatWithMask(c.mask, c.value)), c.expected) << c.mask << " " << c.value;
  }
}

TEST_F(PictureMaskTest, MoreMasks) {
  struct Case {
    const char* mask;
    double value;
    const char* expected;
  } cases[] = {
      {"ZZZ", 0, "___"},                 // zero under an all-Z mask is blank
      {"ZZ9.9999", 0.12345, "__0'1234"},  // half at the last decimal, 4 is even
      {"ZZ9.9999", 0.12355, "__0'1236"},
      {"ZZ9", -5, "_-5"},                // floating sign
      {"ZZ9", -0.4, "_-0"},              // sign of the value before rounding
      {"ZZ9-", -5, "__5-"},
      {"+ZZ9", 12, "+_12"},
      {"ZZ9/ZZ9", 5, "__0/__5"},         // literals take no digit; "9" always shows
      {"ZZZ.ZZ", -0.05, "__-'05"},       // the sign never lands in the decimals
      {"(99)", -12, "_-12"},             // nowhere for the sign: plain form
      {"99", -0.001, "-0"},
      {"Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9.99", 1e12, "____1.000.000.000.000'00"},
      {"", 5, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Shown(FormatWithMask(c.mask, c.value)), c.expected) << c.mask << " " << c.value;
  }
}

TEST_F(PictureMaskTest, UserSeparators) {
  Separators() = {',', '.'};
  EXPECT_EQ(FormatWithMask("Z,ZZ9.999", 1234.5), "1.234,500");
}

TEST_F(PictureMaskTest, SeparatorsComeFromTarnIniUnderTheSessionsRootOnce) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kestrova_mask_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "Tarn.ini") << "[Usuari]\nDecCaracter=,\nMilCaracter=\n";
  const char* old = std::getenv("JOBROOT");
  const std::string saved = old ? old : "";
  // A relative JOBROOT no longer leads anywhere once the job has changed
  // directory; the session's absolute root does.
  ::setenv("JOBROOT", "relative-root/", 1);
  Session().jobRoot = dir.string() + "/";

  ResetSeparatorsForTesting();
  EXPECT_EQ(FormatWithMask("Z,ZZ9.99", 1234.5), "1.234,50");  // blank thousands -> "."
  std::ofstream(dir / "Tarn.ini") << "[Usuari]\nDecCaracter=x\n";
  EXPECT_EQ(FormatWithMask("Z,ZZ9.99", 1234.5), "1.234,50");  // read once per run

  std::filesystem::remove_all(dir);
  ResetSeparatorsForTesting();
  EXPECT_EQ(FormatWithMask("Z9.9", 1.5), " 1'5");  // no file: the defaults
  if (old) ::setenv("JOBROOT", saved.c_str(), 1); else ::unsetenv("JOBROOT");
  ResetSessionForTesting();
}

// Whole numbers are written digit for digit as the C library writes them,
// on both sides of the 64-bit range.
TEST_F(PictureMaskTest, WholeNumbersKeepTheirExactDigits) {
  const double values[] = {1,      2.5,    3.5,   99999.5, 9007199254740993.0, 123456789012345678.0,
                           9.999999999999998e18, 1e19, 1.8446744073709552e19, 3.4e38, 12345.0};
  for (double v : values) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%040.0f", v);
    EXPECT_EQ(FormatWithSpec(v, "40"), expected) << v;
  }
}

TEST_F(PictureMaskTest, HostileValuesKeepTheWidth) {
  const double values[] = {std::nan(""), INFINITY, -INFINITY, 1e300, -1e300, -0.0,
                           std::numeric_limits<double>::denorm_min(), 1e-300, 9.5e15};
  for (double v : values) {
    EXPECT_EQ(FormatWithMask("ZZ,ZZ9.99-", v).size(), 10u) << v;
  }
  EXPECT_EQ(FormatWithMask("ZZ9", std::nan("")), "!!!");
  EXPECT_EQ(FormatWithMask("ZZ9.99", INFINITY), "!!!!!!");
  EXPECT_EQ(FormatWithMask("ZZ9.99", -0.0), "  0'00");
  EXPECT_EQ(FormatWithMask("ZZ9", 1e300), "!!!");
  // Hundreds of decimals of a large value: exact digits, no infinity.
  const std::string many = "9." + std::string(400, '9');
  const std::string shown = FormatWithMask(many, 1e10);
  EXPECT_EQ(shown.size(), many.size());
  EXPECT_EQ(shown.substr(0, 12), "10000000000'");
}

TEST_F(PictureMaskTest, RandomMasksAlwaysKeepTheirLength) {
  std::mt19937 random(20261207);
  const std::string alphabet = "9Zz*.,-+ %/9Z";
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_real_distribution<double> exponent(-8, 20);
  for (int round = 0; round < 20000; ++round) {
    std::string mask(static_cast<std::size_t>(length(random)), ' ');
    for (char& c : mask) c = alphabet[pick(random)];
    double value = std::pow(10.0, exponent(random));
    if (round % 2) value = -value;
    if (round % 97 == 0) value = 0;
    ASSERT_EQ(FormatWithMask(mask, value).size(), mask.size()) << mask << " " << value;
  }
}

TEST(FormatWithSpec, Table) {
  struct Case {
    double value;
    const char* format;
    const char* expected;
  } cases[] = {
      {12.5, "", "12.5"},
      {0.5, "", ".5"},
      {-3, "", "-3"},
      {1.1, "", "1.1"},
      {0, "", ""},
      {0, "z", "0"},
      {0.5, "Z", "0.5"},
      {7, "3", "007"},
      {1234, "3", "234"},        // cut on the left
      {-7, "3", "-07"},          // the sign takes the first position
      {-7, "", "-7"},
      {7, "s", "+7"},
      {-7, "N", "N7"},
      {7, "M", " 7"},
      {-7, "M3", "N07"},
      {2.5, ".0", "2"},           // halves to even
      {3.456, "5.2", "00003.46"},
      {3.456, "5.2V", "0000346"},
      {0.05, ".3", ".050"},
      {1234.5, "0.2", "1234.50"},  // width 0: not padded
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatWithSpec(c.value, c.format), c.expected) << c.value << " " << c.format;
  }
  EXPECT_EQ(NumberToPlainText(-3), "-3");
}

TEST(FormatWithSpec, HostileInput) {
  EXPECT_EQ(FormatWithSpec(std::nan(""), "4"), "!!!!");
  EXPECT_EQ(FormatWithSpec(INFINITY, ""), "!");
  EXPECT_EQ(FormatWithSpec(1e300, "").size(), 301u);
  EXPECT_EQ(FormatWithSpec(1, "99999999999999999999").size(), 1000u);  // width saturates
  EXPECT_EQ(FormatWithSpec(1, ".99999999999").size(), 1002u);
  EXPECT_EQ(NumberToPlainText(std::numeric_limits<double>::denorm_min()).substr(0, 4), ".000");
}

TEST(SaveStack, LastInFirstOut) {
  ResetSavedStackForTesting();
  PushSaved("first");
  PushSaved("");
  PushSaved(std::string("a\0b", 3));
  EXPECT_EQ(SavedStack().size(), 5u + 2 + 0 + 2 + 3 + 2);
  EXPECT_EQ(PopSaved(), std::string("a\0b", 3));
  EXPECT_EQ(PopSaved(), "");
  EXPECT_EQ(PopSaved(), "first");
  EXPECT_EQ(PopSaved(), "");  // empty stack: empty text, no crash
  EXPECT_TRUE(SavedStack().empty());
}

TEST(SaveStack, LongEntryIsCutToItsLengthField) {
  ResetSavedStackForTesting();
  PushSaved("below");
  PushSaved(std::string(70000, 'x'));
  EXPECT_EQ(PopSaved(), std::string(65535, 'x'));
  EXPECT_EQ(PopSaved(), "below");
}

TEST(CopyMemoryText, CopiesRawBytes) {
  const char record[] = {'A', '\0', char(0x87), 'Z'};
  EXPECT_EQ(CopyMemoryText(record + 1, 3), std::string("\0\x87Z", 3));
  EXPECT_EQ(CopyMemoryText(record, 0), "");
  EXPECT_EQ(CopyMemoryText(record, -4), "");
  EXPECT_EQ(CopyMemoryText(nullptr, 4), "");
}

}  // namespace
}  // namespace kestrova

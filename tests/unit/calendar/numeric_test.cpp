#include "calendar/numeric.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "calendar/picture_mask.h"

namespace kestrova {
namespace {

std::vector<int> Bytes(const std::string& packed) {
  std::vector<int> out;
  for (char c : packed) out.push_back(static_cast<uint8_t>(c));
  return out;
}

TEST(RoundHalfEven, Table) {
  struct Case {
    double value, expected;
  } cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {2.4999, 2}, {2.5001, 3},
               {0.5, 0}, {1.5, 2}, {-0.5, -0}, {1e20 + 0.5, 1e20}, {4503599627370497.0, 4503599627370497.0}};
  for (const Case& c : cases) EXPECT_EQ(RoundHalfEven(c.value), c.expected) << c.value;
}

TEST(PackDigits, Table) {
  struct Case {
    const char* text;
    std::vector<int> bytes;
  } cases[] = {
      {"20261207", {148, 154, 140, 135}},
      {" 7", {135}},
      {"123", {140, 158}},
      {"7  ", {128, 198}},   // right-aligned first: "007", then a 0 digit
      {"AB", {128}},         // non-digits count as 0
      {"", {}},
      {"99", {227}},
  };
  for (const Case& c : cases) EXPECT_EQ(Bytes(PackDigits(c.text)), c.bytes) << c.text;
}

TEST(UnpackDigits, Table) {
  EXPECT_EQ(UnpackDigits(PackDigits("20261207")), "20261207");
  EXPECT_EQ(UnpackDigits(std::string(1, static_cast<char>(128 + 105))), "05");
  EXPECT_EQ(UnpackDigits(std::string(1, '\x07')), "07");  // below 128: read the same way
  EXPECT_EQ(UnpackDigits(std::string(1, '\0')), "00");
  EXPECT_EQ(UnpackDigits(""), "");
}

TEST(PackDigits, RoundTripsEveryEvenLengthDigitText) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> digit(0, 9);
  for (int round = 0; round < 2000; ++round) {
    std::string text(static_cast<std::size_t>(2 * (round % 9)), '0');
    for (char& c : text) c = static_cast<char>('0' + digit(random));
    const std::string packed = PackDigits(text);
    ASSERT_EQ(UnpackDigits(packed), text);
    for (char b : packed) ASSERT_GE(static_cast<uint8_t>(b), 128);
  }
  // Byte order is number order.
  EXPECT_LT(PackDigits("20261207"), PackDigits("20261208"));
  EXPECT_LT(PackDigits("19991231"), PackDigits("20000101"));
}

TEST(ZeroPad, Table) {
  EXPECT_EQ(ZeroPad(7, 2), "07");
  EXPECT_EQ(ZeroPad(2026, 2), "26");
  EXPECT_EQ(ZeroPad(-5, 3), "005");
  EXPECT_EQ(ZeroPad(0, 4), "0000");
  EXPECT_EQ(ZeroPad(5, 0), "");
  EXPECT_EQ(ZeroPad(INT64_MIN, 19), "9223372036854775808");
}

TEST(PackDottedCode, Table) {
  struct Case {
    const char* text;
    const char* digits;
  } cases[] = {
      {"12.3", "00120003"},
      {"123456", "123456"},
      {"1234.5", "12340005"},
      {"123456.0001", "1234560001"},  // 11 characters, one dot: wide first group
      {"12.3.4", "001200030004"},
      {"12.   ", "0012"},             // stops at the blank rest
      {"", ""},
      {"ab.7", "00000007"},
      // An 11-digit code typed whole: 6 wide, its last six digits, beyond
      // what 32 bits hold.
      {"12345678901", "678901"},
      {"99999999999", "999999"},
      {"98765432109.1", "21090001"},   // 13 characters: 4 wide
      {"-0000012345.7", "23450007"},   // a sign is no digit
      {"123456789012345678901234.1", "12340001"},
  };
  for (const Case& c : cases) EXPECT_EQ(UnpackDigits(PackDottedCode(c.text)), c.digits) << c.text;
}

TEST(NameForDisplay, Table) {
  struct Case {
    const char* name;
    const char* shown;
  } cases[] = {
      {"GARCIA LOPEZ*JOAN", "JOAN GARCIA LOPEZ"},
      {"ABADAL*d'", "d'ABADAL"},
      {"*JOAN", "*JOAN"},
      {"  PUIG  ", "PUIG"},
      {"PUIG * MARIA   ", "MARIA PUIG"},
      {"PUIG*", " PUIG"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NameForDisplay(c.name), c.shown) << c.name;
}

TEST(SetCurrency, Sequence) {
  ResetCurrencyForTesting();
  SetCurrency("a,E");
  EXPECT_EQ(Currency().current, 'E');
  SetCurrency("P");  // no alternative yet: the main currency
  EXPECT_EQ(Currency().current, 'E');
  SetCurrency("x,P");
  EXPECT_EQ(Currency().current, 'E');
  EXPECT_EQ(Currency().alternative, 'P');
  SetCurrency("P");
  EXPECT_EQ(Currency().current, 'P');
  SetCurrency("E");
  EXPECT_EQ(Currency().current, 'E');
  SetCurrency("A, d");
  EXPECT_EQ(Currency().main, 'D');
  EXPECT_EQ(Currency().current, 'D');
  SetCurrency("A,");
  EXPECT_EQ(Currency().main, 'E');
  SetCurrency("x,");
  EXPECT_EQ(Currency().alternative, 'E');
  SetCurrency("");
  EXPECT_EQ(Currency().current, 'E');
  ResetCurrencyForTesting();
}

class AmountToTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCurrencyForTesting();
    Separators() = {'\'', '.'};
  }
  void TearDown() override {
    ResetCurrencyForTesting();
    ResetSeparatorsForTesting();
  }
};

TEST_F(AmountToTextTest, Euros) {
  struct Case {
    const char* picture;
    double amount;
    const char* expected;
  } cases[] = {
      {"ZZZZZZZZZ", 123456, "  1234'56"},       // mask ZZZZZ9.99
      {"ZZZZZZZZZ", 0, "         "},           // mask ZZZZZZ.ZZ
      {"ZZZZZZZZ9", 0, "     0'00"},
      {"Z,ZZZ,ZZZ", 123456789, "1234567'8"},  // too wide for the picture: plain form
      {"ZZ,ZZZ,ZZZ,ZZZ", 123456789, "  1.234.567'89"},
      {"ZZZZZZZZ-", -123456, " 1234'56-"},
      {"-ZZZZZZZZ", -5, "-    0'05"},
      {"*********", 150, "*****1'50"},
      {"", 5, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(AmountToText(c.picture, c.amount), c.expected) << c.picture;
}

TEST_F(AmountToTextTest, Pesetas) {
  SetCurrency("x,P");
  SetCurrency("P");
  // 1.00 euro is 166.386 pesetas; the picture has no decimals.
  EXPECT_EQ(AmountToText("ZZZ,ZZZ", 100), "    166");
  EXPECT_EQ(AmountToText("ZZZ,ZZZ", 60101), "100.000");  // 601.01 euros
  // The single-precision rate, widened: 1e6 euros -> 166386001.59 pesetas.
  EXPECT_EQ(AmountToText("ZZZZZZZZZZ.99", 100000000), " 166386001'59");
}

TEST_F(AmountToTextTest, HostileAmounts) {
  EXPECT_EQ(AmountToText("ZZZZZZ", std::nan("")), "!!!!!!");
  EXPECT_EQ(AmountToText("ZZZZZZ", 1e300), "!!!!!!");
  EXPECT_EQ(AmountToText("ZZZZZZ", -INFINITY), "!!!!!!");
  EXPECT_EQ(AmountToText("ZZZZZZ", -0.0).size(), 6u);
}

}  // namespace
}  // namespace kestrova

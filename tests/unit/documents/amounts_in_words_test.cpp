#include "documents/amounts_in_words.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "platform/codepage.h"
#include "session/session.h"

namespace kestrova {
namespace {

struct Row {
  double value;
  const char* mode;
  std::string_view spa, glg, oci, cat;
};

// The worked table, then the edges: zero, a thousand, two thousand, the
// cents conjunction after an empty units group, one cent, more than nine
// digits, pesetas, the teen limits and the millions.
const Row kRows[] = {
    {1, "m", "uno", "um", "un", "un"},
    {1, "f", "una", "umha", "ua", "una"},
    {17, "m", "diecisiete", "dezassete", "dètz-e-sèt"_cp, "disset"},
    {21, "m", "veintiuno", "vinte e um", "vint-e-un", "vint-i-un"},
    {101, "m", "ciento uno", "cento e um", "cent un", "cent un"},
    {200, "f", "doscientas", "duascentas", "dues centes", "dues-centes"},
    {1000000, "m", "un millon", "um milhom", "un milion", "un milió"_cp},
    {123456, "m", "ciento veintitres mil cuatrocientos cincuenta y seis",
     "cento e vinte e três mil quatrocentos e cinqüenta e seis"_cp, "cent vint-e-tres mil quate cents cinquanta sies",
     "cent vint-i-tres mil quatre-cents cinquanta-sis"},
    {150075, "c", "mil quinientos con setenta y cinco céntimos"_cp,
     "mil quinhentos com setenta e cinco céntimos"_cp, "mil cinc cents damb setanta cinc centims",
     "mil cinc-cents amb setanta-cinc cèntims"_cp},
    {0, "m", "", "", "", ""},
    {0, "x", "", "", "", ""},
    {1000, "m", "mil", "mil", "mil", "mil"},
    {2000, "m", "dos mil", "dous mil", "dus mil", "dos mil"},
    {200050, "x", "dos mil cincuenta céntimos"_cp, "dous mil cinqüenta céntimos"_cp,
     "dus mil damb cinquanta centims", "dos mil amb cinquanta cèntims"_cp},
    {101, "x", "uno con un céntimo"_cp, "um com um céntimo"_cp, "un damb un centim", "un amb un cèntim"_cp},
    {1, "x", "un céntimo"_cp, "um céntimo"_cp, "un centim", "un cèntim"_cp},
    {1234567891, "m", "doscientos treinta y cuatro millones quinientos sesenta y siete mil ochocientos noventa y uno",
     "douscentos e trinta e quatro milhons quinhentos e sessenta e sete mil oitocentos e noventa e um",
     "dus cents trenta quate milions cinc cents seishanta sèt mil ueit cents nauanta un"_cp,
     "dos-cents trenta-quatre milions cinc-cents seixanta-set mil vuit-cents noranta-un"},
    // 1 euro is 166.386 pesetas: 166, feminine.
    {100, "p", "ciento sesenta y seis", "cento e sessenta e seis", "cent seishanta sies", "cent seixanta-sis"},
    {2100, "P", "tres mil cuatrocientas noventa y cuatro", "três mil quatrocentas e noventa e quatro"_cp,
     "tres mil quate centes nauanta quate", "tres mil quatre-centes noranta-quatre"},
    {16, "m", "dieciseis", "dezasseis", "setze", "setze"},
    {15, "m", "quince", "quinze", "quinze", "quinze"},
    {19, "m", "diecinueve", "dezanove", "dètz-e-nau"_cp, "dinou"},
    {20, "m", "veinte", "vinte", "vint", "vint"},
    {30, "m", "treinta", "trinta", "trenta", "trenta"},
    {100, "m", "cien", "cem", "cent", "cent"},
    {1000001, "m", "un millon uno", "um milhom um", "un milion un", "un milió un"_cp},
    {2001000, "f", "dos millones mil", "dous milhons mil", "dus milions mil", "dos milions mil"},
    {21000, "f", "veintiuna mil", "vinte e umha mil", "vint-e-ua mil", "vint-i-una mil"},
    {19999, "x", "ciento noventa y nueve con noventa y nueve céntimos"_cp,
     "cento e noventa e nove com noventa e nove céntimos"_cp, "cent nauanta nau damb nauanta nau centims",
     "cent noranta-nou amb noranta-nou cèntims"_cp},
};

std::string_view Expected(const Row& row, const std::string& language) {
  if (language == "SPA") return row.spa;
  if (language == "GLG") return row.glg;
  if (language == "OCI") return row.oci;
  return row.cat;
}

class AmountInWordsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSessionForTesting(); }
  void TearDown() override { ResetSessionForTesting(); }
};

TEST_F(AmountInWordsTest, WorkedTableInEveryLanguage) {
  for (const std::string language : {"SPA", "GLG", "OCI", "CAT"}) {
    Session().language = language;
    for (const Row& row : kRows) {
      const std::string_view expected = Expected(row, language);
      if (expected.empty() && row.value != 0) continue;  // not worked for this language
      EXPECT_EQ(AmountInWords(row.value, row.mode), std::string(expected))
          << language << " " << row.value << " mode \"" << row.mode << "\"";
    }
  }
}

TEST_F(AmountInWordsTest, SignIsIgnoredAndUnknownLanguageIsCatalan) {
  Session().language = "ENG";
  EXPECT_EQ(AmountInWords(-21, "m"), "vint-i-un");
  Session().language = "   ";
  EXPECT_EQ(AmountInWords(-150075, "c"), std::string("mil cinc-cents amb setanta-cinc cèntims"_cp));
}

TEST_F(AmountInWordsTest, CentsThatRoundToAWholeUnitCarryIntoIt) {
  Session().language = "CAT";
  EXPECT_EQ(AmountInWords(199.6, "x"), "dos");
  EXPECT_EQ(AmountInWords(0.4, "x"), "");
}

TEST_F(AmountInWordsTest, NonNumbersGiveAnEmptyText) {
  Session().language = "SPA";
  for (const double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity()}) {
    for (const char* mode : {"m", "f", "p", "x", ""}) EXPECT_EQ(AmountInWords(v, mode), "") << mode;
  }
  // Beyond the range of any integer: still only nine digits, and cents
  // that stay cents.
  for (const char* mode : {"m", "x", "p"}) {
    EXPECT_LE(AmountInWords(1e300, mode).size(), 300u) << mode;
    EXPECT_LE(AmountInWords(-7.48289e+50, mode).size(), 300u) << mode;
  }
}

}  // namespace
}  // namespace kestrova

#include "calendar/date_texts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "calendar/numeric.h"
#include "platform/codepage.h"
#include "session/session.h"

namespace kestrova {
namespace {

class DateInWordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSessionForTesting();
    ResetDateSettingsForTesting();
    DateSettings() = {"/", "DMA"};
  }
  void TearDown() override {
    ResetSessionForTesting();
    ResetDateSettingsForTesting();
  }
  static std::string Words(const char* language, const char* date, int16_t style,
                           const char* parts = "DMA") {
    Session().language = language;
    return DateInWords(PackDigits(date), style, parts);
  }
};

TEST_F(DateInWordsTest, WordsInEachLanguage) {
  struct Case {
    const char* language;
    const char* date;
    std::string_view expected;
  } cases[] = {
      {"SPA", "20261207", "7 de diciembre de 2026"},
      {"CAT", "20261207", "7 de desembre del 2026"},
      {"OCI", "20261207", "7 de deseme deth 2026"},
      {"GLG", "20261207", "7 de dezembro do 2026"},
      {"CAT", "20260407", "7 d'abril del 2026"},
      {"OCI", "20260407", "7 d'abriu deth 2026"},
      {"SPA", "20260407", "7 de abril de 2026"},
      {"GLG", "20260407", "7 de abril do 2026"},
      {"CAT", "20260801", "1 d'agost del 2026"},
      {"CAT", "20261001", "1 d'octubre del 2026"},
      {"CAT", "20260301", "1 de març del 2026"_cp},
      {"OCI", "20260115", "15 de gèr deth 2026"_cp},   // accented: no vowel rule
      {"GLG", "20260301", "1 de março do 2026"_cp},
      {"SPA", "20260930", "30 de septiembre de 2026"},  // the name that fills its field
      {"XYZ", "20261207", "7 de desembre del 2026"},    // unknown language: Catalan
      {"CAT", "00000000", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Words(c.language, c.date, 2), c.expected) << c.language << " " << c.date;
  }
}

TEST_F(DateInWordsTest, NumericStylesHaveFixedWidths) {
  EXPECT_EQ(Words("CAT", "20261207", 0), "7/12/2026 ");
  EXPECT_EQ(Words("SPA", "20261207", 1), "7/dic/2026 ");
  EXPECT_EQ(Words("CAT", "20260105", 1), "5/gen/2026 ");
  EXPECT_EQ(Words("CAT", "00000000", 0), std::string(10, ' '));
  EXPECT_EQ(Words("CAT", "00000000", 1), std::string(11, ' '));
  EXPECT_EQ(Words("CAT", "20261207", 0, "ma"), "12/2026");     // width 2 + 4 + 2 - 1
  EXPECT_EQ(Words("CAT", "20261207", 0, "D"), "7 ");
  EXPECT_EQ(Words("CAT", "20261207", 0, ""), "");
}

TEST_F(DateInWordsTest, IsoIgnoresSettings) {
  DateSettings() = {"-", "AMD"};
  EXPECT_EQ(Words("SPA", "20261207", -1, ""), "2026-12-07");
  EXPECT_EQ(Words("SPA", "00000000", -1), "0000-00-00");
}

TEST_F(DateInWordsTest, OrderAndSeparatorFromSettings) {
  DateSettings() = {".", "AMD"};
  EXPECT_EQ(Words("CAT", "20261207", 0), "2026.12.7 ");
  EXPECT_EQ(Words("CAT", "20261207", 2), "2026 de desembre del 7");
  EXPECT_EQ(Words("CAT", "20261207", 2, "MA"), "2026 de desembre");
  DateSettings() = {"/", "DMA"};
  EXPECT_EQ(Words("CAT", "20261207", 2, "MA"), "desembre del 2026");  // no joiner first
}

TEST_F(DateInWordsTest, OddDatesDoNotBreakIt) {
  // A month outside 1..12 has no name; its joiner stays.  Style 0 writes
  // the number as it is.
  EXPECT_EQ(Words("CAT", "20261307", 2), "7 de  del 2026");
  EXPECT_EQ(Words("SPA", "20269907", 2), "7 de  de 2026");
  EXPECT_EQ(Words("CAT", "20260007", 1), "7//2026    ");
  EXPECT_EQ(Words("CAT", "20261307", 1, "MA"), "2026    ");  // nothing yet: no joiner
  EXPECT_EQ(Words("CAT", "20261307", 0), "7/13/2026 ");
  EXPECT_EQ(DateInWords("", 2, "DMA"), "");
  EXPECT_EQ(DateInWords(std::string(1, '\0'), 0, "DMA"), std::string(10, ' '));
}

TEST_F(DateInWordsTest, SettingsComeFromTarnIniUnderTheSessionsRoot) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kestrova_dates_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  // The job was started with a relative JOBROOT and has since made the root
  // absolute and changed directory: the variable no longer leads to the file.
  const char* old = std::getenv("JOBROOT");
  const std::string saved = old ? old : "";
  ::setenv("JOBROOT", "relative-root/", 1);
  Session().jobRoot = dir.string() + "/";

  std::ofstream(dir / "Tarn.ini") << "[Usuari]\nDatCaracter=-\nDatOrdre=AMD\n";
  ResetDateSettingsForTesting();
  EXPECT_EQ(Words("CAT", "20261207", 0), "2026-12-7 ");

  // An order written in lower case is taken as its capitals.
  std::ofstream(dir / "Tarn.ini") << "[Usuari]\nDatCaracter=.\nDatOrdre=amd\n";
  ResetDateSettingsForTesting();
  EXPECT_EQ(Words("CAT", "20261207", 0), "2026.12.7 ");

  std::ofstream(dir / "Tarn.ini") << "[Usuari]\nDatCaracter=   \n";
  ResetDateSettingsForTesting();
  EXPECT_EQ(Words("CAT", "20261207", 0), "7/12/2026 ");  // blank and missing: defaults
  std::ofstream(dir / "Tarn.ini") << "[Usuari]\nDatCaracter=.\n";
  EXPECT_EQ(Words("CAT", "20261207", 0), "7/12/2026 ");  // read once per job

  std::filesystem::remove_all(dir);
  if (old) ::setenv("JOBROOT", saved.c_str(), 1); else ::unsetenv("JOBROOT");
}

}  // namespace
}  // namespace kestrova

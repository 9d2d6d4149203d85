// The whole job on a demo installation made by scripts/make-root, on the
// headless console: the operator takes the revision form's defaults with
// regime 4 on 1 March 2026, confirms with S and leaves with Escape.  The
// print script must be the reviewed one, and the print program must have
// laid it out as text.
#include <gtest/gtest.h>

#include <string>

#include "integration/whole_job.h"

namespace kestrova {
namespace {

// Field 3 (the regime) takes 4; the other fields keep their defaults; the
// confirmation screen takes S.
constexpr const char* kRegime4Keys = "{Enter}{Enter}4{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}S{Enter}{Esc}";

TEST_F(WholeJobTest, ListModeOverTheDemoDataGivesTheReviewedScript) {
  ASSERT_EQ(RunJob(kRegime4Keys, "informe.txt"), 0) << ReadFile(tmp_.Path() + "job.log");
  const std::string script = ReadFile(root_ + "SESSIO/jobprint.tmp");
  const std::string golden = ReadFile(source_ + "/tests/integration/golden/report_regime4.script");
  ASSERT_FALSE(golden.empty());
  EXPECT_TRUE(script == golden) << "the print script differs from golden/report_regime4.script";
  // The print program wrote the pages where the device record said.
  const std::string text = ReadFile(root_ + "SESSIO/informe.txt");
  EXPECT_NE(text.find("PÀGINA    2"), std::string::npos);
  EXPECT_NE(text.find("*** CONTRACTE VENÇUT ***"), std::string::npos);
}

TEST_F(WholeJobTest, PdfDeviceGivesAPdf) {
  ASSERT_EQ(RunJob(kRegime4Keys, "informe.pdf"), 0) << ReadFile(tmp_.Path() + "job.log");
  EXPECT_EQ(ReadFile(root_ + "SESSIO/informe.pdf").substr(0, 5), "%PDF-");
}

TEST_F(WholeJobTest, MissingPrintProgramLeavesTheScriptAndTheJobEndsNormally) {
  ASSERT_EQ(std::system(("rm -f '" + root_ + "PROGRAMES/JOBPRINT' '" + root_ + "PROGRAMES/jobprint'").c_str()), 0);
  // The message waits for a key: the Escape after S answers it, a second
  // Escape leaves the form.
  const std::string keys = std::string(kRegime4Keys) + "{Esc}";
  EXPECT_EQ(RunJob(keys, "informe.txt"), 0) << ReadFile(tmp_.Path() + "job.log");
  EXPECT_EQ(ReadFile(root_ + "SESSIO/jobprint.tmp"),
            ReadFile(source_ + "/tests/integration/golden/report_regime4.script"));
}

// The row of the screen the job left (KESTROVA_SCREEN), from 1.
std::string ScreenRow(const std::string& screen, int row) {
  std::istringstream lines(screen);
  std::string line;
  for (int r = 1; r <= row && std::getline(lines, line); ++r) {
  }
  return line;
}

// Estate 2 typed into "Des de la finca", then F4 on its unit: the list opens
// at estate 2 (not at estate 1), and the chosen unit keeps the estate the
// screen shows; both fields say what they name.
TEST_F(WholeJobTest, TheUnitListOpensAtTheEstateOfTheForm) {
  ASSERT_EQ(RunJob("{Enter}{Enter}{Enter}{C-y}2{Enter}{F4}{Enter}{Esc}{Esc}", "informe.txt"), 0)
      << ReadFile(tmp_.Path() + "job.log");
  const std::string screen = ReadFile(tmp_.Path() + "screen.txt");
  EXPECT_EQ(ScreenRow(screen, 8), "  Des de la finca ...........: 2    Carrer de Muntaner, 117") << screen;
  EXPECT_EQ(ScreenRow(screen, 9), "         departament ........: 1    FERRER CASALS, LAIA  Bxs 1a") << screen;
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

// Letters: mode N, regime 4, estates 1 to 3, two months of arrears under
// concept 30, letter text REVIPC; the other fields keep their defaults.
constexpr const char* kLetterKeys =
    "N{Enter}{Enter}4{Enter}{Enter}{Enter}3{Del}{Del}{Del}{Enter}{Enter}{Enter}2{Enter}30{Enter}{Enter}REVIPC{Enter}S{Enter}"
    "{Esc}";

class WholeJobLettersTest : public WholeJobTest {
 protected:
  void UseLanguage(const std::string& code) {
    for (const std::string file : {"Tarn.ini", "SESSIO/TarnTerm.ini"}) {
      const std::string set = "sed -i 's/^Idioma=.*/Idioma=" + code + "\\r/' '" + root_ + file + "'";
      ASSERT_EQ(std::system(set.c_str()), 0);
    }
  }
  void ExpectGolden(const std::string& language) {
    const std::string golden = source_ + "/tests/integration/golden/letters_regime4_" + language;
    const std::string script = ReadFile(root_ + "SESSIO/jobprint.tmp");
    ASSERT_FALSE(ReadFile(golden + ".script").empty());
    EXPECT_TRUE(script == ReadFile(golden + ".script")) << "the print script differs from " << golden << ".script";
    // The merge file left behind is the last letter's.
    EXPECT_TRUE(ReadFile(root_ + "SESSIO/merge.tmp") == ReadFile(golden + ".merge"))
        << "merge.tmp differs from " << golden << ".merge";
  }
};

TEST_F(WholeJobLettersTest, CatalanLettersOverTheDemoDataGiveTheReviewedScript) {
  ASSERT_EQ(RunJob(kLetterKeys, "cartes.txt"), 0) << ReadFile(tmp_.Path() + "job.log");
  ExpectGolden("cat");
  const std::string text = ReadFile(root_ + "SESSIO/cartes.txt");
  EXPECT_NE(text.find("Benvolgut llogater"), std::string::npos);
}

TEST_F(WholeJobLettersTest, SpanishLettersOverTheDemoDataGiveTheReviewedScript) {
  UseLanguage("SPA");
  ASSERT_EQ(RunJob(kLetterKeys, "cartes.txt"), 0) << ReadFile(tmp_.Path() + "job.log");
  ExpectGolden("spa");
  const std::string text = ReadFile(root_ + "SESSIO/cartes.txt");
  EXPECT_NE(text.find("Estimado inquilino"), std::string::npos);
}

TEST_F(WholeJobLettersTest, LettersAsPdf) {
  ASSERT_EQ(RunJob(kLetterKeys, "cartes.pdf"), 0) << ReadFile(tmp_.Path() + "job.log");
  EXPECT_EQ(ReadFile(root_ + "SESSIO/cartes.pdf").substr(0, 5), "%PDF-");
}

TEST_F(WholeJobLettersTest, MissingLetterTextEndsThePassWithoutPrinting) {
  ASSERT_EQ(std::system(("rm '" + root_ + "TEXTOS/REVIPC.txt'").c_str()), 0);
  // The message waits for a key: the Escape after S answers it, a second
  // Escape leaves the form.
  EXPECT_EQ(RunJob(std::string(kLetterKeys) + "{Esc}", "cartes.txt"), 0) << ReadFile(tmp_.Path() + "job.log");
  EXPECT_FALSE(std::ifstream(root_ + "SESSIO/jobprint.tmp").good());
  EXPECT_FALSE(std::ifstream(root_ + "SESSIO/cartes.txt").good());
}

}  // namespace
}  // namespace kestrova

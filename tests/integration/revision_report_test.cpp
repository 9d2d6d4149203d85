// The whole job on a demo installation made by scripts/make-root, on the
// headless console: the operator takes the revision form's defaults with
// regime 4 on 1 March 2026, confirms with S and leaves with Escape.  The
// print script must be the reviewed one, and the print program must have
// laid it out as text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace kestrova {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

class WholeJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = Environment("KESTROVA_SOURCE_DIR");
    binary_ = Environment("KESTROVA_BINARY_DIR");
    ASSERT_FALSE(source_.empty());
    ASSERT_FALSE(binary_.empty());
    root_ = tmp_.Path() + "root/";
    const std::string make = "BUILD_DIR='" + binary_ + "' TODAY=20260301 '" + source_ + "/scripts/make-root' '" +
                             root_ + "' > '" + tmp_.Path() + "env' 2> '" + tmp_.Path() + "make-root.log'";
    ASSERT_EQ(std::system(make.c_str()), 0) << ReadFile(tmp_.Path() + "make-root.log");
  }

  // Runs the job with a key script and an output device; its exit code.
  int RunJob(const std::string& keys, const std::string& device) {
    const std::string terminal = root_ + "SESSIO/TarnTerm.ini";
    const std::string setDevice = "sed -i 's/^Sortida=.*/Sortida=" + device + "\\r/' '" + terminal + "'";
    if (std::system(setDevice.c_str()) != 0) return -1;
    tmp_.Write("keys", keys);
    const std::string run = "cd '" + tmp_.Path() + "' && . ./env && KESTROVA_CONSOLE=headless KESTROVA_SCREEN=screen.txt KESTROVA_KEYS='" +
                            tmp_.Path() + "keys' timeout 120 '" + binary_ + "/kestrova' > job.log 2>&1";
    const int status = std::system(run.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  testing::TempDir tmp_;
  std::string source_, binary_, root_;
};

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

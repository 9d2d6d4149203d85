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

}  // namespace
}  // namespace kestrova

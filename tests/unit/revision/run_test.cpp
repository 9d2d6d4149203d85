#include "revision/run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "calendar/date_texts.h"
#include "calendar/picture_mask.h"
#include "documents/print_channel.h"
#include "integration/installation.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/screen.h"
#include "revision/lease_rules.h"
#include "revision/parameters.h"
#include "revision/report.h"
#include "session/language.h"
#include "session/session.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

namespace inst = installation;

// Estates 1 to 4 of a small installation, all under regime 4 on 1 March
// 2025.  Leases signed in 2000 for 12 months are long expired: each prints
// its first line and the remark.
class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFiles();
    ResetFileSlotsForTesting();
    ResetSessionForTesting();
    ResetScreenForTesting();
    ResetPrintChannelForTesting();
    ResetReportForTesting();
    ResetRecordsForTesting();
    ResetRevisionParametersForTesting();
    ResetLeaseValuesForTesting();
    ResetLanguageForTesting();
    ResetRevisionRunForTesting();
    JobName() = "KESTROVA";
    Session().language = "CAT";
    Session().jobTmp = tmp_.Path();
    Session().jobExe = tmp_.Path() + "exe/";
    Session().output = "x.txt";
    Separators() = {',', '.'};
    DateSettings() = {"/", "DMA"};
    ASSERT_TRUE(inst::CreateAndOpen(tmp_.Path() + "root/"));

    for (int e = 1; e <= 4; ++e) ASSERT_EQ(inst::Insert(kEstateFile, inst::Estate(e, "CARRER " + std::to_string(e))), 0);
    const int units[][2] = {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {3, 1}};
    for (const auto& u : units) {
      inst::UnitFacts f;
      f.estate = u[0];
      f.unit = u[1];
      f.contractMonths = 12;
      f.status = (u[0] == 1 && u[1] == 3) ? 'M' : ' ';  // kept out of every revision
      ASSERT_EQ(inst::Insert(kUnitFile, inst::Unit(f)), 0);
    }
    // Estate 4: two old leases under the staged update, finished.  Only the
    // first has its transition record; the second must be read with the
    // defaults (no initial index), which keeps it out of regime 4.
    for (int u = 1; u <= 2; ++u) {
      inst::UnitFacts f;
      f.estate = 4;
      f.unit = u;
      f.contractDate = "19800101";
      f.contractMonths = 12;
      ASSERT_EQ(inst::Insert(kUnitFile, inst::Unit(f)), 0);
    }
    ASSERT_EQ(inst::Insert(kLeaseTransitionFile, inst::Transition(4, 1, 100000, 0, 0)), 0);

    RevisionParameters& p = Revision();
    p.Mode = "L";
    p.Regime = 4;
    p.ApplicationDate = PackDigits("20250301");
  }
  void TearDown() override {
    ResetFiles();
    ResetFileSlotsForTesting();
    ResetPrintChannelForTesting();
    ResetSeparatorsForTesting();
    ResetDateSettingsForTesting();
    ResetRevisionRunForTesting();
  }

  // The unit codes the report lists, in order.
  std::vector<std::string> ListedUnits() {
    std::string contents;
    EXPECT_TRUE(ReadWholeFile(PrintScriptPath(), contents));
    std::vector<std::string> codes;
    std::size_t at = 0;
    while ((at = contents.find("\r\n 1 ,", at)) != std::string::npos) {
      at += 6;
      const std::string code = contents.substr(at, 6);
      if (code.find_first_not_of("0123456789") == std::string::npos && contents.compare(at + 6, 1, ",") == 0) {
        codes.push_back(code);
      }
    }
    return codes;
  }

  int32_t Walk(const std::string& from, const std::string& to) {
    Revision().FromKey = from;
    Revision().ToKey = to;
    OpenPrintJob(Session().output);
    const int32_t evaluated = WalkSelection();
    ClosePrintJob();
    return evaluated;
  }

  void InstallJobprint(const std::string& body) {
    tmp_.Write("exe/JOBPRINT", "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(tmp_.Path() + "exe/JOBPRINT", std::filesystem::perms::owner_all);
  }

  testing::TempDir tmp_;
};

TEST_F(RunTest, RangesSelectEstatesAndUnits) {
  const struct {
    const char* name;
    std::string from, to;
    int32_t evaluated;
    std::vector<std::string> listed;
  } cases[] = {
      {"across estates", inst::UnitKey(1, 2), inst::UnitKey(2, 1), 3, {"001002", "002001"}},
      {"one estate, one unit", inst::UnitKey(2, 1), inst::UnitKey(2, 1), 1, {"002001"}},
      {"one estate, units outside the range skipped", inst::UnitKey(1, 2), inst::UnitKey(1, 9), 2, {"001002"}},
      {"everything", inst::UnitKey(0, 0), inst::UnitKey(9999, 9999), 8,
       {"001001", "001002", "002001", "002002", "003001", "004001"}},
      {"an empty range", inst::UnitKey(5, 0), inst::UnitKey(9, 9999), 0, {}},
      {"a reversed range", inst::UnitKey(3, 1), inst::UnitKey(1, 1), 0, {}},
  };
  for (const auto& c : cases) {
    ResetReportForTesting();
    EXPECT_EQ(Walk(c.from, c.to), c.evaluated) << c.name;
    EXPECT_EQ(ListedUnits(), c.listed) << c.name;
  }
}

TEST_F(RunTest, ExpiredLeaseGetsItsRemarkAndAUnitWithoutTransitionTheDefaults) {
  Walk(inst::UnitKey(4, 1), inst::UnitKey(4, 2));
  // Unit 4/2 follows 4/1, whose transition record is still in the buffer
  // when 4/2 has none: read with that record it would be listed too.
  EXPECT_EQ(ListedUnits(), std::vector<std::string>{"004001"});
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), contents));
  EXPECT_NE(contents.find(std::string(" 31 ,*** CONTRACTE VENÇUT ***, 2 \r\n"_cp)), std::string::npos);
}

TEST_F(RunTest, LetterAndApplyModesWalkWithoutPrinting) {
  for (const char* mode : {"N"}) {
    Revision().Mode = mode;
    EXPECT_EQ(Walk(inst::UnitKey(0, 0), inst::UnitKey(9999, 9999)), 8) << mode;
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), contents));
    EXPECT_EQ(contents, "DEVICEx.txt\r\n") << mode;
  }
}

TEST_F(RunTest, LeaseWithoutContractDateIsListedButGetsNoLetter) {
  inst::UnitFacts f;
  f.estate = 5;
  f.contractDate = "00000000";
  ASSERT_EQ(inst::Insert(kEstateFile, inst::Estate(5, "CARRER 5")), 0);
  ASSERT_EQ(inst::Insert(kUnitFile, inst::Unit(f)), 0);
  // An old lease still in its staged update: admitted by regime 3.
  ASSERT_EQ(inst::Insert(kLeaseTransitionFile, inst::Transition(5, 1, 100000, 10, 0)), 0);
  Revision().Regime = 3;
  Walk(inst::UnitKey(5, 0), inst::UnitKey(5, 9999));
  EXPECT_EQ(ListedUnits(), std::vector<std::string>{"005001"});
  std::string listed;
  ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), listed));
  EXPECT_NE(listed.find(" 31 ,*** NO CONSTA LA DATA DEL CONTRACTE ***, 2 "), std::string::npos);
  Revision().Mode = "N";
  EXPECT_EQ(Walk(inst::UnitKey(5, 0), inst::UnitKey(5, 9999)), 1);
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), contents));
  EXPECT_EQ(contents, "DEVICEx.txt\r\n");
  EXPECT_FALSE(PathExists(tmp_.Path() + "merge.tmp"));
}

TEST_F(RunTest, PassHandsTheScriptToThePrintProgram) {
  Revision().FromKey = inst::UnitKey(1, 1);
  Revision().ToKey = inst::UnitKey(1, 9);
  InstallJobprint("cp \"$1\" \"$(dirname \"$1\")/printed.tmp\"");
  EXPECT_EQ(RunRevisionPass(), kPrintProgramDone);
  std::string script, printed;
  ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), script));
  ASSERT_TRUE(ReadWholeFile(tmp_.Path() + "printed.tmp", printed));
  EXPECT_EQ(printed, script);
  EXPECT_EQ(ListedUnits(), (std::vector<std::string>{"001001", "001002"}));
  // The walk's secondary currency is put back afterwards.
  EXPECT_EQ(Currency().current, Currency().main);
}

TEST_F(RunTest, AListThatFindsNoLeaseStillPrintsItsPageHeader) {
  InstallJobprint("exit 0");
  const struct {
    const char* name;
    std::string mode;
    int32_t pages;
  } cases[] = {
      {"a list of no lease: the header says what was asked", "L", 1},
      {"letters of no lease: nothing", "N", 0},
  };
  for (const auto& c : cases) {
    Revision().Mode = c.mode;
    Revision().FromKey = inst::UnitKey(5, 0);
    Revision().ToKey = inst::UnitKey(9, 9999);
    EXPECT_EQ(RunRevisionPass(), kPrintProgramDone) << c.name;
    EXPECT_EQ(ReportPageCount(), c.pages) << c.name;
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), contents));
    EXPECT_EQ(contents.find("PÀGINA"_cp) != std::string::npos, c.pages == 1) << c.name;
  }
}

TEST_F(RunTest, MissingOrFailingPrintProgramKeepsTheScript) {
  Revision().FromKey = inst::UnitKey(1, 1);
  Revision().ToKey = inst::UnitKey(1, 9);
  EXPECT_EQ(RunRevisionPass(), kPrintProgramMissing);
  EXPECT_EQ(ListedUnits().size(), 2u);
  ResetScreenForTesting();
  InstallJobprint("exit 1");
  EXPECT_EQ(RunRevisionPass(), kPrintProgramFailed);
  EXPECT_EQ(ListedUnits().size(), 2u);
}

int gFormCalls = 0;
void FormTwicePassThenEscape(int16_t screen, int16_t& key) {
  EXPECT_EQ(screen, 1);
  key = ++gFormCalls <= 2 ? kKeyEnter : kKeyEscape;
}

TEST_F(RunTest, PassesRepeatUntilEscapeOnTheForm) {
  Revision().FromKey = inst::UnitKey(1, 1);
  Revision().ToKey = inst::UnitKey(1, 9);
  InstallJobprint("echo pass >> \"$(dirname \"$1\")/passes.log\"");
  gFormCalls = 0;
  RevisionForm() = FormTwicePassThenEscape;
  RevisionRun();
  EXPECT_EQ(gFormCalls, 3);
  std::string log;
  ASSERT_TRUE(ReadWholeFile(tmp_.Path() + "passes.log", log));
  EXPECT_EQ(log, "pass\npass\n");
  // Each pass starts its report on page 1.
  EXPECT_EQ(ReportPageCount(), 1);
}

TEST_F(RunTest, ProgressLineNamesEstateAndUnitAndIsRemoved) {
  EXPECT_EQ(ProgressText(inst::UnitKey(12, 345)), " Llegint finca 0012, departament 0345");
  EXPECT_EQ(ProgressText(inst::UnitKey(1012, 9999)), " Llegint finca 1012, departament 9999");
  const std::string before = ScreenRowText(24);
  Walk(inst::UnitKey(0, 0), inst::UnitKey(9999, 9999));
  EXPECT_EQ(ScreenRowText(24), before);
}

TEST_F(RunTest, ProgressCountsWhatIsDoneAndWhatIsLeft) {
  const struct {
    int32_t done;
    int32_t toDo;
    const char* text;
  } cases[] = {
      {0, 8, "   0 / 8 (0%)   Esc interromp"},
      {3, 8, "   3 / 8 (37%)   Esc interromp"},
      {8, 8, "   8 / 8 (100%)   Esc interromp"},
      {0, 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressCountText(c.done, c.toDo), c.text) << c.done;
}

// Esc typed during the walk stops it before the next unit; the report
// keeps what was printed and says it was interrupted.  Keys that are not
// Esc stay for the form.
TEST_F(RunTest, EscInterruptsTheWalkBetweenUnits) {
  Screen().input.push_back({InputKind::kKey, 'x'});
  Screen().input.push_back({InputKind::kKey, kKeyEscape});
  EXPECT_EQ(Walk(inst::UnitKey(0, 0), inst::UnitKey(9999, 9999)), 0);
  EXPECT_TRUE(WalkCancelled());
  ASSERT_EQ(Screen().input.size(), 1u);
  EXPECT_EQ(Screen().input.front().key, 'x');
  EXPECT_TRUE(ListedUnits().empty());
  std::string script;
  ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), script));
  EXPECT_NE(script.find("*** PROCÉS INTERROMPUT PER L'OPERADOR ***"_cp), std::string::npos);
  // Without Esc the walk runs to its end and says nothing of the kind.
  Screen().input.clear();
  Screen().input.push_back({InputKind::kKey, 'x'});
  EXPECT_EQ(Walk(inst::UnitKey(0, 0), inst::UnitKey(9999, 9999)), 8);
  EXPECT_FALSE(WalkCancelled());
  ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), script));
  EXPECT_EQ(script.find("INTERROMPUT"), std::string::npos);
}

}  // namespace
}  // namespace kestrova

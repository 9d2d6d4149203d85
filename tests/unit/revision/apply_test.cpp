// Writing one evaluated lease back: the fields it changes, and the two
// writes of a staged lease made together or not at all, whatever the record
// manager answers.
#include "revision/apply.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "documents/print_channel.h"
#include "integration/installation.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "recordmanager/btrcall.h"
#include "revision/lease_rules.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "revision/report.h"
#include "session/language.h"
#include "session/session.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

namespace inst = installation;

// What the record manager answers in place of the real one for a call, or
// -1 to let the call through.
std::function<int16_t(uint16_t operation, uint32_t dataLength)> gAnswer;

int16_t ScriptedEntry(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                      void* keyBuffer, uint8_t keyLength, int8_t keyNumber) {
  if (gAnswer) {
    const int16_t answer = gAnswer(operation, dataLength != nullptr ? *dataLength : 0);
    if (answer >= 0) return answer;
  }
  return BTRCALL(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
}

constexpr uint32_t kUnitLength = 343;
constexpr uint32_t kTransitionLength = 57;
constexpr uint16_t kUpdate = 3;
constexpr uint16_t kEnd = 20;

class ApplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFiles();
    ResetFileSlotsForTesting();
    ResetSessionForTesting();
    ResetRecordsForTesting();
    ResetRevisionParametersForTesting();
    ResetLeaseValuesForTesting();
    ResetLanguageForTesting();
    ResetPrintChannelForTesting();
    JobName() = "KESTROVA";
    Session().language = "CAT";
    Session().jobTmp = tmp_.Path();
    Separators() = {',', '.'};
    SetSleepHookForTesting([](int32_t) {});
    ASSERT_TRUE(ChangeDirectory(tmp_.Path()));
    ASSERT_TRUE(inst::CreateAndOpen(tmp_.Path() + "root/"));
    inst::UnitFacts f;
    f.rent = 50000;
    ASSERT_EQ(inst::Insert(kUnitFile, inst::Unit(f)), 0);
    ASSERT_EQ(inst::Insert(kLeaseTransitionFile, inst::Transition(1, 1, 100000, 10, 4)), 0);

    RevisionParameters& p = Revision();
    p.Regime = 3;
    p.ApplicationDate = PackDigits("20260301");
    p.IndexValue = 119942.4;
    p.IncreaseConcept = 1;
    p.ArrearsConcept = 30;
    LeaseValues().Increment = 1234.5;  // an integer value in practice; halves to even
    LeaseValues().Arrears = 2469;
    LeaseValues().RentSum = 50000;
    StartApplyPass();
    RecordManagerEntry() = &ScriptedEntry;
  }
  void TearDown() override {
    gAnswer = nullptr;
    RecordManagerEntry() = &BTRCALL;
    SetSleepHookForTesting({});
    ResetFiles();
    ResetFileSlotsForTesting();
    ResetPrintChannelForTesting();
    ResetSeparatorsForTesting();
  }

  // The unit and its lease read as the walk reads them.
  void ReadLease() {
    ASSERT_EQ(FindByKey(kUnitFile, 0, inst::UnitKey(1, 1), 0), 0);
    ASSERT_EQ(FindByKey(kLeaseTransitionFile, 0, inst::UnitKey(1, 1), 0), 0);
  }
  // What the files hold now.
  struct Stored {
    std::string revisionDate;
    int32_t index, rent, arrearsAmount;
    int16_t arrearsCode, steps;
  };
  Stored Read() {
    EXPECT_EQ(FindByKey(kUnitFile, 0, inst::UnitKey(1, 1), 0), 0);
    EXPECT_EQ(FindByKey(kLeaseTransitionFile, 0, inst::UnitKey(1, 1), 0), 0);
    const ApplicationRecords& r = Records();
    return {UnpackDigits(r.unit.LastRevisionDate()), r.unit.LastIndex(), r.unit.NumberedAmount(1),
            r.unit.CodedEntryAmount(3), r.unit.CodedEntryCode(3), r.transition.StepsDone()};
  }
  static std::string Log() {
    std::string log;
    ReadWholeFile("db.log", log);
    return log;
  }

  testing::TempDir tmp_;
};

TEST_F(ApplyTest, AppliedLeaseTakesDateIndexIncrementArrearsAndItsStep) {
  ReadLease();
  ApplyLease();
  const Stored s = Read();
  EXPECT_EQ(s.revisionDate, "20260301");
  EXPECT_EQ(s.index, 119942);
  EXPECT_EQ(s.rent, 51234);
  EXPECT_EQ(s.arrearsCode, 30);
  EXPECT_EQ(s.arrearsAmount, 2469);
  EXPECT_EQ(s.steps, 5);
  // The transition's line first, then the unit's.
  EXPECT_EQ(Log(), "508           3             0\r\n507           3             0\r\n");
  ASSERT_EQ(ApplyPass().journal.size(), 1u);
  EXPECT_EQ(ApplyPass().journal[0].status, kApplyWritten);
  EXPECT_EQ(ApplyPass().journal[0].increment, 1234);
  EXPECT_EQ(ApplyPass().journal[0].arrears, 2469);
}

TEST_F(ApplyTest, OtherRegimesAndConceptsOutsideTheAmounts) {
  struct Case {
    int16_t regime, increaseConcept;
    int32_t rent;
    int16_t steps;
  };
  const Case cases[] = {{4, 1, 51234, 4}, {1, 11, 50000, 4}, {2, 0, 50000, 4}};
  for (const Case& c : cases) {
    Revision().Regime = c.regime;
    Revision().IncreaseConcept = c.increaseConcept;
    ReadLease();
    // A fresh unit each time: put the stored fields back.
    Records().unit.SetNumberedAmount(1, 50000);
    Records().unit.SetLastRevisionDate(PackDigits("00000000"));
    ASSERT_EQ(UpdateCurrentRecord(kUnitFile), 0);
    ApplyLease();
    const Stored s = Read();
    EXPECT_EQ(s.revisionDate, "20260301") << c.regime;
    EXPECT_EQ(s.index, 119942) << c.regime;
    EXPECT_EQ(s.rent, c.rent) << c.regime;
    EXPECT_EQ(s.steps, c.steps) << c.regime << ": the step is counted under regime 3 only";
  }
}

// Whatever fails in the middle of a staged lease, the stage and the rent are
// written together or not at all, and the journal says why.
TEST_F(ApplyTest, StagedLeaseIsWrittenWholeOrNotAtAll) {
  struct Case {
    const char* what;
    uint16_t failOperation;
    uint32_t failLength;
    int16_t answer;
    int failures;  // how many times the call fails before it goes through
    int16_t expectedStatus;
  };
  const Case cases[] = {
      {"unit changed by another workstation", kUpdate, kUnitLength, 80, 1000, 80},
      {"unit write refused", kUpdate, kUnitLength, 5, 1000, 5},
      {"transition write refused", kUpdate, kTransitionLength, 80, 1000, 80},
      {"End fails", kEnd, 0, 2, 1000, 2},
      {"files held for a moment by another transaction", kUpdate, kUnitLength, 85, 3, 0},
      {"record held for a moment", kUpdate, kTransitionLength, 84, 2, 0},
      {"files held for good", kUpdate, kUnitLength, 85, 100000, 85},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetFiles();
    ResetFileSlotsForTesting();
    RemoveFile("db.log");
    tmp_.Write("root/DADES/.keep", "");
    std::filesystem::remove_all(tmp_.Path() + "root");
    ASSERT_TRUE(inst::CreateAndOpen(tmp_.Path() + "root/"));
    gAnswer = nullptr;
    inst::UnitFacts f;
    f.rent = 50000;
    ASSERT_EQ(inst::Insert(kUnitFile, inst::Unit(f)), 0);
    ASSERT_EQ(inst::Insert(kLeaseTransitionFile, inst::Transition(1, 1, 100000, 10, 4)), 0);
    StartApplyPass();
    ReadLease();
    int failed = 0;
    gAnswer = [&](uint16_t operation, uint32_t length) -> int16_t {
      if (operation != c.failOperation || (c.failLength != 0 && length != c.failLength)) return -1;
      if (failed >= c.failures) return -1;
      ++failed;
      return c.answer;
    };
    ApplyLease();
    gAnswer = nullptr;
    const Stored s = Read();
    ASSERT_EQ(ApplyPass().journal.size(), 1u);
    EXPECT_EQ(ApplyPass().journal[0].status, c.expectedStatus);
    if (c.expectedStatus == 0) {
      EXPECT_EQ(s.steps, 5) << "one step, however many tries";
      EXPECT_EQ(s.rent, 51234);
      EXPECT_EQ(s.revisionDate, "20260301");
    } else {
      EXPECT_EQ(s.steps, 4);
      EXPECT_EQ(s.rent, 50000);
      EXPECT_EQ(s.revisionDate, "00000000");
      EXPECT_EQ(s.arrearsCode, 0);
    }
  }
}

TEST_F(ApplyTest, JournalListsWrittenAndRefusedLeases) {
  Session().jobTmp = tmp_.Path();
  OpenPrintJob("x.txt");
  ReadLease();
  ApplyLease();
  Revision().Regime = 1;
  gAnswer = [](uint16_t operation, uint32_t length) -> int16_t {
    return operation == kUpdate && length == kUnitLength ? 80 : -1;
  };
  ApplyLease();
  gAnswer = nullptr;
  FinishApplyPass();
  ClosePrintJob();
  std::string script;
  ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), script));
  EXPECT_NE(script.find("REVISIONS APLICADES A "), std::string::npos);
  EXPECT_NE(script.find("512,34"), std::string::npos) << script;
  EXPECT_NE(script.find("NO ESCRIT: MODIFICAT PER UN ALTRE USUARI"), std::string::npos);
  EXPECT_NE(script.find("UNITATS REVISADES: 1"), std::string::npos);
}

}  // namespace
}  // namespace kestrova

// The lease rules over a small fixed index table.  Every expected figure is
// worked out from the rules in the case's comment: index ratios, caps, step
// percentages and rounding to the nearest cent, halves to even.
#include "revision/lease_rules.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "calendar/numeric.h"
#include "revision/parameters.h"
#include "unit/revision/memory_records.h"

namespace kestrova {
namespace {

using testing::AddRecord;
using testing::Date;
using testing::IndexRecord;
using testing::TransitionSetup;
using testing::UnitSetup;

constexpr double kCap2024 = 0.029999999329447746;  // 0.03f widened

// Series I (index points), P (cap percentages) and Q (linking factors).
void LoadStandardTable() {
  const struct {
    char series;
    const char* month;
    double value;
  } rows[] = {
      {'I', "202001", 102.0}, {'I', "202006", 101.0}, {'I', "202101", 103.0},
      {'I', "202103", 104.0}, {'I', "202203", 112.0}, {'I', "202303", 116.0},
      {'I', "202406", 120.0}, {'I', "202506", 123.6}, {'P', "202203", 2.0},
      {'P', "202312", 2.0},   {'P', "202411", 2.2},   {'P', "202506", 2.1},
      {'Q', "200101", 1.977332}, {'Q', "200103", 1.9},
  };
  for (const auto& r : rows) AddRecord(kPriceIndexFile, IndexRecord(r.series, r.month, r.value));
}

void LoadConcepts() {
  AddRecord(kConceptTypeFile, testing::ConceptRecord(1, "LLOGUER", 0));
  AddRecord(kConceptTypeFile, testing::ConceptRecord(2, "AUGMENTS", 1));
  AddRecord(kConceptTypeFile, testing::ConceptRecord(3, "AIGUA", 9));
  AddRecord(kConceptTypeFile, testing::ConceptRecord(5, "ESCALA", 9));
  // Coded concept 05 (key byte 128 + 5) counts as an increment.
  AddRecord(kConceptTypeFile, testing::ConceptRecord(133, "REPERCUSSIO", 1));
}

class LeaseRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InstallMemoryRecords();
    ResetRevisionParametersForTesting();
    ResetLeaseValuesForTesting();
    LoadConcepts();
  }
  void TearDown() override { ResetRevisionRecordAccessForTesting(); }

  void Evaluate(int16_t regime, const char* application, int16_t arrearsMonths,
                const UnitSetup& unit, const TransitionSetup& transition) {
    Revision().Regime = regime;
    Revision().ApplicationDate = Date(application);
    Revision().ArrearsMonths = arrearsMonths;
    testing::SetRecordBuffer(kUnitFile, testing::UnitBytes(unit));
    testing::SetRecordBuffer(kLeaseTransitionFile, testing::TransitionBytes(transition));
    EvaluateLease();
  }
};

struct LeaseCase {
  const char* name;
  int16_t regime;
  const char* application;
  int16_t arrearsMonths;
  UnitSetup unit;
  TransitionSetup transition;
  int16_t result;
  // For result 0:
  double fraction = 0;
  double increment = 0;
  double cap = kNoUpdateCap;
  double updatedRent = 0;
  const char* nextRevision = "";
  const char* periodEnd = "";
  double arrears = 0;
};

UnitSetup Unit(auto&& change) {
  UnitSetup u;
  change(u);
  return u;
}

// A lease of 1980 under the staged update: rent 60.00 + 5.00, initial rent
// 200.00 at index 50.000, 3 of 10 steps done, revised each June.
UnitSetup StagedUnit(auto&& change) {
  UnitSetup u;
  u.contract = "19800615";
  u.lastRevision = "20220615";
  u.lastIndex = 0;
  u.unitClass = 'N';
  u.amounts[0] = 6000;
  u.amounts[1] = 500;
  change(u);
  return u;
}
TransitionSetup Staged(auto&& change) {
  TransitionSetup t;
  t.initialRent = 20000;
  t.initialIndex = 50000;
  t.stepsTotal = 10;
  t.stepsDone = 3;
  t.cadastralValue = 1200000;
  t.cadastralDate = "19880101";
  change(t);
  return t;
}
auto Same = [](auto&) {};

// A lease of `contract` last revised on `lastRevision` at `lastIndex`
// (thousandths of a point), with the default rent and increments.
UnitSetup Revised(const char* contract, const char* lastRevision, int32_t lastIndex,
                  char unitClass) {
  UnitSetup u;
  u.contract = contract;
  u.lastRevision = lastRevision;
  u.lastIndex = lastIndex;
  u.unitClass = unitClass;
  return u;
}

// The 1990 lease of the default unit: last revised 15/01/2020 at 102.000,
// rent 500.00 + increments 50.00 = base 550.00, revised 15/01/2021 against
// 103.000: 103/102 - 1 = 0.0098039215686..., x 55000 = 539.2157 -> 539.
constexpr double kJanuaryFraction = 103.0 / 102.0 - 1;

std::vector<LeaseCase> Cases() {
  return {
      // Regime filter and due check.
      {"regime 1 revises a lease a year after its last revision", 1, "20210115", 2, {}, {}, 0,
       kJanuaryFraction, 539, kNoUpdateCap, 0, "20220115", "20210114", 1078},
      {"arrears months 0 give no arrears", 1, "20210115", 0, {}, {}, 0, kJanuaryFraction, 539,
       kNoUpdateCap, 0, "20220115", "20210114", 0},
      {"status M is skipped under regime 1", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.status = 'M'; }), {}, -1},
      {"status M is skipped before any date test", 3, "20210115", 0,
       Unit([](UnitSetup& u) { u.status = 'M'; u.contract = ""; u.lastRevision = ""; }), {}, -1},
      {"regime 1 admits a contract of 09/05/1985", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = "19850509"; }), {}, 0, kJanuaryFraction, 539},
      {"regime 1 admits a contract of 31/12/1994", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = "19941231"; }), {}, 0, kJanuaryFraction, 539},
      {"regime 1 refuses 08/05/1985", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = "19850508"; }), {}, -1},
      {"regime 1 refuses 01/01/1995", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = "19950101"; }), {}, -1},
      {"regime 1 needs a revision period", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.revisionMonths = 0; }), {}, -1},
      {"not due a day early: 16/01/2020 + 12 months is after 15/01/2021", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.lastRevision = "20200116"; }), {}, -1},
      // 15/01/1990 + 360 months = 15/01/2020, before 15/01/2021.
      {"an expired contract gives 1", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.contractMonths = 360; }), {}, 1},
      // + 372 months = 15/01/2021: not before the application date.
      {"a contract ending on the application date has not expired", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.contractMonths = 372; }), {}, 0, kJanuaryFraction, 539},
      {"regime 1 without any date is skipped", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = ""; u.lastRevision = ""; }), {}, -1},
      {"regime 2 without a last revision is skipped", 2, "20210115", 0,
       Unit([](UnitSetup& u) { u.lastRevision = ""; }), {}, -1},
      {"regime 4 without dates gives 2", 4, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = ""; u.lastRevision = ""; }),
       TransitionSetup{.initialIndex = 1}, 2},
      {"regime 3 without dates gives 2", 3, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = ""; u.lastRevision = ""; }),
       TransitionSetup{.initialIndex = 1, .stepsTotal = 10, .stepsDone = 2}, 2},
      {"no class-0 amount gives 3 even with increments", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.amounts[0] = 0; }), {}, 3},
      {"a last index of 0 gives 4", 1, "20210115", 0,
       Unit([](UnitSetup& u) { u.lastIndex = 0; }), {}, 4},
      // Regime 2: the period ends on the from-date itself.
      {"regime 2 revises when the last revision is the application date", 2, "20210115", 0,
       Unit([](UnitSetup& u) { u.lastRevision = "20210115"; }), {}, 0, kJanuaryFraction, 539,
       kNoUpdateCap, 0, "20220115", "20210115"},
      {"regime 2 skips any other date", 2, "20210115", 0, {}, {}, -1},
      // Regime 4: leases after 1994, or old leases whose staging is done.
      {"regime 4 revises a lease of 2000", 4, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = "20000115"; }), {}, 0, kJanuaryFraction, 539},
      {"regime 4 refuses a 1990 lease", 4, "20210115", 0, {}, {}, -1},
      {"regime 4 revises a staged lease once staging is done", 4, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = "19800115"; }),
       TransitionSetup{.initialIndex = 1, .stepsTotal = 10, .stepsDone = 10}, 0, kJanuaryFraction,
       539},
      {"regime 4 refuses a lease still being staged", 4, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = "19800115"; }),
       TransitionSetup{.initialIndex = 1, .stepsTotal = 10, .stepsDone = 9}, -1},
      // Regimes outside 1-4 follow the rules as written: below 3 the
      // 1985-1994 window, above 4 no filter.
      {"regime 0 uses the 1985-1994 window", 0, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = "20000115"; }), {}, -1},
      {"regime 7 has no filter", 7, "20210115", 0,
       Unit([](UnitSetup& u) { u.contract = "20000115"; }), {}, 0, kJanuaryFraction, 539},
      // Index fallen from 102 to 101: -0.0098039..., x 55000 = -539.2 -> -539.
      {"a negative variation gives a negative increment", 1, "20200615", 0,
       Revised("19900615", "20190615", 102000, ' '), {}, 0, 101.0 / 102.0 - 1, -539},
      // Coded entry 05 (key byte 133, class 1) adds 30.00 to the increments;
      // numbered amount 5 (key byte 5, class 9) and coded 77 (unknown) do
      // not count: base 580.00, x 0.0098039 = 568.63 -> 569.
      {"coded and numbered concepts use their own key bytes", 1, "20210115", 0,
       Unit([](UnitSetup& u) {
         u.amounts[4] = 7000;
         u.codes[0] = 5;
         u.codedAmounts[0] = 3000;
         u.codes[1] = 77;
         u.codedAmounts[1] = 9999;
       }),
       {}, 0, kJanuaryFraction, 569},
      // Caps of class N.  29/03/2022: no cap; 104 -> 112: 0.0769230769...,
      // x 55000 = 4230.77 -> 4231.
      {"29/03/2022 applies no cap", 1, "20220329", 0,
       Revised("19900329", "20210329", 104000, 'N'), {}, 0, 112.0 / 104.0 - 1, 4231},
      // 30/03/2022: 12 months since the last revision, so the cap is the
      // series-P 2.0 % alone; 0.02 x 55000 = 1100.
      {"30/03/2022 applies the series-P cap", 1, "20220330", 0,
       Revised("19900330", "20210330", 104000, 'N'), {}, 0, 0.02, 1100, 0.02},
      {"a unit not of class N is never capped", 1, "20220330", 0,
       Revised("19900330", "20210330", 104000, ' '), {}, 0, 112.0 / 104.0 - 1, 4231},
      // 2024: 116 -> 120 is 3.45 %, capped at 0.03f: 0.0299999993 x 55000 =
      // 1649.99996 -> 1650.
      {"2024 caps at 3 %", 1, "20240615", 0,
       Revised("19900615", "20230615", 116000, 'N'), {}, 0, kCap2024, 1650, kCap2024},
      // Regime 3 in 2024: 50 -> 120 is 140 %, capped at 3 %: 0.0299999993 x
      // 20000 = 599.9999866 -> 600; updated rent 20600; step 4 of 10 is 40 %:
      // 0.4 x 20600 = 8240, less 60.00 + 5.00 = 1740.  Staged leases move a
      // year: next 15/06/2025; the period ends the day before the
      // anniversary.
      {"2024 caps at 3 % also under regime 3", 3, "20240615", 0,
       StagedUnit([](UnitSetup& u) { u.lastRevision = "20230615"; }),
       Staged([](TransitionSetup& t) { t.cadastralValue = 0; }), 0, 0.4, 1740, kCap2024, 20600,
       "20250615", "20240614"},
      // From 2025: 120 -> 123.6 is 3 %: 0.03 x 55000 = 1650 uncapped for a
      // contract of 24/05/2023; from 25/05/2023 the series-P 2.1 % binds:
      // 0.021 x 55000 = 1155.
      {"from 2025 a contract of 24/05/2023 is not capped", 4, "20250615", 0,
       Revised("20230524", "20240615", 120000, 'N'), {}, 0, 123.6 / 120.0 - 1, 1650},
      {"from 2025 a contract of 25/05/2023 is capped", 4, "20250615", 0,
       Revised("20230525", "20240615", 120000, 'N'), {}, 0, 0.021, 1155, 0.021},
      // 13 months since 15/05/2024: the variation to 15/06/2024 (119 -> 120,
      // 0.0084033613) compounds with 2.1 %: 1.021 x 1.0084033613 - 1 =
      // 0.0295798319; the full variation 119 -> 123.6 (3.87 %) is above it:
      // 0.0295798319 x 55000 = 1626.89 -> 1627.
      {"rule P compounds after 13 months", 4, "20250615", 0,
       Revised("20230601", "20240515", 119000, 'N'), {}, 0, 1.021 * (120.0 / 119.0) - 1, 1627,
       1.021 * (120.0 / 119.0) - 1},
      // Staged leases in June 2023 (no cap under regime 3 before 2024): the
      // index of 03/2023 (116) against 50.000 of 1980, linked by the March
      // factor of series Q (1.9, dated 2001, between 06/1979 and 03/2023):
      // 116 / 50 x 1.9 - 1 = 3.408, x 20000 = 68160; updated rent 88160.
      // Cadastral limit: 0.24f x 1200000 / 12 x 1 = 23999.9995 -> 24000
      // (value dated 1988); 0.12f for a value dated after 1989: 12000.
      {"the cadastral limit at 24 % binds", 3, "20230615", 0, StagedUnit(Same), Staged(Same), 0,
       0.4, 9600 - 6500, kNoUpdateCap, 24000, "20240615", "20230614"},
      {"the cadastral limit at 12 % after 1989", 3, "20230615", 0, StagedUnit(Same),
       Staged([](TransitionSetup& t) { t.cadastralDate = "19900101"; }), 0, 0.4, 4800 - 6500,
       kNoUpdateCap, 12000},
      // 0.4 x 88160 = 35264, less 6500 = 28764 whenever the limit is off.
      {"no cadastral limit for a unit not of class N", 3, "20230615", 0,
       StagedUnit([](UnitSetup& u) { u.unitClass = ' '; }), Staged(Same), 0, 0.4, 28764,
       kNoUpdateCap, 88160},
      {"no cadastral limit when exempt", 3, "20230615", 0, StagedUnit(Same),
       Staged([](TransitionSetup& t) { t.cadastralExempt = 'S'; }), 0, 0.4, 28764, kNoUpdateCap,
       88160},
      {"no cadastral limit in mode P", 3, "20230615", 0, StagedUnit(Same),
       Staged([](TransitionSetup& t) { t.cadastralMode = 'P'; }), 0, 0.4, 28764, kNoUpdateCap,
       88160},
      {"no cadastral limit of 0", 3, "20230615", 0, StagedUnit(Same),
       Staged([](TransitionSetup& t) { t.cadastralValue = 0; }), 0, 0.4, 28764, kNoUpdateCap,
       88160},
      // 3 months a receipt: 71999.998 -> 72000: 0.4 x 72000 - 6500 = 22300.
      {"the cadastral limit covers the months of a receipt", 3, "20230615", 0,
       StagedUnit([](UnitSetup& u) { u.monthsPerReceipt = 3; }), Staged(Same), 0, 0.4, 22300,
       kNoUpdateCap, 72000},
      // A value of 12000000: 239999.99 -> 240000, above the updated rent.
      {"a cadastral limit above the updated rent does not bind", 3, "20230615", 0,
       StagedUnit(Same), Staged([](TransitionSetup& t) { t.cadastralValue = 12000000; }), 0, 0.4,
       28764, kNoUpdateCap, 88160},
      {"regime 3 revises only in the contract's month", 3, "20230715", 0, StagedUnit(Same),
       Staged(Same), -1},
      {"regime 3 skips a lease whose staging is done", 3, "20230615", 0, StagedUnit(Same),
       Staged([](TransitionSetup& t) { t.stepsDone = 10; }), -1},
      {"regime 3 skips a contract of 09/05/1985", 3, "20230615", 0,
       StagedUnit([](UnitSetup& u) { u.contract = "19850509"; }), Staged(Same), -1},
      // Five steps: 0.35 x 88160 = 30856 (premises), 0.6 x 88160 = 52896
      // (housing); a single step is the whole rent; an unknown count 0 %.
      {"five steps not of class N: step 3 is 35 %", 3, "20230615", 0,
       StagedUnit([](UnitSetup& u) { u.unitClass = ' '; }),
       Staged([](TransitionSetup& t) { t.stepsTotal = 5; t.stepsDone = 2; }), 0, 0.35,
       30856 - 6500, kNoUpdateCap, 88160},
      {"five steps of class N: step 3 is 60 %", 3, "20230615", 0, StagedUnit(Same),
       Staged([](TransitionSetup& t) {
         t.stepsTotal = 5;
         t.stepsDone = 2;
         t.cadastralValue = 0;
       }),
       0, 0.6, 52896 - 6500, kNoUpdateCap, 88160},
      // The last step: the next revision follows the revision period.
      {"a single step takes the whole update", 3, "20230615", 0,
       StagedUnit([](UnitSetup& u) { u.revisionMonths = 6; }),
       Staged([](TransitionSetup& t) {
         t.stepsTotal = 1;
         t.stepsDone = 0;
         t.cadastralValue = 0;
       }),
       0, 1.0, 88160 - 6500, kNoUpdateCap, 88160, "20231215"},
      {"an unknown step count gives 0 %", 3, "20230615", 0, StagedUnit(Same),
       Staged([](TransitionSetup& t) {
         t.stepsTotal = 7;
         t.stepsDone = 0;
         t.cadastralValue = 0;
       }),
       0, 0.0, -6500, kNoUpdateCap, 88160},
      // The worked staged example: initial rent 500.00 at 100.000, 120.000 in
      // June 2024 (not class N: no cap): 0.2 x 50000 = 10000, updated rent
      // 60000; step 1 of 10 is 10 %: 6000 - 5000 = 1000; 3 months of
      // arrears: 3000.
      {"the worked staged example", 3, "20240615", 3,
       StagedUnit([](UnitSetup& u) {
         u.unitClass = ' ';
         u.lastRevision = "";
         u.amounts[0] = 5000;
         u.amounts[1] = 0;
       }),
       Staged([](TransitionSetup& t) {
         t.initialRent = 50000;
         t.initialIndex = 100000;
         t.stepsDone = 0;
         t.cadastralValue = 0;
       }),
       0, 0.10, 1000, kNoUpdateCap, 60000, "20250615", "20240614", 3000},
  };
}

void ExpectCase(const LeaseCase& c) {
  const LeaseWorkingValues& w = LeaseValues();
  ASSERT_EQ(w.EvaluationResult, c.result);
  if (c.result != 0) return;
  EXPECT_NEAR(w.Fraction, c.fraction, 1e-12);
  EXPECT_EQ(w.Increment, c.increment);
  EXPECT_NEAR(w.UpdateCap, c.cap, 1e-12);
  EXPECT_EQ(w.UpdatedRent, c.updatedRent);
  EXPECT_EQ(w.Arrears, c.arrears);
  if (*c.nextRevision) {
    EXPECT_EQ(w.NextRevisionDate, Date(c.nextRevision));
  }
  if (*c.periodEnd) {
    EXPECT_EQ(w.PeriodEndDate, Date(c.periodEnd));
  }
}

TEST_F(LeaseRulesTest, EveryBranchOfTheRules) {
  LoadStandardTable();
  for (const LeaseCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    Evaluate(c.regime, c.application, c.arrearsMonths, c.unit, c.transition);
    ExpectCase(c);
  }
}

// Inside one pass the concept types and price indices kept from earlier
// leases give every lease the figures it gets on its own, twice over.
TEST_F(LeaseRulesTest, APassKeepsNoFigureOfOneLeaseForAnother) {
  LoadStandardTable();
  StartPassLookups();
  for (int round = 0; round < 2; ++round) {
    for (const LeaseCase& c : Cases()) {
      SCOPED_TRACE(c.name);
      Evaluate(c.regime, c.application, c.arrearsMonths, c.unit, c.transition);
      ExpectCase(c);
    }
  }
  EndPassLookups();
}

// A zero amount cannot change the sums: its concept is not looked up.  In a
// pass each concept and each index is read once; the next pass reads the
// tables again and sees what changed in between.
TEST_F(LeaseRulesTest, APassReadsTheTablesOnceAndAgainAtTheNextPass) {
  LoadStandardTable();
  UnitSetup unit;  // rent 500.00 (concept 1) and 50.00 of increments (concept 2)
  unit.lastRevision = "20240601";
  unit.lastIndex = 120000;
  const char* application = "20250601";
  auto evaluate = [&] { Evaluate(1, application, 0, unit, TransitionSetup{}); };

  evaluate();
  ASSERT_EQ(LeaseValues().EvaluationResult, kLeaseRevised);
  EXPECT_EQ(testing::FindCalls()[kConceptTypeFile], 2) << "only the two amounts that are not 0";
  const double firstIncrement = LeaseValues().Increment;
  EXPECT_EQ(firstIncrement, 1650);  // 123.6 / 120 - 1 = 0.03 of 550.00

  StartPassLookups();
  testing::FindCalls().clear();
  evaluate();
  const int conceptReads = testing::FindCalls()[kConceptTypeFile];
  const int indexReads = testing::FindCalls()[kPriceIndexFile];
  EXPECT_EQ(conceptReads, 2);
  EXPECT_GT(indexReads, 0);
  // The index of June 2025 changes under the pass: the pass goes on with
  // what it read, and reads nothing again.
  auto& index = testing::MemoryFiles()[kPriceIndexFile].records;
  for (std::string& r : index) {
    if (r == IndexRecord('I', "202506", 123.6)) r = IndexRecord('I', "202506", 126.0);
  }
  for (int i = 0; i < 3; ++i) evaluate();
  EXPECT_EQ(LeaseValues().Increment, firstIncrement);
  EXPECT_EQ(testing::FindCalls()[kConceptTypeFile], conceptReads);
  EXPECT_EQ(testing::FindCalls()[kPriceIndexFile], indexReads);
  EndPassLookups();

  // The next pass starts from the files: 126 / 120 - 1 = 0.05 of 550.00.
  StartPassLookups();
  evaluate();
  EXPECT_EQ(LeaseValues().Increment, 2750);
  EndPassLookups();
}

// Rule P when series I has no month a year before the application date:
// the cap is the series-P percentage alone, whatever the lease evaluated
// before left behind.
TEST_F(LeaseRulesTest, RulePWithoutAnIndexAYearBackUsesThePercentageAlone) {
  AddRecord(kPriceIndexFile, IndexRecord('I', "202501", 100.0));
  AddRecord(kPriceIndexFile, IndexRecord('I', "202507", 103.0));
  AddRecord(kPriceIndexFile, IndexRecord('P', "202506", 2.1));
  // A lease with a large variation first: 100 -> 103 on an old index of
  // 50.000 is 106 %.
  UnitSetup first = Revised("20000115", "20250115", 50000, ' ');
  first.revisionMonths = 6;
  Evaluate(4, "20250715", 0, first, {});
  ASSERT_EQ(LeaseValues().EvaluationResult, 0);
  ASSERT_NEAR(Variation().VarFraction, 103.0 / 50.0 - 1, 1e-12);
  // 14 months since 15/05/2024; no index on or before 15/07/2024, so E = 0
  // and the cap is 2.1 %; 99 -> 103 is 4.04 %: 0.021 x 55000 = 1155.
  Evaluate(4, "20250715", 0, Revised("20230601", "20240515", 99000, 'N'), {});
  ASSERT_EQ(LeaseValues().EvaluationResult, 0);
  EXPECT_NEAR(LeaseValues().UpdateCap, 0.021, 1e-12);
  EXPECT_EQ(LeaseValues().Increment, 1155);
}

// Without a series-P record on or before the application date the rule
// has no cap (the look-up lands on a series-I record).
TEST_F(LeaseRulesTest, NoSeriesPRecordMeansNoCap) {
  AddRecord(kPriceIndexFile, IndexRecord('I', "202106", 100.0));
  AddRecord(kPriceIndexFile, IndexRecord('I', "202206", 103.0));
  AddRecord(kPriceIndexFile, IndexRecord('P', "202207", 2.0));
  Evaluate(1, "20220615", 0, Revised("19900615", "20210615", 100000, 'N'), {});
  ASSERT_EQ(LeaseValues().EvaluationResult, 0);
  EXPECT_EQ(LeaseValues().UpdateCap, kNoUpdateCap);
  // 103 / 100 - 1 = 0.03, x 55000 = 1650.
  EXPECT_EQ(LeaseValues().Increment, 1650);
}

// The worked example: 100 -> 103 on 500.00 gives 15.00; capped at 2 % it
// gives 10.00.
TEST_F(LeaseRulesTest, TheWorkedVariationExample) {
  AddRecord(kPriceIndexFile, IndexRecord('I', "202106", 100.0));
  AddRecord(kPriceIndexFile, IndexRecord('I', "202206", 103.0));
  AddRecord(kPriceIndexFile, IndexRecord('P', "202203", 2.0));
  IndexVariationValues& v = Variation();
  v.VarFromDate = Date("20210615");
  v.VarOldIndex = 100;
  v.VarToDate = Date("20220615");
  v.VarBase = 50000;
  ASSERT_EQ(ComputeIndexVariation(), kVariationDone);
  EXPECT_NEAR(v.VarFraction, 0.03, 1e-15);
  EXPECT_EQ(v.VarIncrement, 1500);
  EXPECT_EQ(v.VarNewIndexDate, Date("20220601"));
  EXPECT_EQ(v.VarNewIndex, 103.0);

  UnitSetup u = Revised("19900615", "20210615", 100000, 'N');
  u.amounts[1] = 0;
  Evaluate(1, "20220615", 0, u, {});
  ASSERT_EQ(LeaseValues().EvaluationResult, 0);
  EXPECT_EQ(LeaseValues().Increment, 1000);
  EXPECT_NEAR(LeaseValues().Fraction, 0.02, 1e-15);
}

struct VariationCase {
  const char* name;
  const char* from;
  double oldIndex;
  const char* to;
  int16_t status;
  double factor;
  double fraction;
  int32_t increment;  // on a base of 400.00
};

// Linking factors across the change of base of 2002.  Series I: 128.0 in
// 01/2000, 133.413 in 01/2001 and 131.0 in 03/2001 on the 1992 base; 69.530
// in 01/2002, 70.0 in 03/2002, 72.0 in 03/2003 on the 2021 base; 104.0 in
// 03/2021, 116.0 in 03/2023.  Series Q: 1.977332 in 01/2001, 1.9 in
// 03/2001, 1.5 in 03/2002, 1.1 in 03/2021.
TEST_F(LeaseRulesTest, LinkingFactors) {
  const struct {
    char series;
    const char* month;
    double value;
  } rows[] = {
      {'I', "200001", 128.0}, {'I', "200101", 133.413}, {'I', "200103", 131.0},
      {'I', "200201", 69.530}, {'I', "200203", 70.0}, {'I', "200303", 72.0},
      {'I', "202103", 104.0}, {'I', "202303", 116.0}, {'Q', "200101", 1.977332},
      {'Q', "200103", 1.9}, {'Q', "200203", 1.5}, {'Q', "202103", 1.1},
  };
  for (const auto& r : rows) AddRecord(kPriceIndexFile, IndexRecord(r.series, r.month, r.value));

  const VariationCase cases[] = {
      // Y = 01/2000; Q 01/2001 is in another year: 69.530 / 133.413 x
      // 1.977332 - 1 = 0.0305134729, x 40000 = 1220.54 -> 1221.
      {"crossing the base change", "20010115", 133.413, "20020115", 0, 1.977332,
       69.530 / 133.413 * 1.977332 - 1, 1221},
      // Y = 03/2001: Q 03/2001 is Y's own year; I 03/2001 = 131.0 is below
      // an old index of 135.0 (still on the old base), so 1.9 applies; the
      // walk goes on to Q 03/2002 (x 1.5): 72 / 135 x 2.85 - 1 = 0.52, x
      // 40000 = 20800.
      {"the first year's factor for an old-base index", "20020315", 135.0, "20030315", 0,
       1.9 * 1.5, 72.0 / 135.0 * (1.9 * 1.5) - 1, 20800},
      // An old index of 70.0 is on the new base: only Q 03/2002 applies:
      // 72 / 70 x 1.5 - 1 = 0.5428571, x 40000 = 21714.29 -> 21714.
      {"no first-year factor for a new-base index", "20020315", 70.0, "20030315", 0, 1.5,
       72.0 / 70.0 * 1.5 - 1, 21714},
      // From 2022 the first-year factor never applies: 116 / 135 - 1 =
      // -0.1407407, x 40000 = -5629.63 -> -5630.
      {"revisions of 2022 take no first-year factor", "20220315", 135.0, "20230315", 0, 1.0,
       116.0 / 135.0 - 1, -5630},
      // From 03/2021 (Y = 03/2020): Q 03/2021 is in another year: 116 / 135
      // x 1.1 - 1 = -0.0548148, x 40000 = -2192.59 -> -2193.
      {"a factor of a later year applies", "20210315", 135.0, "20230315", 0, 1.1,
       116.0 / 135.0 * 1.1 - 1, -2193},
      // No old index: the month of the from-date (02/2001: 133.413 of
      // 01/2001); before the series, its first month (128.0).
      {"old index looked up at the from-date", "20010210", 0, "20020115", 0, 1.977332,
       69.530 / 133.413 * 1.977332 - 1, 1221},
      {"old index before the series is its first month", "19500101", 0, "20000115", 0, 1.0, 0.0,
       0},
      {"no old index and no from-date", "", 0, "20020115", 1, 1.0, 0.0, 0},
      {"no to-date", "20010115", 133.413, "", 2, 1.0, 0.0, 0},
      {"a to-date before the series", "20010115", 133.413, "19990101", 2, 1.0, 0.0, 0},
  };
  for (const VariationCase& c : cases) {
    SCOPED_TRACE(c.name);
    IndexVariationValues& v = Variation();
    // Figures of an earlier call must not survive a failed one.
    v.VarFraction = 0.75;
    v.VarIncrement = 99999;
    v.VarFactor = 3;
    v.VarFromDate = Date(c.from);
    v.VarOldIndex = c.oldIndex;
    v.VarToDate = Date(c.to);
    v.VarBase = 40000;
    EXPECT_EQ(ComputeIndexVariation(), c.status);
    EXPECT_NEAR(v.VarFactor, c.factor, 1e-12);
    EXPECT_NEAR(v.VarFraction, c.fraction, 1e-12);
    EXPECT_EQ(v.VarIncrement, c.increment);
    if (c.status != kVariationDone) {
      EXPECT_EQ(v.VarNewIndex, 0);
      EXPECT_EQ(v.VarNewIndexDate, Date(""));
    }
  }
}

TEST(StepFractionTest, Scales) {
  const struct {
    int16_t total, done;
    char unitClass;
    double fraction;
  } cases[] = {
      {10, 0, ' ', 0.10}, {10, 3, ' ', 0.40}, {10, 9, 'N', 1.00}, {10, 10, ' ', 0.0},
      {5, 2, ' ', 0.35},  {5, 3, ' ', 0.60},  {5, 2, 'N', 0.60},  {5, 4, 'N', 1.00},
      {5, 5, 'N', 0.0},   {1, 0, ' ', 1.0},   {1, 7, 'N', 1.0},   {7, 0, ' ', 0.0},
      {0, 0, ' ', 0.0},   {10, -1, ' ', 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.total) + "/" + std::to_string(c.done) + c.unitClass);
    EXPECT_DOUBLE_EQ(StepFraction(c.total, c.done, c.unitClass), c.fraction);
  }
}

TEST(NearestAmountTest, HalvesToEvenAndHeldWithin32Bits) {
  EXPECT_EQ(NearestAmount(2.5L), 2);
  EXPECT_EQ(NearestAmount(3.5L), 4);
  EXPECT_EQ(NearestAmount(-2.5L), -2);
  EXPECT_EQ(NearestAmount(1649.99996L), 1650);
  EXPECT_EQ(NearestAmount(1e30L), 2147483647);
  EXPECT_EQ(NearestAmount(-1e30L), -2147483647 - 1);
  EXPECT_EQ(NearestAmount(std::numeric_limits<long double>::quiet_NaN()), 0);
}

// Short or empty record buffers read as blanks and zeros: no revision, no
// crash.
TEST_F(LeaseRulesTest, ShortRecordsAreReadSafely) {
  LoadStandardTable();
  Revision().Regime = 1;
  Revision().ApplicationDate = Date("20210115");
  testing::SetRecordBuffer(kUnitFile, "");
  testing::SetRecordBuffer(kLeaseTransitionFile, "xx");
  EvaluateLease();
  EXPECT_EQ(LeaseValues().EvaluationResult, -1);
  Revision().Regime = 4;
  EvaluateLease();
  EXPECT_EQ(LeaseValues().EvaluationResult, -1);
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

// Records written by other programs may hold anything: random units,
// transitions, index records, regimes and application dates (some of them
// shorter than a date) evaluate without a crash or a hang; every result is
// one of the six.
TEST_F(LeaseRulesTest, RandomRecordsEvaluateSafely) {
  std::mt19937 random(20261208);
  auto bytes = [&random](std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random() & 0xFF);
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    testing::InstallMemoryRecords();
    LoadConcepts();
    for (int i = 0; i < 20; ++i) {
      // Mostly real series letters and dates, so the walks find records.
      std::string r = bytes(15);
      if (i % 2 == 0) r.replace(0, 3, std::string("ES") + "IPQ"[random() % 3]);
      AddRecord(kPriceIndexFile, r);
    }
    Revision().Regime = static_cast<int16_t>(random() % 9) - 2;
    Revision().ArrearsMonths = static_cast<int16_t>(random());
    Revision().ApplicationDate = bytes(round % 5 == 0 ? round % 4 : 4);
    testing::SetRecordBuffer(kUnitFile, bytes(round % 7 == 0 ? 100 : 343));
    testing::SetRecordBuffer(kLeaseTransitionFile, bytes(57));
    EvaluateLease();
    const int16_t result = LeaseValues().EvaluationResult;
    EXPECT_TRUE(result >= -1 && result <= 4) << result;
  }
}

}  // namespace
}  // namespace kestrova

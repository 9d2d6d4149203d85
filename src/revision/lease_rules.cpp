#include "revision/lease_rules.h"

#include <cmath>
#include <limits>

#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "revision/lookups.h"
#include "revision/parameters.h"

namespace kestrova {
namespace {

LeaseWorkingValues& WorkingState() {
  static LeaseWorkingValues values;
  return values;
}

IndexVariationValues& VariationState() {
  static IndexVariationValues values;
  return values;
}

// Dates the rules turn on, as packed dates (year-month-day digits).
std::string Day(std::string_view yyyymmdd) { return PackDigits(yyyymmdd); }

// The leases of the 1985 decree: signed from 09/05/1985 on.
const std::string& DecreeStart() {
  static const std::string d = Day("19850509");
  return d;
}
// The last day before the 1994 urban-lease law.
const std::string& LawEve() {
  static const std::string d = Day("19941231");
  return d;
}

bool IsDate(std::string_view packed) { return packed > std::string_view(EmptyDate()); }

// Year and month of a packed date as numbers (the first two bytes are the
// year, the third the month).
int DatePart(std::string_view packed, std::size_t from, std::size_t count) {
  if (packed.size() < from + count) return 0;
  return std::stoi("0" + UnpackDigits(packed.substr(from, count)));
}
int YearOf(std::string_view packed) { return DatePart(packed, 0, 2); }
int MonthOf(std::string_view packed) { return DatePart(packed, 2, 1); }

// The single-precision rates of the rules, widened as they always were:
// 0.03 is 0.029999999329447746 as a double.
constexpr float kCap2024 = 0.03f;
constexpr float kCadastralRateOld = 0.24f;
constexpr float kCadastralRateNew = 0.12f;

// The 1994 transitional scales: three characters per step, in percent.
constexpr std::string_view kTenStepScale = " 10 20 30 40 50 60 70 80 90100";
constexpr std::string_view kFiveStepHousingScale = " 20 40 60 80100";
constexpr std::string_view kFiveStepScale = " 10 20 35 60100";

// ---------------------------------------------------------------- steps

// The regime filter: leases the regime of the run does not revise.
bool OutsideRegime(const LeaseFacts& f, int16_t regime) {
  if (regime < 3) {
    return f.ContractDate < DecreeStart() || f.ContractDate > LawEve() || f.RevisionMonths == 0;
  }
  if (regime == 3) {
    return f.ContractDate >= DecreeStart() || f.StepsTotal == f.StepsDone;
  }
  if (regime == 4) {
    if (f.ContractDate > LawEve()) return f.RevisionMonths == 0;
    return f.StepsDone < f.StepsTotal || f.ContractDate >= DecreeStart() || f.InitialIndex == 0 ||
           f.RevisionMonths == 0;
  }
  return false;  // other regimes: no filter
}

// The due check: false when the revision is not due on the application date.
bool RevisionDue(const LeaseFacts& f, LeaseWorkingValues& w, const RevisionParameters& p) {
  if (p.Regime == 2) {
    w.PeriodEndDate = w.FromDate;
    return w.FromDate == p.ApplicationDate;
  }
  if (p.Regime == 3 && (f.StepsTotal > f.StepsDone || f.InitialIndex == 0)) {
    // Staged leases move on the contract's anniversary.
    const std::string anniversary =
        p.ApplicationDate.substr(0, 2) + f.ContractDate.substr(2, 2);
    w.PeriodEndDate = AddToDate(anniversary, -1, "D");
    return MonthOf(f.ContractDate) == MonthOf(p.ApplicationDate) &&
           w.FromDate < p.ApplicationDate;
  }
  const std::string due = AddToDate(w.FromDate, f.RevisionMonths, "M");
  w.PeriodEndDate = AddToDate(due, -1, "D");
  return !(due > p.ApplicationDate);
}

// The sums of rent and increments: one amount counted by its concept's
// class; a concept the file does not hold counts as class 9 (not counted).
void CountAmount(std::string_view conceptKey, int32_t amount, LeaseWorkingValues& w) {
  // A zero adds nothing to either sum, whatever its concept.
  if (amount == 0) return;
  ConceptType type;
  type.conceptClass = 9;
  if (FindConceptType(conceptKey, type) != 0) type.conceptClass = 9;
  if (type.conceptClass == 0) w.RentSum += amount;
  if (type.conceptClass == 1) w.IncrementSum += amount;
}

// Rule P: the series-P percentage, compounded with the variation up to a
// year before the application date when the last revision is more than a
// year old.  No series-P record: no cap.
double CapOfRuleP(const LeaseWorkingValues& w, const std::string& t) {
  long double e = 0;
  if (DateDifference(w.FromDate, t, "M") > 12) {
    IndexVariationValues& v = VariationState();
    v.VarFromDate = w.FromDate;
    v.VarOldIndex = w.OldIndex / 1000;
    v.VarToDate = AddToDate(t, -12, "M");
    // A series without a month that far back gives no variation to
    // compound: the cap is then the percentage alone.  (ComputeIndexVariation
    // clears its results on failure, so nothing of an earlier lease stays.)
    if (ComputeIndexVariation() == kVariationDone) e = v.VarFraction;
  }
  PriceIndexEntry p;
  if (FindPriceIndex(PriceIndexKey('P', t), -1, p) != 0) return kNoUpdateCap;
  if (!IsSpanishSeries(p, 'P')) return kNoUpdateCap;
  return static_cast<double>((static_cast<long double>(p.value) / 100 + 1) * (e + 1) - 1);
}

// The cap: the caps of the 2022 and later rules, for class "N" units.
double UpdateCapFor(const LeaseFacts& f, const LeaseWorkingValues& w, const RevisionParameters& p) {
  if (f.UnitClass != 'N') return kNoUpdateCap;
  const std::string& t = p.ApplicationDate;
  if (t < Day("20220330")) return kNoUpdateCap;
  if (t <= Day("20231231")) return p.Regime == 3 ? kNoUpdateCap : CapOfRuleP(w, t);
  if (t <= Day("20241231")) return static_cast<double>(kCap2024);
  if (f.ContractDate < Day("20230525")) return kNoUpdateCap;
  return CapOfRuleP(w, t);
}

// The staged update of a lease from before 1995 under regime 3.
void StagedUpdate(const LeaseFacts& f, LeaseWorkingValues& w) {
  const IndexVariationValues& v = VariationState();
  const long double stepFraction = StepFraction(f.StepsTotal, f.StepsDone, f.UnitClass);
  // The limit is a twelfth of the yearly share of the cadastral value, times
  // the months one receipt covers; evaluated left to right.
  const float rate = f.CadastralDate > Day("19891231") ? kCadastralRateNew : kCadastralRateOld;
  w.CadastralLimit = NearestAmount(static_cast<long double>(rate) * f.CadastralValue / 12 *
                                   f.MonthsPerReceipt);
  w.UpdatedRent = static_cast<double>(static_cast<int64_t>(v.VarIncrement) + v.VarBase);
  if (f.UnitClass == 'N' && f.CadastralExempt == 'N' && f.CadastralMode != 'P' &&
      w.CadastralLimit > 0 && w.CadastralLimit < w.UpdatedRent) {
    w.UpdatedRent = w.CadastralLimit;
  }
  w.Fraction = static_cast<double>(stepFraction);
  w.Increment = static_cast<double>(NearestAmount(stepFraction * w.UpdatedRent)) - w.RentSum -
                w.IncrementSum;
}

// The evaluation proper; returns the result, leaving the working values.
int16_t Evaluate(const LeaseFacts& f, const RevisionParameters& p) {
  LeaseWorkingValues& w = WorkingState();
  IndexVariationValues& v = VariationState();
  w.ContractDate = f.ContractDate;

  // 1. Units kept out of every revision.
  if (f.UnitStatus == 'M') return kLeaseSkipped;
  // 2. Regime filter.
  if (OutsideRegime(f, p.Regime)) return kLeaseSkipped;
  // 3. Expiry.
  if (f.ContractMonths != 0 &&
      AddToDate(f.ContractDate, f.ContractMonths, "M") < p.ApplicationDate) {
    return kLeaseExpired;
  }
  // 4. From-date.
  if (IsDate(f.LastRevisionDate)) {
    w.FromDate = f.LastRevisionDate;
  } else {
    if (p.Regime == 2) return kLeaseSkipped;
    w.FromDate = f.ContractDate;
    if (!IsDate(f.ContractDate)) return kLeaseNoContractDate;
  }
  // 5. Due check.
  if (!RevisionDue(f, w, p)) return kLeaseSkipped;
  // 6. Sums of rent and increments.
  w.RentSum = 0;
  w.IncrementSum = 0;
  for (int16_t k = 1; k <= 10; ++k) CountAmount(NumberedConceptKey(k), f.NumberedAmounts[k - 1], w);
  for (int e = 0; e < 4; ++e) CountAmount(CodedConceptKey(f.CodedConcepts[e]), f.CodedAmounts[e], w);
  // 7. No rent to revise.
  if (w.RentSum == 0) return kLeaseNoRent;
  // 8. Next revision: staged leases move a year at a time.
  const bool stagedYear = p.Regime == 3 && f.StepsDone < f.StepsTotal - 1;
  w.NextRevisionDate = AddToDate(p.ApplicationDate, stagedYear ? 12 : f.RevisionMonths, "M");
  // 9. The index applied at the last revision.
  w.OldIndex = p.Regime == 3 ? f.InitialIndex : f.LastIndex;
  if (w.OldIndex == 0) return kLeaseNoLastIndex;
  // 10. Cap.
  w.UpdateCap = UpdateCapFor(f, w, p);
  // 11. Base.
  const bool stagedLease = p.Regime == 3 && f.ContractDate < Day("19950101");
  v.VarFromDate = w.FromDate;
  v.VarBase = NearestAmount(static_cast<long double>(w.IncrementSum) + w.RentSum);
  if (stagedLease) {
    v.VarFromDate = f.ContractDate;
    v.VarBase = f.InitialRent;
  }
  // 12. Variation.
  v.VarOldIndex = w.OldIndex / 1000;
  v.VarToDate = p.ApplicationDate;
  ComputeIndexVariation();
  // 13. Cap applied.
  if (w.UpdateCap < v.VarFraction) {
    v.VarFraction = w.UpdateCap;
    v.VarIncrement = NearestAmount(static_cast<long double>(w.UpdateCap) * v.VarBase);
  }
  // 14. Update.
  w.Fraction = v.VarFraction;
  w.Increment = v.VarIncrement;
  w.UpdatedRent = 0;
  // 15. Staged update.
  if (stagedLease) StagedUpdate(f, w);
  // 16. Arrears.
  w.Arrears = w.Increment * p.ArrearsMonths;
  return kLeaseRevised;
}

// ------------------------------------------------ index variation steps

// The value of the last series-I record dated on or before `date`; false
// when there is none.
bool LastIndexOnOrBefore(std::string_view date, PriceIndexEntry& entry) {
  if (FindPriceIndex(PriceIndexKey('I', date), -1, entry) != 0) return false;
  return IsSpanishSeries(entry, 'I');
}

// Linking factors across a change of base: the factors of the series-Q
// months between a year before the from-date and the new index's month,
// for the month of the new index.
// Each factor is taken into VarFactor as it is met.
void ApplyLinkingFactors(IndexVariationValues& v) {
  v.VarFactor = 1;
  if (!IsDate(v.VarFromDate)) return;
  const std::string y = AddToDate(v.VarFromDate, -1, "A");
  const std::string end = PriceIndexKey('Q', v.VarNewIndexDate);
  auto take = [&v](double q) {
    v.VarFactor = static_cast<double>(static_cast<long double>(v.VarFactor) * q);
  };
  for (const PriceIndexEntry& q : PriceIndexRun(PriceIndexKey('Q', y.substr(0, 3)), end)) {
    if (MonthOf(q.date) != MonthOf(v.VarNewIndexDate)) continue;
    if (YearOf(q.date) != YearOf(y)) {
      take(q.value);
      continue;
    }
    // The factor of that first year applies only when the old index was
    // still on the earlier base (above the index of a year before the
    // from-date); revisions of 2022 already carry the new base.
    PriceIndexEntry before;
    if (LastIndexOnOrBefore(y, before) && before.value < v.VarOldIndex &&
        YearOf(v.VarFromDate) != 2022) {
      take(q.value);
    }
  }
}

}  // namespace

LeaseWorkingValues& LeaseValues() { return WorkingState(); }
IndexVariationValues& Variation() { return VariationState(); }

void ResetLeaseValuesForTesting() {
  WorkingState() = LeaseWorkingValues();
  VariationState() = IndexVariationValues();
}

int32_t NearestAmount(long double value) {
  if (std::isnan(value)) return 0;
  // The default rounding mode rounds halves to even.
  const long double r = std::nearbyint(value);
  if (r >= static_cast<long double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (r <= static_cast<long double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(r);
}

double StepFraction(int16_t stepsTotal, int16_t stepsDone, char unitClass) {
  std::string_view scale;
  if (stepsTotal == 10) {
    scale = kTenStepScale;
  } else if (stepsTotal == 5) {
    scale = unitClass == 'N' ? kFiveStepHousingScale : kFiveStepScale;
  } else {
    return stepsTotal == 1 ? 1.0 : 0.0;
  }
  // Step n (from 0) is the field at n x 3; one outside the scale reads 0.
  if (stepsDone < 0 || static_cast<std::size_t>(stepsDone) * 3 >= scale.size()) return 0.0;
  const std::string_view field = scale.substr(static_cast<std::size_t>(stepsDone) * 3, 3);
  int percent = 0;
  for (char c : field) {
    if (c >= '0' && c <= '9') percent = percent * 10 + (c - '0');
  }
  return static_cast<double>(static_cast<long double>(percent) / 100);
}

LeaseFacts ReadLeaseFacts(std::string_view unitBytes, std::string_view transitionBytes) {
  const auto unit = RecordFromBytes<UnitRecord>(unitBytes);
  const auto transition = RecordFromBytes<LeaseTransitionRecord>(transitionBytes);
  LeaseFacts f;
  f.ContractDate = unit.ContractDate();
  f.ContractMonths = unit.ContractMonths();
  f.LastRevisionDate = unit.LastRevisionDate();
  f.RevisionMonths = unit.RevisionMonths();
  f.LastIndex = unit.LastIndex();
  f.UnitStatus = unit.UnitStatus();
  f.UnitClass = unit.UnitClass();
  f.MonthsPerReceipt = unit.MonthsPerReceipt();
  for (int k = 1; k <= 10; ++k) f.NumberedAmounts[k - 1] = unit.NumberedAmount(k);
  for (int e = 1; e <= 4; ++e) {
    f.CodedConcepts[e - 1] = unit.CodedEntryCode(e);
    f.CodedAmounts[e - 1] = unit.CodedEntryAmount(e);
  }
  f.CadastralExempt = transition.CadastralExempt();
  f.CadastralValue = transition.CadastralValue();
  f.CadastralDate = transition.CadastralDate();
  f.CadastralMode = transition.CadastralMode();
  f.InitialRent = transition.InitialRent();
  f.InitialIndex = transition.InitialIndex();
  f.StepsTotal = transition.StepsTotal();
  f.StepsDone = transition.StepsDone();
  return f;
}

void EvaluateLease() {
  const LeaseFacts facts = ReadLeaseFacts(FileRecord(kUnitFile),
                                          FileRecord(kLeaseTransitionFile));
  LeaseWorkingValues& w = WorkingState();
  w.EvaluationResult = kLeaseRevised;
  w.EvaluationResult = Evaluate(facts, Revision());
}

int16_t ComputeIndexVariation() {
  IndexVariationValues& v = VariationState();
  // A failed call must not leave the figures of the previous lease behind.
  v.VarFraction = 0;
  v.VarIncrement = 0;
  v.VarFactor = 1;
  v.VarNewIndex = 0;
  v.VarNewIndexDate = EmptyDate();

  // 1. The old index, when the lease carries none: the month of the
  //    from-date, or the first month of the series.
  if (v.VarOldIndex == 0) {
    if (!IsDate(v.VarFromDate)) return kVariationNoOldIndex;
    PriceIndexEntry old;
    if (!LastIndexOnOrBefore(v.VarFromDate, old)) {
      if (FindPriceIndex(PriceIndexKey('I', ""), 1, old) != 0) return kVariationIndexMissing;
      if (!IsSpanishSeries(old, 'I')) return kVariationIndexMissing;
    }
    v.VarOldIndex = old.value;
  }
  // An index of 0 is a damaged record, not a base to divide by.
  if (v.VarOldIndex == 0) return kVariationIndexMissing;
  // 2. The new index: the last month on or before the to-date.
  if (!IsDate(v.VarToDate)) return kVariationIndexMissing;
  PriceIndexEntry fresh;
  if (!LastIndexOnOrBefore(v.VarToDate, fresh)) return kVariationIndexMissing;
  v.VarNewIndexDate = fresh.date;
  v.VarNewIndex = fresh.value;
  // 3. Linking factors across a change of base.
  ApplyLinkingFactors(v);
  // 4. Variation and increment.
  v.VarFraction = static_cast<double>(static_cast<long double>(v.VarNewIndex) / v.VarOldIndex *
                                          v.VarFactor - 1);
  v.VarIncrement = NearestAmount(static_cast<long double>(v.VarFraction) * v.VarBase);
  return kVariationDone;
}

}  // namespace kestrova

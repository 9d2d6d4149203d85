// The lease rules: for one unit, whether its lease is due for a rent update
// under the regime of the run, and by how much.
//
// EvaluateLease reads the unit's record and its lease-transition record
// (already in their file buffers), the revision parameters (regime,
// application date, arrears months) and the price-index file, and leaves
// its results in LeaseValues(); the report, the letters and the write-back
// read them there.  ComputeIndexVariation turns two dates and a base amount
// into a variation through the index table, with its inputs and outputs in
// Variation().
//
// Arithmetic: products and quotients run in extended precision (long
// double) and are stored as doubles, as the figures the suite has always
// printed were computed; every amount goes back to an integer by nearest,
// halves to even.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// Results of EvaluateLease.
inline constexpr int16_t kLeaseSkipped = -1;
inline constexpr int16_t kLeaseRevised = 0;
inline constexpr int16_t kLeaseExpired = 1;
inline constexpr int16_t kLeaseNoContractDate = 2;
inline constexpr int16_t kLeaseNoRent = 3;
inline constexpr int16_t kLeaseNoLastIndex = 4;

// Statuses of ComputeIndexVariation.
inline constexpr int16_t kVariationDone = 0;
inline constexpr int16_t kVariationNoOldIndex = 1;
inline constexpr int16_t kVariationIndexMissing = 2;

// "No cap": large enough never to bind.
inline constexpr double kNoUpdateCap = 9999999;

// The working values of one evaluation; they keep their values until the
// next unit is evaluated.
struct LeaseWorkingValues {
  int16_t EvaluationResult = 0;
  std::string ContractDate;      // PackedDate
  std::string FromDate;          // last revision, or the contract date
  std::string PeriodEndDate;     // the day before the revision falls due
  std::string NextRevisionDate;
  double RentSum = 0;            // amounts of class 0
  double IncrementSum = 0;       // amounts of class 1
  double OldIndex = 0;           // thousandths
  double UpdateCap = kNoUpdateCap;
  double Fraction = 0;           // 0.05 = 5 %
  double Increment = 0;          // an integer value
  double UpdatedRent = 0;        // regime 3 only
  double CadastralLimit = 0;     // regime 3 only
  double Arrears = 0;
};

// Inputs and outputs of ComputeIndexVariation.
struct IndexVariationValues {
  std::string VarFromDate;       // PackedDate
  std::string VarToDate;
  std::string VarNewIndexDate;
  double VarOldIndex = 0;        // index points
  double VarNewIndex = 0;
  double VarFactor = 1;
  double VarFraction = 0;
  int32_t VarBase = 0;
  int32_t VarIncrement = 0;
};

LeaseWorkingValues& LeaseValues();
IndexVariationValues& Variation();
void ResetLeaseValuesForTesting();

// The unit's and its lease's fields the rules read, taken from the record
// buffers of the units file and the lease-transitions file.
struct LeaseFacts {
  std::string ContractDate;
  int16_t ContractMonths = 0;
  std::string LastRevisionDate;
  int16_t RevisionMonths = 0;
  int32_t LastIndex = 0;
  char UnitStatus = ' ';
  char UnitClass = ' ';
  int16_t MonthsPerReceipt = 0;
  int32_t NumberedAmounts[10] = {};
  int16_t CodedConcepts[4] = {};
  int32_t CodedAmounts[4] = {};
  // From the lease-transition record.
  char CadastralExempt = 'N';
  int32_t CadastralValue = 0;
  std::string CadastralDate;
  char CadastralMode = 'N';
  int32_t InitialRent = 0;
  int32_t InitialIndex = 0;
  int16_t StepsTotal = 0;
  int16_t StepsDone = 0;
};
LeaseFacts ReadLeaseFacts(std::string_view unitRecord, std::string_view transitionRecord);

// Decides and computes the update of the lease in the record buffers;
// sets LeaseValues().EvaluationResult and, for result 0, every working
// value.  Writes no record.
void EvaluateLease();

// The index variation from VarFromDate (index VarOldIndex, looked up when
// 0) to VarToDate on VarBase.  Returns kVariationDone, or
// kVariationNoOldIndex / kVariationIndexMissing; a failed call leaves
// VarFraction, VarIncrement and VarNewIndex 0, VarNewIndexDate empty and
// VarFactor 1, never the figures of an earlier call.
int16_t ComputeIndexVariation();

// The step percentage of the staged update, as a fraction: step StepsDone
// (from 0) of a 10-step or 5-step scale, 1 for a single step, 0 otherwise.
double StepFraction(int16_t stepsTotal, int16_t stepsDone, char unitClass);

// nearest(x), halves to even, held within 32 bits (NaN gives 0).
int32_t NearestAmount(long double value);

}  // namespace kestrova

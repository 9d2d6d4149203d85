#include "revision/apply.h"

#include <algorithm>

#include "calendar/date_texts.h"
#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "documents/print_channel.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/screen.h"
#include "revision/lease_rules.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "revision/report.h"
#include "session/language.h"
#include "session/session.h"
#include "storage/lock_files.h"
#include "storage/transactions.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

constexpr std::string_view kEstateLockName = "DepartaV";
constexpr std::string_view kUnitLockName = "TranLauV";
constexpr int16_t kFindEqual = 0;
constexpr int16_t kStaged = 3;  // the regime whose leases count their steps
constexpr int16_t kMessageRow = 12;
// The journal's page: as long as the report's, new page below line 60.
constexpr int16_t kJournalPageLength = 66;
constexpr int16_t kLastJournalLine = 60;
constexpr std::string_view kAmountMask = "ZZ,ZZZ,ZZ9-";

ApplyPassState gPass;

bool IsBusy(int16_t status) { return status == 84 || status == 85; }

// The new values of the lease in the unit's buffer.
void SetRevisedFields(UnitRecord& unit) {
  const RevisionParameters& p = Revision();
  const LeaseWorkingValues& v = LeaseValues();
  unit.SetLastRevisionDate(p.ApplicationDate);
  unit.SetLastIndex(NearestAmount(p.IndexValue));
  if (p.IncreaseConcept >= 1 && p.IncreaseConcept <= 10) {
    unit.SetNumberedAmount(p.IncreaseConcept,
                           NearestAmount(static_cast<long double>(unit.NumberedAmount(p.IncreaseConcept)) + v.Increment));
  }
  // The arrears concept is set on every applied lease, also without arrears.
  unit.SetCodedEntryCode(3, p.ArrearsConcept);
  unit.SetCodedEntryAmount(3, NearestAmount(static_cast<long double>(unit.CodedEntryAmount(3)) + v.Arrears));
}

// One try at the lease's writes, in one transaction: the transition record
// first (when it counts a step), then the unit.  Any failure takes both
// back.
int16_t WriteLeaseOnce(const UnitRecord& unitBefore, const LeaseTransitionRecord& transitionBefore,
                       bool countStep) {
  ApplicationRecords& r = Records();
  r.unit = unitBefore;
  r.transition = transitionBefore;
  int16_t status = BeginTransaction();
  if (status != 0) return status;
  if (countStep) {
    r.transition.SetStepsDone(static_cast<int16_t>(r.transition.StepsDone() + 1));
    status = UpdateCurrentRecord(kLeaseTransitionFile);
  }
  if (status == 0) {
    SetRevisedFields(r.unit);
    status = UpdateCurrentRecord(kUnitFile);
  }
  if (status == 0) status = EndTransaction();
  if (status != 0) AbortTransaction();
  return status;
}

// Before another try: the records are read again, so that the record
// manager compares the next writes with what is stored now (the try that
// was taken back had changed them).  Should they differ from what the lease
// was evaluated on, another client changed them meanwhile: 80, and the
// lease is left alone.
int16_t ReadLeaseAgain(const UnitRecord& unitBefore, const LeaseTransitionRecord& transitionBefore,
                       bool countStep) {
  ApplicationRecords& r = Records();
  r.unit = unitBefore;
  r.transition = transitionBefore;
  const std::string key = unitBefore.UnitKey();
  if (FindByKey(kUnitFile, 0, key, kFindEqual) != 0 || r.unit.bytes != unitBefore.bytes) return kApplyChangedMeanwhile;
  if (countStep && (FindByKey(kLeaseTransitionFile, 0, key, kFindEqual) != 0 ||
                    r.transition.bytes != transitionBefore.bytes)) {
    return kApplyChangedMeanwhile;
  }
  return 0;
}

std::string Fit(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, std::min(text.size(), width)));
  out.resize(width, ' ');
  return out;
}

std::string Amount(int32_t value) { return AmountToText(kAmountMask, value); }

std::string FailureText(int16_t status) {
  if (IsBusy(status)) return TranslateText("NO ESCRIT: REGISTRE BLOQUEJAT PER UN ALTRE USUARI");
  if (status == kApplyChangedMeanwhile) return TranslateText("NO ESCRIT: MODIFICAT PER UN ALTRE USUARI");
  return TranslateText("NO ESCRIT: ERROR DEL GESTOR DE FITXERS ") + std::to_string(status);
}

void PrintJournalHeader(int16_t& page) {
  page = static_cast<int16_t>(page + 1);
  StartPage(kJournalPageLength);
  PrintAt(1, Session().letterhead[0], 0);
  PrintAt(70, TranslateText("PÀGINA"_cp) + " " + FormatWithMask("ZZZ9", page), 2);
  PrintAt(1, TranslateText("REVISIONS APLICADES A ") + DateInWords(Revision().ApplicationDate, 0, "dma"), 2);
  PrintAt(1, TranslateText("REBUT"), 0);
  PrintAt(9, TranslateText("TITULAR"), 0);
  PrintAt(41, Fit(TranslateText("RENDA ANTERIOR"), 14), 0);
  PrintAt(56, Fit(TranslateText("AUGMENT"), 11), 0);
  PrintAt(68, Fit(TranslateText("RENDA NOVA"), 11), 0);
  PrintAt(80, Fit(TranslateText("ENDARRERIMENTS"), 14), 1);
  PrintAt(1, std::string(93, '-'), 1);
}

void PrintJournalLine(const AppliedLease& lease) {
  PrintAt(1, UnitCodeText(lease.unitKey), 0);
  PrintAt(9, Fit(lease.tenant, 30), 0);
  if (lease.status != kApplyWritten) {
    PrintAt(41, FailureText(lease.status), 1);
    return;
  }
  PrintAt(44, Amount(lease.rentBefore), 0);
  PrintAt(56, Amount(lease.increment), 0);
  PrintAt(68, Amount(lease.rentBefore + lease.increment), 0);
  PrintAt(83, Amount(lease.arrears), 1);
}

void ShowRefusal() {
  ShowMessageWindow(kMessageRow, TranslateText("REVISIÓ INTERROMPUDA: BLOQUEIG NO CONCEDIT"_cp));
  Beep();
  FlushInput();
  ReadInputEvent();
  PopWindow();
}

bool TakeLock(std::string_view resource, std::string_view key) {
  if (LockKey(resource, key) == 0) return true;
  gPass.refused = true;
  gPass.refusedResource = std::string(resource);
  return false;
}

}  // namespace

ApplyPassState& ApplyPass() { return gPass; }

int16_t ApplyRevision() {
  ApplicationRecords& r = Records();
  // Under regime 3 the lease's step is counted on its transition record,
  // when it has one: found again so that it is the file's current record.
  const bool countStep = Revision().Regime == kStaged &&
                         FindByKey(kLeaseTransitionFile, 0, r.unit.UnitKey(), kFindEqual) == 0;
  const UnitRecord unitBefore = r.unit;
  const LeaseTransitionRecord transitionBefore = r.transition;
  // Another apply pass holds the files only for the two writes of one of its
  // leases: on 84 or 85 this lease is tried again shortly.
  int16_t status = 0;
  for (int attempt = 1;; ++attempt) {
    status = WriteLeaseOnce(unitBefore, transitionBefore, countStep);
    if (!IsBusy(status) || attempt >= kApplyAttempts) break;
    SleepMilliseconds(static_cast<int32_t>(kMaxApplyPauseMs * RandomUnit()) + 1);
    status = ReadLeaseAgain(unitBefore, transitionBefore, countStep);
    if (status != 0) break;
  }
  if (status != 0) {
    // Nothing was written: the buffers say what the files hold.
    r.unit = unitBefore;
    r.transition = transitionBefore;
  }
  return status;
}

void StartApplyPass() {
  gPass = ApplyPassState{};
  LoadLockWaitMode();
}

bool LockEstateForApply(std::string_view estateCode) { return TakeLock(kEstateLockName, estateCode); }
bool LockUnitForApply(std::string_view unitKey) { return TakeLock(kUnitLockName, unitKey); }
void ReleaseEstateLock() { ReleaseLock(kEstateLockName); }
void ReleaseUnitLock() { ReleaseLock(kUnitLockName); }

void ApplyLease() {
  const RevisionParameters& p = Revision();
  const UnitRecord& unit = Records().unit;
  AppliedLease line;
  line.unitKey = unit.UnitKey();
  line.tenant = unit.TenantName();
  const bool numbered = p.IncreaseConcept >= 1 && p.IncreaseConcept <= 10;
  line.rentBefore = NearestAmount(LeaseValues().RentSum);
  const int32_t amountBefore = numbered ? unit.NumberedAmount(p.IncreaseConcept) : 0;
  const int32_t arrearsBefore = unit.CodedEntryAmount(3);
  line.status = ApplyRevision();
  if (line.status == kApplyWritten) {
    // What was written, read back from the stored record.
    line.increment = numbered ? Records().unit.NumberedAmount(p.IncreaseConcept) - amountBefore : 0;
    line.arrears = Records().unit.CodedEntryAmount(3) - arrearsBefore;
  }
  gPass.journal.push_back(line);
}

void FinishApplyPass() {
  int16_t page = 0;
  int32_t written = 0;
  for (const AppliedLease& lease : gPass.journal) {
    if (page == 0 || PrintChannel().pageLine > kLastJournalLine) PrintJournalHeader(page);
    PrintJournalLine(lease);
    if (lease.status == kApplyWritten) ++written;
  }
  if (page == 0) PrintJournalHeader(page);
  PrintAt(1, "", 1);
  PrintAt(1, TranslateText("UNITATS REVISADES: ") + std::to_string(written), 1);
  if (gPass.refused) {
    PrintAt(1, TranslateText("REVISIÓ INTERROMPUDA: BLOQUEIG NO CONCEDIT"_cp) + " (" + gPass.refusedResource + ")", 1);
    ShowRefusal();
  }
}

}  // namespace kestrova

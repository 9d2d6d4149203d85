#include "revision/run.h"

#include <array>
#include <algorithm>
#include <cstdlib>

#include "calendar/numeric.h"
#include "documents/letter_merge.h"
#include "documents/print_channel.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/screen.h"
#include "revision/apply.h"
#include "revision/lease_rules.h"
#include "revision/letter_data.h"
#include "revision/lookups.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "revision/report.h"
#include "session/language.h"
#include "session/session.h"
#include "storage/record_interface.h"
#include "windows/windows.h"

#if __has_include("console/form_input.h")
#include "console/form_input.h"
#define KESTROVA_HAS_FORM_INPUT 1
#endif

namespace kestrova {
namespace {

constexpr int16_t kProgressRow = 24;
constexpr std::string_view kCancelledMark = "*** PROCÉS INTERROMPUT PER L'OPERADOR ***"_cp;
constexpr int16_t kMessageRow = 12;
// A message window keeps a blank and the frame on each side of its text.
constexpr std::size_t kLongestMessage = kScreenColumns - 6;
// Record manager statuses the walk tells apart: 0 found.
constexpr int16_t kFound = 0;
// Find modes of the record layer.
constexpr int16_t kFindEqual = 0;
constexpr int16_t kFindGreaterOrEqual = 1;

#ifdef KESTROVA_HAS_FORM_INPUT
void RunRevisionFormScreen(int16_t screen, int16_t& key) {
  int16_t flag1 = 0;
  int16_t flag2 = 0;
  int32_t ended = 0;
  RunFormScreen(screen, ended, flag1, flag2);
  key = static_cast<int16_t>(ended);
}
#else
// Built before the form input: with no form to fill, the run ends at once.
void RunRevisionFormScreen(int16_t, int16_t& key) { key = kKeyEscape; }
#endif

// The progress line: drawn only when enough time has passed since the last
// one.
struct Progress {
  std::array<Cell, kScreenColumns> savedRow{};
  int64_t lastShownMs = -1;
  int32_t done = 0;   // units evaluated so far
  int32_t toDo = 0;   // units in the range
  int64_t lastEscapeLookMs = -1;
};

void SaveProgressRow(Progress& progress) {
  for (int c = 1; c <= kScreenColumns; ++c) progress.savedRow[static_cast<std::size_t>(c - 1)] = ReadCell(kProgressRow, c);
}

void ShowProgress(Progress& progress, const std::string& unitKey) {
  const int64_t now = MillisecondsOfDay();
  if (progress.lastShownMs >= 0 && std::llabs(now - progress.lastShownMs) < kProgressIntervalMs) return;
  progress.lastShownMs = now;
  std::string line = ProgressText(unitKey) + ProgressCountText(progress.done, progress.toDo);
  line.resize(kScreenColumns, ' ');
  const uint8_t attribute = CurrentAttribute();
  for (int c = 1; c <= kScreenColumns; ++c) {
    WriteCell(kProgressRow, c, Cell{static_cast<uint8_t>(line[static_cast<std::size_t>(c - 1)]), attribute});
  }
  RefreshScreen();
}

void RemoveProgress(const Progress& progress) {
  if (progress.lastShownMs < 0) return;
  for (int c = 1; c <= kScreenColumns; ++c) WriteCell(kProgressRow, c, progress.savedRow[static_cast<std::size_t>(c - 1)]);
  RefreshScreen();
}

// A message at row 12 that waits for one key.  `detail` (a file name)
// follows the text when the window can hold both.  Failures beep.
void ShowMessageAndWait(const std::string& text, const std::string& detail, bool beep = true) {
  const std::string withDetail = detail.empty() ? text : text + " " + detail;
  ShowMessageWindow(kMessageRow, withDetail.size() <= kLongestMessage ? withDetail : text);
  if (beep) Beep();
  FlushInput();
  ReadInputEvent();
  PopWindow();
}

// Tells the operator that the report did not reach its device, why when
// the print program said so, and where the print script waits, then waits
// for a key.
void ShowPrintProgramFailure(int status) {
  const std::string reason = status == kPrintProgramMissing ? std::string() : PrintProgramMessage();
  const std::string text = status == kPrintProgramMissing
                               ? TranslateText("NO ES TROBA EL PROGRAMA D'IMPRESSIÓ JOBPRINT"_cp)
                               : TranslateText("EL PROGRAMA D'IMPRESSIÓ HA FALLAT"_cp);
  // The script's path helps whoever prints it by hand.
  ShowMessageAndWait(reason.empty() ? text : text + ": " + reason, "(" + PrintScriptPath() + ")");
}

// ---- Letters mode ----------------------------------------------------------

bool IsLetterMode(const RevisionParameters& p) { return !p.Mode.empty() && (p.Mode[0] == 'N' || p.Mode[0] == 'n'); }

// Set when a letter of the pass could not be merged: the walk stops there.
bool& LetterPassFailed() {
  static bool failed = false;
  return failed;
}

// The letter of the lease in the buffers; a text or data file that cannot
// be read stops the walk.
void WriteLeaseLetter() {
  if (WriteLetterData() != kMergeDone) LetterPassFailed() = true;
}

// A pass whose letters could not all be merged hands nothing to the print
// program: the half-merged script is removed and the operator told which
// file stood in the way.
void DiscardLetterPass() {
  RemoveFile(PrintScriptPath());
  const MergeFailure& failure = LastMergeFailure();
  std::string text;
  switch (failure.status) {
    case kMergeDataMissing:
      text = TranslateText("NO ES POT LLEGIR EL FITXER DE DADES DE LA CARTA");
      break;
    case kMergeIncludesTooDeep:
      text = TranslateText("EL TEXT DE LA CARTA S'INCLOU A SI MATEIX");
      break;
    default:
      text = TranslateText("NO ES POT LLEGIR EL TEXT DE LA CARTA");
      break;
  }
  ShowMessageAndWait(text, failure.name);
}

// Units whose key lies in the range, for the count the progress line shows.
int32_t CountUnitsInRange(const std::string& fromKey, const std::string& toKey) {
  int32_t count = 0;
  int16_t status = FindByKey(kUnitFile, 0, fromKey, kFindGreaterOrEqual);
  while (status == kFound && Records().unit.UnitKey() <= toKey) {
    ++count;
    status = StepRecords(kUnitFile, 1);
  }
  return count;
}

// Esc typed while the walk runs asks for the pass to stop.  Only Esc is
// taken from the input: other keys typed ahead are the form's.  A key
// script is typed later, not during the walk, so it is not looked at.
// A terminal tells a lone Esc from the start of a key sequence only after a
// short pause, so about once a second the input is given that pause
// (longer than the terminal's 40 ms) to complete.
constexpr int kEscapePauseMs = 50;
constexpr int64_t kEscapeLookMs = 1000;

bool CancelAsked(Progress& progress) {
  if (Screen().backend.inputIsScripted) return false;
  bool waiting = KeyWaiting();
  const int64_t now = MillisecondsOfDay();
  if (!waiting && (progress.lastEscapeLookMs < 0 || std::llabs(now - progress.lastEscapeLookMs) >= kEscapeLookMs)) {
    progress.lastEscapeLookMs = now;
    waiting = KeyWaitingWithin(kEscapePauseMs);
  }
  if (!waiting) return false;
  auto& input = Screen().input;
  for (auto it = input.begin(); it != input.end(); ++it) {
    if (it->kind == InputKind::kKey && it->key == kKeyEscape) {
      input.erase(it);
      return true;
    }
  }
  return false;
}

bool IsListMode(const RevisionParameters& p) { return !p.Mode.empty() && (p.Mode[0] == 'L' || p.Mode[0] == 'l'); }
bool IsApplyMode(const RevisionParameters& p) { return !p.Mode.empty() && (p.Mode[0] == 'A' || p.Mode[0] == 'a'); }

}  // namespace

RevisionFormRunner& RevisionForm() {
  static RevisionFormRunner runner = RunRevisionFormScreen;
  return runner;
}

void ResetRevisionRunForTesting() {
  RevisionForm() = RunRevisionFormScreen;
  WalkCancelled() = false;
}

bool& WalkCancelled() {
  static bool cancelled = false;
  return cancelled;
}

std::string ProgressText(const std::string& unitKey) {
  const std::string digits = UnpackDigits(unitKey.substr(0, 4)) + "00000000";
  return " " + TranslateText("Llegint finca ") + digits.substr(0, 4) + TranslateText(", departament ") +
         digits.substr(4, 4);
}

std::string ProgressCountText(int32_t done, int32_t toDo) {
  if (toDo <= 0) return {};
  const int32_t percent = static_cast<int32_t>(static_cast<int64_t>(std::min(done, toDo)) * 100 / toDo);
  return "   " + std::to_string(done) + " / " + std::to_string(toDo) + " (" + std::to_string(percent) + "%)   " +
         TranslateText("Esc interromp"_cp);
}

void RevisionRun() {
  InstallRevisionFormHooks();
  for (;;) {
    // 1. The revision form; Escape ends the run.
    int16_t key = 0;
    RevisionForm()(1, key);
    if (key == kKeyEscape) return;
    // 2 to 4. The pass and its print job.
    RunRevisionPass();
    // 5. Back to the form.
  }
}

int RunRevisionPass() {
  // 2. A print job on the user's device; the first lease starts page 1.
  OpenPrintJob(Session().output);
  ReportPageCount() = 0;
  // 3. The walk shows its amounts in the secondary currency.
  SetCurrency("p");
  WalkSelection();
  SetCurrency("");
  // A list that found no lease still says what was asked for: the page
  // header (letterhead, title, columns) rather than an empty print job.
  if (IsListMode(Revision()) && ReportPageCount() == 0) PrintPageHeader();
  // 4. The script goes to the print program; the job waits for it.
  ClosePrintJob();
  if (LetterPassFailed()) {
    DiscardLetterPass();
    return kLetterPassFailed;
  }
  const int status = RunPrintProgram();
  if (status != kPrintProgramDone) {
    ShowPrintProgramFailure(status);
  } else if (const std::string where = PrintProgramMessage(); !where.empty()) {
    // The pages went to a file: the operator is told which.
    ShowMessageAndWait(where, "", false);
  }
  return status;
}

int32_t WalkSelection() {
  const RevisionParameters& p = Revision();
  ApplicationRecords& r = Records();
  const std::string e0 = p.FromKey.substr(0, 2);
  const std::string e1 = p.ToKey.substr(0, 2);
  const bool listMode = IsListMode(p);
  const bool letterMode = IsLetterMode(p);
  LetterPassFailed() = false;
  // The apply mode writes only under its locks: estate first, then unit,
  // released in reverse order.  A refused lock ends the walk.
  const bool applyMode = IsApplyMode(p);
  if (applyMode) StartApplyPass();
  bool refused = false;
  int32_t evaluated = 0;
  bool cancelled = false;
  Progress progress;
  SaveProgressRow(progress);
  progress.toDo = CountUnitsInRange(p.FromKey, p.ToKey);
  // The concept types, price indices and letter templates are read as they
  // stand now.
  StartPassLookups();
  if (letterMode) StartTemplatePass();
  // 1. The first estate at or after E0.
  int16_t estateStatus = FindByKey(kEstateFile, 0, e0, kFindGreaterOrEqual);
  // 2. Estate by estate up to E1.
  while (estateStatus == kFound && r.estate.EstateCode() <= e1 && !cancelled && !refused && !LetterPassFailed()) {
    const std::string estateCode = r.estate.EstateCode();
    // Apply: the estate's lock.
    if (applyMode && !LockEstateForApply(estateCode)) break;
    // The estate's units: their keys start with its code.
    int16_t unitStatus = FindByKey(kUnitFile, 0, estateCode, kFindGreaterOrEqual);
    while (unitStatus == kFound && r.unit.UnitKey().compare(0, 2, estateCode) == 0 && !LetterPassFailed()) {
      const std::string unitKey = r.unit.UnitKey();
      // Only the units inside the selected range.
      if (unitKey >= p.FromKey && unitKey <= p.ToKey) {
        // Between two leases, never inside one: an apply pass stops with
        // every lease either wholly written or untouched.
        if (CancelAsked(progress)) {
          cancelled = true;
          break;
        }
        progress.done = evaluated;
        ShowProgress(progress, unitKey);
        // Apply: the unit's lock.
        if (applyMode && !LockUnitForApply(unitKey)) {
          refused = true;
          break;
        }
        // The lease's transition record, or its defaults.
        if (FindByKey(kLeaseTransitionFile, 0, unitKey, kFindEqual) != kFound) FillTransitionDefaults(r.transition);
        // The rules.
        EvaluateLease();
        ++evaluated;
        // The list prints every admitted lease, a remark for those
        // that cannot be revised; letters and apply only for
        // those due.
        if (LeaseValues().EvaluationResult >= 0 && listMode) PrintLeaseLine();
        else if (LeaseValues().EvaluationResult == kLeaseRevised && letterMode) WriteLeaseLetter();
        else if (LeaseValues().EvaluationResult == kLeaseRevised && applyMode) ApplyLease();
        // Apply: the unit's lock goes.
        if (applyMode) ReleaseUnitLock();
      }
      // The next unit.
      unitStatus = StepRecords(kUnitFile, 1);
    }
    // Apply: the estate's lock goes.
    if (applyMode) ReleaseEstateLock();
    // The next estate.
    estateStatus = StepRecords(kEstateFile, 1);
  }
  EndPassLookups();
  EndTemplatePass();
  // An Esc typed as the last units were read came too late to interrupt;
  // it must not reach the form, where it would end the job.
  if (!cancelled) {
    progress.lastEscapeLookMs = -1;
    CancelAsked(progress);
  }
  RemoveProgress(progress);
  // The applied-revisions journal, and a word when a lock was refused.
  if (applyMode) FinishApplyPass();
  // The print job keeps what was done, and says that the rest was not.
  if (cancelled) PrintAt(1, TranslateText(kCancelledMark), 2);
  WalkCancelled() = cancelled;
  return evaluated;
}

}  // namespace kestrova

#include "revision/run.h"

#include <array>
#include <cstdlib>

#include "calendar/numeric.h"
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
#include "storage/record_interface.h"
#include "windows/windows.h"

#if __has_include("console/form_input.h")
#include "console/form_input.h"
#define KESTROVA_HAS_FORM_INPUT 1
#endif

namespace kestrova {
namespace {

constexpr int16_t kProgressRow = 24;
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

// The progress line: the texts are translated once per walk (the catalogue
// is read from disk on every translation), and the line is drawn only when
// enough time has passed since the last one.
struct Progress {
  std::array<Cell, kScreenColumns> savedRow{};
  int64_t lastShownMs = -1;
};

int64_t MillisecondsOfDay() {
  const LocalDateTime now = LocalNow();
  return ((static_cast<int64_t>(now.hour) * 60 + now.minute) * 60 + now.second) * 1000 + now.millisecond;
}

void SaveProgressRow(Progress& progress) {
  for (int c = 1; c <= kScreenColumns; ++c) progress.savedRow[static_cast<std::size_t>(c - 1)] = ReadCell(kProgressRow, c);
}

void ShowProgress(Progress& progress, const std::string& unitKey) {
  const int64_t now = MillisecondsOfDay();
  if (progress.lastShownMs >= 0 && std::llabs(now - progress.lastShownMs) < kProgressIntervalMs) return;
  progress.lastShownMs = now;
  std::string line = ProgressText(unitKey);
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

// Tells the operator that the report did not reach its device, and where
// the print script waits, then waits for a key.
void ShowPrintProgramFailure(int status) {
  const std::string text = status == kPrintProgramMissing
                               ? TranslateText("NO ES TROBA EL PROGRAMA D'IMPRESSIÓ JOBPRINT"_cp)
                               : TranslateText("EL PROGRAMA D'IMPRESSIÓ HA FALLAT"_cp);
  // The script's path helps whoever prints it by hand, when the window can
  // hold it.
  const std::string withPath = text + " (" + PrintScriptPath() + ")";
  ShowMessageWindow(kMessageRow, withPath.size() <= kLongestMessage ? withPath : text);
  Beep();
  FlushInput();
  ReadInputEvent();
  PopWindow();
}

bool IsListMode(const RevisionParameters& p) { return !p.Mode.empty() && (p.Mode[0] == 'L' || p.Mode[0] == 'l'); }

}  // namespace

RevisionFormRunner& RevisionForm() {
  static RevisionFormRunner runner = RunRevisionFormScreen;
  return runner;
}

void ResetRevisionRunForTesting() { RevisionForm() = RunRevisionFormScreen; }

std::string ProgressText(const std::string& unitKey) {
  const std::string code = UnitCodeText(unitKey);
  return " " + TranslateText("Llegint finca ") + code.substr(0, 3) + TranslateText(", departament ") +
         code.substr(3, 3);
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
  // 4. The script goes to the print program; the job waits for it.
  ClosePrintJob();
  const int status = RunPrintProgram();
  if (status != kPrintProgramDone) ShowPrintProgramFailure(status);
  return status;
}

int32_t WalkSelection() {
  const RevisionParameters& p = Revision();
  ApplicationRecords& r = Records();
  const std::string e0 = p.FromKey.substr(0, 2);
  const std::string e1 = p.ToKey.substr(0, 2);
  const bool listMode = IsListMode(p);
  int32_t evaluated = 0;
  Progress progress;
  SaveProgressRow(progress);
  // 1. The first estate at or after E0.
  int16_t estateStatus = FindByKey(kEstateFile, 0, e0, kFindGreaterOrEqual);
  // 2. Estate by estate up to E1.
  while (estateStatus == kFound && r.estate.EstateCode() <= e1) {
    const std::string estateCode = r.estate.EstateCode();
    // 2.2 The estate's units: their keys start with its code.
    int16_t unitStatus = FindByKey(kUnitFile, 0, estateCode, kFindGreaterOrEqual);
    while (unitStatus == kFound && r.unit.UnitKey().compare(0, 2, estateCode) == 0) {
      const std::string unitKey = r.unit.UnitKey();
      // 2.2.1 Only the units inside the selected range.
      if (unitKey >= p.FromKey && unitKey <= p.ToKey) {
        ShowProgress(progress, unitKey);
        // 2.2.1.2 The lease's transition record, or its defaults.
        if (FindByKey(kLeaseTransitionFile, 0, unitKey, kFindEqual) != kFound) FillTransitionDefaults(r.transition);
        // 2.2.1.3 The rules.
        EvaluateLease();
        ++evaluated;
        // 2.2.1.4 The list prints every admitted lease, a remark for those
        //         that cannot be revised.
        if (LeaseValues().EvaluationResult >= 0 && listMode) PrintLeaseLine();
      }
      // 2.2.2 The next unit.
      unitStatus = StepRecords(kUnitFile, 1);
    }
    // 2.4 The next estate.
    estateStatus = StepRecords(kEstateFile, 1);
  }
  RemoveProgress(progress);
  return evaluated;
}

}  // namespace kestrova

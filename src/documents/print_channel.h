// The print channel: the only writer of the job's print script.
//
// The job never talks to a printer.  Whatever it prints is written as a small
// line-oriented script, "jobprint.tmp" in the session's temporary directory;
// when a print run is complete the job closes the script and runs the suite's
// print program on it (RunPrintProgram), which lays the text out on the
// device named by the script's first record.
//
// Records (each ended by CR LF), numbers written as a sign character (blank
// or "-"), the digits and one trailing blank (5 -> " 5 "):
//   "DEVICE" + device name
//   "PAGE" + page length
//   "JUS" + normalised justification code (see SetJustification)
//   "*" + control text ("@e", "q", "@", "e", "b", "u", "i")
//   column "," text "," line feeds      (column 0: where the last text ended)
//
// The channel keeps the page counters: a PrintAt on a full page first writes
// a page record of the same length.  One script at a time; not re-entrant.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

struct PrintState {
  bool open = false;        // between OpenPrintJob and ClosePrintJob
  std::string path;         // the script's job path (JOBTMP + "jobprint.tmp")
  std::string pending;      // records not yet appended to the file
  int16_t pageLength = 0;   // lines per page, set by every page record
  int16_t pageLine = 0;     // lines written on the current page
  int16_t pageColumn = 0;   // column reached on the current line
};

// The process's print state.
PrintState& PrintChannel();

// Closed, counters 0, nothing pending (tests).  Does not touch any file.
void ResetPrintChannelForTesting();

// The script's name inside JOBTMP.
inline constexpr std::string_view kPrintScriptName = "jobprint.tmp";

// The script's job path: Session().jobTmp + "jobprint.tmp".
std::string PrintScriptPath();

// A number as the script writes it: sign character, digits, one blank.
//   5 -> " 5 ", -3 -> "-3 ", 0 -> " 0 ".
std::string ScriptNumber(int32_t value);

// The record text a justification code is written as, after "JUS":
//   blanks trimmed, first character upper-cased:
//   "C" -> "C"; "D"/"R" -> "D"; "A"/"B" -> "A"; anything else -> "E";
//   "N": "N" + ScriptNumber(|integer part of the number after N|) (which
//        ends with its blank) + the code from its first "\" up to and
//        including the next "\" ("N 96 \-\" -> "N 96 \-\").
std::string NormaliseJustification(std::string_view code);

// Creates (truncating) the script and writes the device record; the counters
// start at 0.  A script that cannot be created ends the job (FatalError):
// nothing the operator asked for could be printed.
void OpenPrintJob(std::string_view device);

// Page record; pageLength := length, pageLine := 0, pageColumn := 0.
void StartPage(int16_t length);

// Justification record for a code (NormaliseJustification).
void SetJustification(std::string_view code);

// Control record.
void PrintControl(std::string_view text);

// Text record.  Bytes 0-31, 127 and 255 of the text are written as blanks
// (the caller's text is not changed); a full page (pageLine >= pageLength)
// first gets a page record of the same length.  Then: line feeds other than
// 0 add to pageLine (a negative count, as the letter merge may produce, is
// written as it is and lowers it) and put pageColumn at 0; otherwise a
// column other than 0 moves pageColumn there, and the text's length is added.
void PrintAt(int16_t column, std::string_view text, int16_t lineFeeds);

// Writes what is pending and closes the script.  Does nothing when closed.
void ClosePrintJob();

// Statuses of RunPrintProgram.
inline constexpr int kPrintProgramDone = 0;
inline constexpr int kPrintProgramMissing = 1;   // no JOBPRINT in JOBEXE
inline constexpr int kPrintProgramFailed = 2;    // it ran and reported failure, or could not start

// Runs the suite's print program "JOBPRINT" from JOBEXE on the script and
// waits for it.  The name is looked up without regard to letter case.  The
// console is handed over to it for the time it runs (ConsoleHandOver) and
// redrawn afterwards.  The script is left in JOBTMP whatever happens, so a
// failed print loses nothing.
int RunPrintProgram();

// The print program's word on its last run: the first line of
// "jobprint.msg" beside the script (the reason the pages did not reach
// their device, or the file they were written to, in the session
// language), or empty when it left none.
std::string PrintProgramMessage();

// How the console is lent to another program: `suspend` gives the terminal
// back its normal mode, `resume` takes it again and redraws the whole screen.
// The terminal backend installs them; with none installed (headless, tests)
// nothing needs handing over.
struct ConsoleHandOverHooks {
  void (*suspend)() = nullptr;
  void (*resume)() = nullptr;
};
ConsoleHandOverHooks& ConsoleHandOver();

}  // namespace kestrova

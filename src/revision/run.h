// The revision run: what the job exists for.  Each pass takes the
// parameters from the revision form, walks the selected units estate by
// estate, evaluates every lease and, in the list mode, prints its report
// lines; the print script then goes to the print program and the form comes
// back.  Escape on the form ends the run.
//
// The letters mode ("N") merges the chosen letter text for every lease to
// be revised, one letter after another in the same print job.
#pragma once

#include <cstdint>
#include <string>

namespace kestrova {

// Runs passes until the operator leaves the revision form with Escape.
// Called by the job driver once the data files are open.
void RevisionRun();

// Steps 2 to 4 of a pass, on the parameters in Revision(): opens the print
// job on the session's output device, clears the report's page count,
// walks the selection in the secondary currency, closes the print job and
// runs the print program.  When the print program is missing or fails, a
// message in the session language says so (row 12, one key) and the script
// stays in JOBTMP.  Returns the print program's status (print_channel.h).
// In the letters mode, a letter text or data file that cannot be read ends
// the walk: the script is removed instead of printed, a message names the
// file (row 12, one key), and the pass returns kLetterPassFailed.
inline constexpr int kLetterPassFailed = 3;
int RunRevisionPass();

// Walks the selection of Revision(): the estates from the estate part of
// FromKey to that of ToKey and, in each, its units whose key lies between
// FromKey and ToKey (both included, byte-wise); reads each unit's
// lease-transition record (its defaults when there is none), evaluates the
// lease and, in mode "L", prints its lines for every result of 0 or more;
// in mode "N" it merges the letter of every lease with result 0, and stops
// at the first letter whose text or data file cannot be read; in mode "A"
// writes every lease of result 0 back under the lock files and prints the
// journal of what was written (revision/apply.h).
// Returns the number of units evaluated.  Esc typed during the walk stops
// it before the next unit (never inside one: a lease being applied is
// written whole); the print job then ends with a line that says the pass
// was interrupted, and WalkCancelled() is true until the next walk.
int32_t WalkSelection();
bool& WalkCancelled();

// How the revision form is run: screen 1, returning the key that ended it.
// The form input's RunFormScreen with both flags 0; tests script it.
using RevisionFormRunner = void (*)(int16_t screen, int16_t& key);
RevisionFormRunner& RevisionForm();
void ResetRevisionRunForTesting();

// The walk's progress line on screen row 24: "Llegint finca 0001,
// departament 0002" in the session language, then the units done and to do
// with the share done, and that Esc interrupts (ProgressCountText: nothing
// when there is nothing to do).  Shown at most every
// kProgressIntervalMs while the walk runs, and the row is put back as it
// was when the walk ends.
inline constexpr int kProgressIntervalMs = 200;
std::string ProgressText(const std::string& unitKey);
std::string ProgressCountText(int32_t done, int32_t toDo);

}  // namespace kestrova

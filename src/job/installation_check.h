// What `kestrova --check` counts as problems: what would stop the job, or
// its printing, on this installation.  Found by looking only: the check
// leaves the installation as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The problems of the session as loaded (after the driver has made its
// directories absolute), one line each for the administrator, naming the
// variable, file or value at fault; empty when all is well:
//   - JOBEXE missing, or without the print program JOBPRINT;
//   - no session directory, or one that does not exist or that the job
//     cannot create its work files in (it would end at its first window);
//   - a working date ([Sistema] Data of TarnTerm.ini) that is not a date;
//   - an output device the print program cannot reach: a .txt or .pdf file
//     in a directory that is missing or not writable, or a printer the
//     print system does not know.
// Reads Session().
std::vector<std::string> SessionProblems();

// True when a packed date is a real calendar date (year 1 to 9999, month
// 1 to 12, a day the month has).
bool IsCalendarDate(std::string_view packedDate);

// How the check asks the print system about a printer: 0 when it knows the
// printer, 1 when it does not, -1 when there is no print system (CUPS) to
// ask.  Tests put their own answer in its place.
using PrinterQuery = int (*)(const std::string& printer);
PrinterQuery& PrinterLookup();

}  // namespace kestrova

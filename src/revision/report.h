// The revision report of the list mode: a page header with the regime, the
// application date and the index, then two lines per lease with its dates,
// index, rent and update, or a remark saying why it cannot be revised.
//
// Everything goes through the print channel; headings and remarks are
// translated into the session language through the message catalogue.
// Amounts are shown in the currency selected for the walk (AmountToText).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// The report's page count: 0 at the start of every pass of the run, so the
// first lease printed starts page 1 with its header.  32 bits: a report of
// a few hundred thousand units runs past 32 767 pages.
int32_t& ReportPageCount();

// The page number as the header prints it: four places ("ZZZ9") up to page
// 9 999, all its digits from page 10 000 on.
std::string PageNumberText(int32_t page);
void ResetReportForTesting();

// The six-digit code of a unit: of the 8 digits of its packed key, digits
// 2-4 (the estate number's last three) and 6-8 (the unit number's).
std::string UnitCodeText(std::string_view unitKey);

// Address line 1 to 3 of the unit in the record buffers: its own when the
// estate's own-address flag is "P", else the estate's.
std::string UnitAddressLine(int line);

// Prints the two lines of the lease in the record buffers, from the working
// values of its evaluation (result 0: dates, index and amounts; 1 to 4: a
// remark).  A new page with its header comes first when the page count is 0
// or the channel's line is past 60, so the two lines of a lease always
// share a page.  Reads the records, the revision parameters and the working
// values; changes only the print channel and the page count.
void PrintLeaseLine();

// Page count + 1, then the header: letterhead line 1 and the page number,
// the title by regime with the application date, the index line, the
// column headings and a rule of 135 dashes.
void PrintPageHeader();

}  // namespace kestrova

// The letter data of the letters mode: for each lease to be revised, a
// merge data file of named fields ("merge.tmp" in JOBTMP) that the chosen
// letter text is merged with.
//
// Fields, in this order: MEM1-MEM8 (the letterhead lines), FEC0, FEC1,
// FECHA, FEC3, FEC4 (the letter date in five forms), DES0-DES5 (unit code,
// tenant, address), FECAPL (the first receipt the update applies to),
// IMPAUM, MESATR, IMPATR, FECAUM, PORAUM, CONAUM, FECCON, FECULT, FECVEN,
// INDULT, INDACT, IMPREN, IMPINC, TOTAL, RENINI, RENACT.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrova {

// The data file's name inside JOBTMP.
inline constexpr std::string_view kLetterDataName = "merge.tmp";

// A name or street as it reads: "SURNAMES*Given" is "Given SURNAMES" (no
// blank after a part ending in "'"); without "*", or with "*" first, the
// text trimmed.
std::string ReadingOrder(std::string_view text);

// Code page 850 text in lower case, accented capitals included.
std::string LowerCaseText(std::string_view text);

// The first day of the month of the first receipt the update reaches: from
// the day before the application date, forward to the next month that
// starts a receipt period of `monthsPerReceipt` months (0 or less: that
// day's own month).  Packed dates.
std::string FirstReceiptDate(std::string_view applicationDate, int16_t monthsPerReceipt);

// The fields of the lease in the record buffers, from its working values
// and the revision parameters, in the file's order.  Amounts in the
// currency selected for the walk; dates and words in the session language.
std::vector<std::pair<std::string, std::string>> LetterFields();

// Writes the fields to JOBTMP + "merge.tmp" (each a line of byte 127 and
// its name, then its value and byte 255) and merges the letter text
// TextCode with it.  Returns MergeTemplate's status, or kMergeDataMissing
// when the data file cannot be written (LastMergeFailure names it).
int16_t WriteLetterData();

}  // namespace kestrova

// CSV as spreadsheets write it: comma-separated, fields with commas, quotes
// or line breaks in double quotes (a quote doubled inside), lines ended by
// LF or CRLF.
#pragma once

#include <string>
#include <vector>

namespace kestrova {

// Splits a whole CSV text into rows.  False (with the line) on a quote left
// open at the end of the text.  `lines` (when given) receives the line each
// row starts on, which differs from the row number after a quoted line break.
bool ParseCsv(const std::string& text, std::vector<std::vector<std::string>>& rows,
              std::string& error, std::vector<int>* lines = nullptr);

// One row, ended by a line feed.
std::string CsvRow(const std::vector<std::string>& fields);

}  // namespace kestrova

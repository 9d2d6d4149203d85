// The month's price-index figures: what the statistics office publishes each
// month, checked against the series already in the price-index file before
// anything is added.
//
// A figure is one month of one series: "I" the general consumer price index,
// "P" the monthly cap percentage (the housing reference index).  The office's
// CSV files are semicolon separated with a decimal comma and periods written
// "2025M12"; a header line names the columns ("Periodo" and "Total", and for
// the general index "Tipo de dato" with the rows of type "Índice" and a group
// column whose rows "Índice general" are the general index).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestrova {

struct IndexFigure {
  char series = 'I';
  int32_t month = 0;  // yyyymm
  double value = 0;
};

// The months already in the file for one series: yyyymm -> value.
using IndexSeries = std::map<int32_t, double>;

// "2025M12", "2025-12" or "2025-12-01" -> 202512; 0 when it is none of them
// or the month is outside 1-12.
int32_t ParsePeriod(const std::string& text);

// A number with a decimal comma or point ("119,942", "2.2"); false when the
// text is not a whole number (the office writes ".." for a figure it has not
// published).
bool ParseFigure(const std::string& text, double& value);

// The figures of `series` in an office CSV text, oldest first.  `type`, when
// not empty, keeps only the rows whose "Tipo de dato" column says so (the
// general index file holds the index and its rates side by side).  False
// with the reason (and the line) when the file is not such a CSV.
bool ReadOfficeCsv(const std::string& text, char series, const std::string& type,
                   std::vector<IndexFigure>& figures, std::string& error);

// What adding `figures` to `existing` does.  Months already in the file with
// the same value are left out of `toAdd`; the rest must continue the series
// month after month from its last month (no gap, nothing older than the
// last month with another value), and, unless `force`, stay near the month
// before: an index within 5 % of it, a percentage within 2 points.
struct IndexPlan {
  std::vector<IndexFigure> toAdd;
  std::vector<IndexFigure> alreadyThere;
  std::string refusal;  // empty when the plan can be carried out
};
IndexPlan PlanIndexAddition(const IndexSeries& existing, const std::vector<IndexFigure>& figures,
                            bool force);

// The month after yyyymm.
int32_t NextMonth(int32_t month);

}  // namespace kestrova

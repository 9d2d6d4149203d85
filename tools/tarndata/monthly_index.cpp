#include "monthly_index.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cctype>
#include <cstdlib>

namespace kestrova {
namespace {

// How far a month may move from the one before without --force: more than
// this is far likelier a typing error or the wrong file than a real month.
constexpr double kMostIndexChange = 0.05;      // the index: 5 %
constexpr double kMostPercentageChange = 2.0;  // the cap percentage: 2 points

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

std::string MonthText(int32_t month) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d", month / 100, month % 100);
  return text;
}

std::string ValueText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

bool IsUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n;
    if (b < 0x80) {
      n = 0;
    } else if ((b >> 5) == 6) {
      n = 1;
    } else if ((b >> 4) == 14) {
      n = 2;
    } else if ((b >> 3) == 30) {
      n = 3;
    } else {
      return false;
    }
    if (i + n >= s.size() && n > 0) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    }
    i += n + 1;
  }
  return true;
}

// The office's files come in UTF-8 (with or without a byte-order mark) or in
// Latin-1 when saved by a spreadsheet: both read as UTF-8 here.
std::string AsUtf8(std::string text) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  if (IsUtf8(text)) return text;
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (c == ';' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  for (auto& f : fields) f = Trim(f);
  return fields;
}

// Letters compared without regard to ASCII case; accented letters as written.
bool SameWords(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool StartsWithWords(const std::string& text, const std::string& start) {
  return text.size() >= start.size() && SameWords(text.substr(0, start.size()), start);
}

}  // namespace

int32_t ParsePeriod(const std::string& raw) {
  const std::string text = Trim(raw);
  int year = 0, month = 0, day = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4dM%2d%c", &year, &month, &tail) == 2 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) == 3 ||
      std::sscanf(text.c_str(), "%4d-%2d%c", &year, &month, &tail) == 2) {
    if (year >= 1900 && year <= 9999 && month >= 1 && month <= 12) return year * 100 + month;
  }
  return 0;
}

bool ParseFigure(const std::string& raw, double& value) {
  std::string text = Trim(raw);
  if (text.find(',') != std::string::npos) {
    // A decimal comma: points, if any, group the thousands.
    text.erase(std::remove(text.begin(), text.end(), '.'), text.end());
    std::replace(text.begin(), text.end(), ',', '.');
  }
  if (text.empty() || text.find_first_not_of("+-0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(value);
}

int32_t NextMonth(int32_t month) {
  return month % 100 == 12 ? (month / 100 + 1) * 100 + 1 : month + 1;
}

bool ReadOfficeCsv(const std::string& raw, char series, const std::string& type,
                   std::vector<IndexFigure>& figures, std::string& error) {
  const std::string text = AsUtf8(raw);
  figures.clear();
  int periodColumn = -1, valueColumn = -1, typeColumn = -1, groupColumn = -1;
  std::size_t lineNumber = 0, at = 0;
  bool header = false;
  std::map<int32_t, double> seen;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    ++lineNumber;
    if (Trim(line).empty()) continue;
    const std::vector<std::string> fields = SplitFields(line);
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    if (!header) {
      for (std::size_t c = 0; c < fields.size(); ++c) {
        const std::string& name = fields[c];
        if (SameWords(name, "Periodo")) periodColumn = static_cast<int>(c);
        if (SameWords(name, "Total")) valueColumn = static_cast<int>(c);
        if (SameWords(name, "Tipo de dato")) typeColumn = static_cast<int>(c);
        if (name.find("ECOICOP") != std::string::npos) groupColumn = static_cast<int>(c);
      }
      if (periodColumn < 0) {
        error = where + "no column \"Periodo\": not a file of the statistics office";
        return false;
      }
      if (valueColumn < 0) valueColumn = static_cast<int>(fields.size()) - 1;
      if (valueColumn == periodColumn) {
        error = where + "no column of figures beside \"Periodo\"";
        return false;
      }
      header = true;
      continue;
    }
    const auto column = [&](int c) {
      return c >= 0 && c < static_cast<int>(fields.size()) ? fields[c] : std::string();
    };
    if (groupColumn >= 0 && !StartsWithWords(column(groupColumn), "Índice general") &&
        !StartsWithWords(column(groupColumn), "Indice general"))
      continue;
    if (typeColumn >= 0 && !type.empty() && !SameWords(column(typeColumn), type)) continue;
    const int32_t month = ParsePeriod(column(periodColumn));
    if (month == 0) {
      error = where + "\"" + column(periodColumn) + "\" is not a month (2025M12)";
      return false;
    }
    double value = 0;
    if (!ParseFigure(column(valueColumn), value)) continue;  // not published yet ("..")
    const auto [it, added] = seen.emplace(month, value);
    if (!added && it->second != value) {
      error = where + MonthText(month) + " appears twice with different figures";
      return false;
    }
    if (added) figures.push_back({series, month, value});
  }
  if (!header) {
    error = "empty file";
    return false;
  }
  std::sort(figures.begin(), figures.end(),
            [](const IndexFigure& a, const IndexFigure& b) { return a.month < b.month; });
  if (figures.empty()) error = "no figure of the general index in the file";
  return !figures.empty();
}

IndexPlan PlanIndexAddition(const IndexSeries& existing, const std::vector<IndexFigure>& input,
                            bool force) {
  IndexPlan plan;
  std::vector<IndexFigure> figures = input;
  std::sort(figures.begin(), figures.end(),
            [](const IndexFigure& a, const IndexFigure& b) { return a.month < b.month; });
  int32_t last = existing.empty() ? 0 : existing.rbegin()->first;
  double lastValue = existing.empty() ? 0 : existing.rbegin()->second;
  for (const IndexFigure& f : figures) {
    const std::string name = "series " + std::string(1, f.series) + " " + MonthText(f.month);
    if (f.series == 'I' && !(f.value > 0)) {
      plan.refusal = name + ": an index is a positive number, not " + ValueText(f.value);
      return plan;
    }
    const auto there = existing.find(f.month);
    if (there != existing.end()) {
      if (std::fabs(there->second - f.value) < 1e-9) {
        plan.alreadyThere.push_back(f);
        continue;
      }
      plan.refusal = name + " is in the file already as " + ValueText(there->second) +
                     ", not " + ValueText(f.value) + ": a published month is never changed here";
      return plan;
    }
    if (last != 0 && f.month < last) {
      plan.refusal = name + " is older than the last month of the series (" + MonthText(last) +
                     ") and missing from it: the file's series has a hole; load it with import";
      return plan;
    }
    if (last != 0 && f.month != NextMonth(last)) {
      plan.refusal = name + " would leave a gap: the series ends at " + MonthText(last) +
                     ", so " + MonthText(NextMonth(last)) + " comes first";
      return plan;
    }
    if (last != 0 && !force) {
      const bool far = f.series == 'I'
                           ? std::fabs(f.value / lastValue - 1) > kMostIndexChange
                           : std::fabs(f.value - lastValue) > kMostPercentageChange;
      if (far) {
        plan.refusal = name + ": " + ValueText(f.value) + " is far from " + MonthText(last) +
                       "'s " + ValueText(lastValue) + " (a typing error or the wrong file?); " +
                       "--force adds it all the same";
        return plan;
      }
    }
    plan.toAdd.push_back(f);
    last = f.month;
    lastValue = f.value;
  }
  return plan;
}

}  // namespace kestrova

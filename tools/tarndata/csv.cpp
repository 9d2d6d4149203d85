#include "csv.h"

namespace kestrova {

bool ParseCsv(const std::string& text, std::vector<std::vector<std::string>>& rows,
              std::string& error, std::vector<int>* lines) {
  rows.clear();
  if (lines) lines->clear();
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, fieldStarted = false;
  int line = 1, quoteLine = 0, rowLine = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    if (c == '"' && !fieldStarted) {
      quoted = fieldStarted = true;
      quoteLine = line;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
      fieldStarted = false;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row.push_back(field);
      rows.push_back(row);
      if (lines) lines->push_back(rowLine);
      row.clear();
      field.clear();
      fieldStarted = false;
      rowLine = ++line;
    } else {
      field += c;
      fieldStarted = true;
    }
  }
  if (quoted) {
    error = "line " + std::to_string(quoteLine) + ": a quoted field is never closed";
    return false;
  }
  if (fieldStarted || !row.empty()) {
    row.push_back(field);
    rows.push_back(row);
    if (lines) lines->push_back(rowLine);
  }
  return true;
}

std::string CsvRow(const std::vector<std::string>& fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ',';
    const std::string& f = fields[i];
    const bool quote = f.find_first_of(",\"\r\n") != std::string::npos ||
                       (!f.empty() && (f.front() == ' ' || f.back() == ' '));
    if (!quote) {
      out += f;
      continue;
    }
    out += '"';
    for (char c : f) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  out += '\n';
  return out;
}

}  // namespace kestrova

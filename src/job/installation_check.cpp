#include "job/installation_check.h"

#include <cctype>

#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "platform/blanks.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host.h"
#include "session/session.h"

namespace kestrova {
namespace {

std::string Shown(std::string_view cp850) { return Cp850ToUtf8(cp850); }

// The text quoted for /bin/sh: inside single quotes everything is literal
// except the single quote itself.
std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Asks CUPS: lpstat -p NAME answers 0 only for a printer it knows; a shell
// that cannot find lpstat answers 127, which the host reports as -1.
int AskCups(const std::string& printer) {
  const int code = RunCommandAndWait("lpstat -p " + ShellQuoted(printer) + " >/dev/null 2>&1");
  if (code < 0) return -1;
  return code == 0 ? 0 : 1;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The directory part of a job path ("" when it has none).
std::string DirectoryOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void CheckPrograms(const SessionState& s, std::vector<std::string>& problems) {
  if (s.jobExe.empty()) {
    problems.push_back("JOBEXE is not set: the print program JOBPRINT cannot be found");
  } else if (!IsDirectory(s.jobExe)) {
    problems.push_back("JOBEXE: no such directory: " + Shown(s.jobExe));
  } else if (!PathExists(s.jobExe + "JOBPRINT")) {
    problems.push_back("JOBEXE: the print program JOBPRINT is not in " + Shown(s.jobExe) +
                       ": nothing the job prints would reach the output");
  }
}

void CheckSessionDirectory(const SessionState& s, std::vector<std::string>& problems) {
  if (s.jobTmp.empty()) {
    problems.push_back(
        "no session directory: JOBTMP is not set and Sessio.ini gives no workstation directory ([Terminal] Dir)");
  } else if (!IsDirectory(s.jobTmp)) {
    problems.push_back("JOBTMP: no such directory: " + Shown(s.jobTmp));
  } else if (!IsWritableDirectory(s.jobTmp)) {
    problems.push_back("JOBTMP: the job cannot create its work files (WinPush.tmp, jobprint.tmp) in " +
                       Shown(s.jobTmp) + ": it would end at its first window");
  }
}

void CheckWorkingDate(const SessionState& s, std::vector<std::string>& problems) {
  const std::string where = "the working date ([Sistema] Data of " + Shown(s.jobTmp) + "TarnTerm.ini)";
  if (s.sessionDate.empty()) {
    problems.push_back(where + " is missing");
  } else if (!IsCalendarDate(s.sessionDate)) {
    problems.push_back(where + " is not a date: " + UnpackDigits(s.sessionDate) + " (yyyymmdd)");
  }
}

void CheckOutput(const SessionState& s, std::vector<std::string>& problems) {
  const std::string device(TrimBlanks(s.output));
  const std::string lower = Lower(device);
  if (device.empty() || lower == "pantalla") return;
  if (lower.size() > 4 && (lower.ends_with(".txt") || lower.ends_with(".pdf"))) {
    // A relative name is taken in the session directory, as the print
    // program takes it.
    const bool absolute = device.front() == '/' || device.front() == '\\';
    const std::string directory = DirectoryOf(absolute ? device : s.jobTmp + device);
    if (!directory.empty() && !IsWritableDirectory(directory)) {
      problems.push_back("output device ([Sistema] Sortida) " + Shown(device) + ": cannot write in " +
                         Shown(directory));
    }
    return;
  }
  const int known = PrinterLookup()(Cp850ToUtf8(device));
  if (known < 0) {
    problems.push_back("output device ([Sistema] Sortida) " + Shown(device) +
                       ": no print system (CUPS) is installed to reach this printer");
  } else if (known > 0) {
    problems.push_back("output device ([Sistema] Sortida) " + Shown(device) +
                       ": the print system knows no printer of this name");
  }
}

}  // namespace

bool IsCalendarDate(std::string_view packedDate) {
  if (packedDate.size() != 4) return false;
  const std::string digits = UnpackDigits(packedDate);
  const int year = std::stoi(digits.substr(0, 4));
  const int month = std::stoi(digits.substr(4, 2));
  const int day = std::stoi(digits.substr(6, 2));
  return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(month, year, year < 1582);
}

PrinterQuery& PrinterLookup() {
  static PrinterQuery query = &AskCups;
  return query;
}

std::vector<std::string> SessionProblems() {
  const SessionState& s = Session();
  std::vector<std::string> problems;
  CheckPrograms(s, problems);
  CheckSessionDirectory(s, problems);
  CheckWorkingDate(s, problems);
  CheckOutput(s, problems);
  return problems;
}

}  // namespace kestrova

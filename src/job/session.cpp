#include "job/session.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <limits>
#include "calendar/blanks.h"

#include "calendar/numeric.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host.h"

namespace kestrova {
namespace {

bool SameName(std::string_view a, std::string_view b) { return UpperAnsi(a) == UpperAnsi(b); }

// A directory taken from the environment or an INI file gets a closing "\"
// unless it is empty or already ends with ":" (a bare drive) or "\".  A "/"
// is accepted as a closing separator too, since on this system a directory
// may well be written with one.
std::string NormaliseDirectory(std::string dir) {
  if (!dir.empty() && dir.back() != ':' && dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

}  // namespace

SessionState& Session() {
  static SessionState state;
  return state;
}

void ResetSessionForTesting() { Session() = SessionState{}; }

int32_t DecimalValue(std::string_view text) {
  text = TrimLeadingBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int32_t>::max()) {
      return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

std::string ReadIniValue(std::string_view file, std::string_view section, std::string_view key) {
  // 1. The file is read whole and closed at once, so nothing is held open
  //    between reads and other workstations may rewrite it at any time.
  std::string contents;
  if (!ReadWholeFile(file, contents)) return {};

  const std::string wantedSection = UpperAnsi(TrimBlanks(section));
  const std::string wantedKey = UpperAnsi(TrimBlanks(key));
  std::string value;
  bool found = false;
  bool done = false;
  std::size_t pos = 0;
  // 2. Line by line until the key is found or the section ends.  A line
  //    ends at CR LF, LF or a lone CR: files edited on the suite's Windows
  //    workstations, on this system and on old editors all turn up.  (The
  //    empty "line" between a CR and its LF is skipped as blank.)
  while (!done && pos < contents.size()) {
    std::size_t end = contents.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = contents.size();
    std::string_view line(contents.data() + pos, end - pos);
    pos = end + 1;

    // 2.1 The comment is cut first, so a ";" can never be part of a value.
    const std::size_t semicolon = line.find(';');
    if (semicolon != std::string_view::npos) line = line.substr(0, semicolon);
    line = TrimLeadingBlanks(line);
    // 2.2 Blank lines.
    if (TrimBlanks(line).empty()) continue;

    if (!found) {
      // 2.3 Looking for the section header; other lines are ignored.
      if (line.front() != '[') continue;
      std::string_view name = line.substr(1);
      const std::size_t close = name.find(']');
      if (close != std::string_view::npos) name = name.substr(0, close);
      if (UpperAnsi(TrimBlanks(name)) == wantedSection) found = true;
      continue;
    }
    // 2.4 Inside the section: the next header ends the search, so only the
    //     first block of a section written twice is seen; the first match
    //     of the key wins.
    if (line.front() == '[') break;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameName(TrimTrailingBlanks(line.substr(0, equals)), wantedKey)) {
      value = std::string(line.substr(equals + 1));
      done = true;
    }
  }
  // 4. Quotes go only when both are there.
  if (value.size() > 1 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::string GetWorkstationName() { return ComputerName(); }

std::string SuiteIniPath() { return Session().jobRoot + "Tarn.ini"; }

std::array<ColourPair, 5> ParseColourText(std::string_view text) {
  auto twoDigits = [&](std::size_t from) -> int16_t {
    // Characters missing from a short text count as empty: value 0.
    std::string_view part = from < text.size() ? text.substr(from, 2) : std::string_view();
    return static_cast<int16_t>(DecimalValue(part));
  };
  std::array<ColourPair, 5> table{};
  for (std::size_t p = 0; p < table.size(); ++p) {
    table[p].foreground = twoDigits(4 * p);
    table[p].background = twoDigits(4 * p + 2);
  }
  return table;
}

void LoadSession() {
  SessionState& s = Session();
  // 1. Texts from the environment arrive in UTF-8 and are held in code page
  //    850 (the conversion lives in GetEnvironment).
  s.jobRoot = GetEnvironment("JOBROOT");
  s.jobExe = GetEnvironment("JOBEXE");
  s.jobTmp = GetEnvironment("JOBTMP");

  // 2. The session directory ends with a separator.
  s.jobTmp = NormaliseDirectory(s.jobTmp);

  // 3. The session file of the menu session.
  const std::string sessionFile = s.jobTmp + "Sessio.ini";
  s.title = " " + ReadIniValue(sessionFile, "Menu", "Titol") + " ";
  s.menuOption = ReadIniValue(sessionFile, "Menu", "NomMenu");
  s.menu = ReadIniValue(sessionFile, "Menu", "Menu");
  s.menuChain = ReadIniValue(sessionFile, "Menu", "ChnMenu");
  s.operatorName = ReadIniValue(sessionFile, "Menu", "Operador");
  s.operatorType = static_cast<int16_t>(DecimalValue(ReadIniValue(sessionFile, "Menu", "JobTipOper")));

  // 4. The workstation's directory.  On this system TERM names the terminal
  //    type ("xterm-256color"), not a directory, so it is taken only when it
  //    names an existing directory.
  std::string terminal = ReadIniValue(sessionFile, "Terminal", "Dir");
  if (terminal.empty()) {
    const std::string term = GetEnvironment("TERM");
    if (!term.empty() && IsDirectory(term)) terminal = term;
  }
  s.terminalDirectory = NormaliseDirectory(terminal);

  // 5. Without a session directory, the workstation's directory serves.
  if (s.jobTmp.empty()) s.jobTmp = s.terminalDirectory;

  // 6. Euros are the main and current currency.
  SetCurrency("a,E");

  // 7. The colours chosen for this terminal.
  const std::string terminalFile = s.jobTmp + "TarnTerm.ini";
  const int32_t selection = DecimalValue(ReadIniValue(terminalFile, "Pantalla", "Seleccio"));
  std::string colours =
      ReadIniValue(terminalFile, "Pantalla", "Col" + std::to_string(selection));
  if (colours.empty()) colours = std::string(kDefaultColourText);
  s.colourTable = ParseColourText(colours);

  // 8. Working date, print destination and language of the workstation.
  s.sessionDate = PackDigits(ReadIniValue(terminalFile, "Sistema", "Data"));
  s.output = ReadIniValue(terminalFile, "Sistema", "Sortida");
  std::string language = ReadIniValue(terminalFile, "Sistema", "Idioma");
  language.resize(3, ' ');
  s.language = language;

  // 9. Else the installation's language.
  const std::string suiteFile = SuiteIniPath();
  if (s.language == "   ") {
    language = ReadIniValue(suiteFile, "Usuari", "Idioma");
    language.resize(3, ' ');
    s.language = language;
  }

  // 10. The platform: a web gateway first, then Windows, else DOS.
  if (!GetEnvironment("HTTP_USER_AGENT").empty() || !GetEnvironment("HTTP_ACCEPT").empty()) {
    s.platform = "CGI";
  } else if (!GetEnvironment("WINDIR").empty() || !GetEnvironment("SYSTEMROOT").empty()) {
    s.platform = "WIN";
  } else {
    s.platform = "DOS";
  }

  // The user company's letterhead, for the report and the letters.
  for (std::size_t i = 0; i < s.letterhead.size(); ++i) {
    s.letterhead[i] = ReadIniValue(suiteFile, "Empresa", "Linia" + std::to_string(i + 1));
  }
}

bool ClaimSessionDirectory() {
  static int claim = -1;
  if (claim >= 0) return true;
  const std::string path = NativePath(Session().jobTmp + "KESTROVA.LCK");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  claim = fd;  // kept open, and so locked, until the process ends
  return true;
}

}  // namespace kestrova

#include "job/load_session.h"

#include "calendar/numeric.h"
#include "platform/files.h"
#include "platform/host.h"
#include "session/session.h"

namespace kestrova {
namespace {

// A directory taken from the environment or an INI file gets a closing "\"
// unless it is empty or already ends with ":" (a bare drive) or "\".  A "/"
// is accepted as a closing separator too, since on this system a directory
// may well be written with one.
std::string NormaliseDirectory(std::string dir) {
  if (!dir.empty() && dir.back() != ':' && dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

}  // namespace

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

}  // namespace kestrova

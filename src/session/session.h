// The session: who and where the job is, as the suite's menu program leaves
// it in environment variables and INI files.
//
// LoadSession (job/load_session.h) reads them once at start into the
// SessionState, which every other module reads (directories, the working
// date, the output device, the language, the colours, the platform).  Being
// the start-up data of the whole job, this module sits under everything else
// and includes only platform/.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

struct ColourPair {
  int16_t foreground = 0;
  int16_t background = 0;
};

// Colours used when the terminal file names none: 15 on 0, then 7 on 0,
// then three pairs of 0 on 7.
inline constexpr std::string_view kDefaultColourText = "15000700000700070007";

struct SessionState {
  std::string jobRoot;            // JOBROOT, as given (ends with a separator)
  std::string jobExe;             // JOBEXE, as given
  std::string jobTmp;             // JOBTMP, normalised; else the terminal directory
  std::string title;              // " " + [Menu] Titol + " "
  std::string menuOption;         // [Menu] NomMenu: the job's help topic
  std::string menu;               // [Menu] Menu
  std::string menuChain;          // [Menu] ChnMenu
  std::string operatorName;       // [Menu] Operador
  int16_t operatorType = 0;       // [Menu] JobTipOper
  std::string terminalDirectory;  // [Terminal] Dir, else TERM when a directory; normalised
  std::array<ColourPair, 5> colourTable{};
  std::string sessionDate;        // 4 packed bytes: yyyymmdd
  std::string output;             // [Sistema] Sortida: the print destination
  std::string language = "   ";   // 3 characters, blank-padded
  std::string platform;           // "CGI", "WIN" or "DOS"
  std::array<std::string, 8> letterhead;  // Tarn.ini [Empresa] Linia1..Linia8
};

// The job's session state.
SessionState& Session();

// Back to the state before LoadSession (tests).
void ResetSessionForTesting();

// Claims the session directory (JOBTMP) for this process: an exclusive
// kernel lock on "KESTROVA.LCK" in it, held until the process ends (the
// kernel drops it even when the process is killed).  False when another
// process holds it: two jobs sharing one session directory would write
// over each other's print script and window stack.  A directory where the
// lock file cannot be made claims nothing and answers true.
bool ClaimSessionDirectory();

// The value of `key` in `[section]` of an INI file (job path), or empty when
// the file cannot be opened or the section or key is not there.  Only the
// first block of a section is searched and the first occurrence of a key
// wins; ";" starts a comment anywhere on a line (even between quotes); the
// value is everything after the first "=", unchanged, except that a pair of
// surrounding double quotes is removed.  Names compare without regard to
// case in the ANSI code page.  Blanks are spaces only.
std::string ReadIniValue(std::string_view file, std::string_view section, std::string_view key);

// The installation's settings file, JOBROOT + "Tarn.ini", through the
// session's root: once the driver has made the root absolute, every reader
// of the file finds it whatever the current directory is (a relative
// JOBROOT read again from the environment would not).
std::string SuiteIniPath();

// The computer's name (at most 16 characters), or empty when the system
// call fails.  The lock files identify the workstation by it.
std::string GetWorkstationName();

// Parses a 20-digit colour text into the five pairs: pair p takes its
// foreground from characters 4p+1..4p+2 and its background from 4p+3..4p+4;
// missing or non-digit characters count as empty (value 0).
std::array<ColourPair, 5> ParseColourText(std::string_view text);

// The decimal value of a text the way the suite's VAL reads it: leading
// blanks skipped, an optional sign, then digits up to the first non-digit;
// 0 when there are none.  Saturates at the int32 limits.
int32_t DecimalValue(std::string_view text);

}  // namespace kestrova

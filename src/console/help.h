// Help: F1 on the job's form shows help on the job's topic (the session's
// menu option name).
//
// On the "WIN" platform the topic's HTML page, JOBROOT + "AJUDA\" + topic +
// ".HTM", goes to the suite's start program BRUMEL (in JOBEXE), and the job
// waits until it ends.  Elsewhere the text help file "AJUDA\" + topic +
// ".HLP" (relative to the current directory, JOBROOT) is shown in a framed
// window over rows 4 .. ScreenRows - 3.  In the sessions of the other
// languages, "AJUDA\" + language + "\" + topic (SPA, GLG, OCI) is taken
// instead when the installation has it.
//
// A text help file is a file of fixed-length records of ScreenColumns bytes
// (80), one display line each, in code page 850.  Three control characters
// switch colours inside a line and are not shown; each toggles its own flag
// and the flags start off on every line:
//   30  highlight ("h" on, "n" off; nothing while underline is on)
//   31  underline ("u" on, "n" off)
//   16  reverse   ("r" on, "n" off)
// At most 76 visible characters of a line are shown.  The number of lines
// is the file length divided by the record length, to the nearest whole
// number: a short last record counts when it holds at least half a line,
// and what is missing of it shows blank.  Rows past the end of a short file
// show blank; a missing or unreadable file shows an empty window that Esc
// closes.  Records are read one at a time, so a huge file costs no memory.
//
// Keys of the viewer: Down and Up scroll by one line, PgDn and PgUp by a
// window, Home and End go to the first and last page, F1 opens the suite's
// general help "PORTIVEX" (not from inside it), Esc leaves.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrova {

// The suite's general help topic, opened with F1 from inside any help.
inline constexpr std::string_view kGeneralHelpTopic = "PORTIVEX";

// Shows help on the topic and returns when the operator leaves it.
void ShowHelp(std::string_view topic);

// Shows text help file `path` (a job path) in the viewer; what ShowHelp
// does off "WIN" for "AJUDA\" + topic + ".HLP".  The topic decides whether
// F1 opens the general help.
void ShowHelpFile(std::string_view path, std::string_view topic);

}  // namespace kestrova

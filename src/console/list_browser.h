// The look-up list browser: F4 on a form field shows the records of a data
// file as lines in a framed window, and the operator picks one.
//
// A list of the job's form (FormList, session/job_form.h) is described by its
// eight integers and its title:
//   0 top, 1 left, 2 bottom, 3 right   the framed window, in screen rows and
//       columns; the lines go inside the frame, the title on its top row.
//       A window that does not fit on the screen or leaves no room for a
//       line is replaced by rows 4 to 20, columns 10 to 70.
//   4 file number   the data file whose records are listed (it must be open)
//   5 key number    the key the records are listed in, from its lowest value
//   6 screen        a form screen run first (0: none), so the operator can
//                   narrow the list; leaving it with Esc leaves the list
//   7 search column where in a line the typed letters are looked for (from
//                   1; 0 means 1), so a list of "code  name" lines can be
//                   searched by name
// Each record read is turned into its line by the form's list hook
// (FormHooks::listLine, console/form_input.h); a record the hook leaves out
// is not listed.  At most kMaxListLines records are listed.
//
// Keys: Up, Down, PgUp, PgDn, Home and End move the highlighted line;
// typed letters find the first line that begins with them (accents and
// case do not count; Backspace takes the last letter back; a letter that
// matches no line beeps and is dropped).  The letters show on the bottom
// frame, and a pause of more than a second and a half, or any other key,
// starts a new search.  Enter chooses the highlighted line;
// Esc leaves.  Mouse: a click on a line highlights it, a second click on it
// chooses it, a click on the top or bottom frame scrolls by one line, a
// click outside the window leaves.
//
// While the list is shown the file is read without record locks: its lock
// mode is saved and set to "no locks" on entry and given back on leaving.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

inline constexpr int32_t kMaxListLines = 10000;

// Shows list `list` (from 1) of the job's form.  True when the operator
// chose a line: the chosen record is then in its file's record variable and
// the file is positioned on it.  False when the operator left, the list
// number does not exist or its screen was left with Esc.
// `startKey` (key value, may be a prefix) is where the list opens: the
// highlighted line is the first record at or after it (empty: the first
// record).
bool BrowseList(int16_t list, std::string_view startKey = {});

// The index (from 0) of the first line that begins with `typed` at column
// `searchColumn` (from 1), comparing accent-folded upper case; -1 when
// none does.
int32_t FindTypedLine(const std::vector<std::string>& lines, const std::string& typed,
                      int16_t searchColumn);

}  // namespace kestrova

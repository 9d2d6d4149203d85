// The letter merge: a text template written by the user, merged with the
// named values of a merge data file, laid out paragraph by paragraph and
// written through the print channel.
//
// A template ("TEXTOS\" + name + ".txt" under JOBROOT) holds the letter in
// every language the suite speaks.  Its lines, CR LF ended:
//   byte 127 "P" n      page length (default 66)
//   byte 127 "S" n      top margin in lines (default 0)
//   byte 127 "L" text   page header text
//   byte 127 "A"/"T"    accepted and ignored
//   byte 127 "C"        text transformation on ("C" and anything: off)
//   byte 127 "I" xxx    the lines that follow are used only when xxx is the
//                       session language; none is used before the first one
//   byte 127 other      a paragraph style: left margin in characters 2-3,
//                       right margin 4-5, indent 6-8, alignment the last
//   "@+name", "#+name"  the template `name` merged here ("#+": the text
//                       after it starts a new document)
//   anything else       text: an optional style selector byte 1-9, field
//                       markers "@NAME" (value trimmed) and "#NAME" (value
//                       as stored), bytes 16, 17, 18 for bold, underline,
//                       italic; "@.n" / "#.n" alone moves down to line n.
// A merge data file: for each field a line of byte 127 and the name, then
// the value's lines, the last one ended by byte 255.
//
// Numbers that would break the page are held to sound values: a page length
// below 10 is 10 (none or a negative one is the default 66) and above 1000
// is 1000; a top margin below 0 is 0 and leaves at least 10 lines of the
// page; margins start at column 1 at the least, the right one not before
// the left one nor past column 250; a position line never moves up the page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// Statuses of MergeTemplate.
inline constexpr int16_t kMergeDone = 0;
inline constexpr int16_t kMergeTemplateMissing = 1;   // a template or an include cannot be read
inline constexpr int16_t kMergeDataMissing = 2;       // the merge data file cannot be read
inline constexpr int16_t kMergeIncludesTooDeep = 3;   // includes nested past kMaxIncludeDepth

// Templates including templates: deeper than this is a template that
// includes itself, directly or through others.
inline constexpr int kMaxIncludeDepth = 16;

// What stopped the last merge that failed: its status and the name of the
// template (as written) or the data file's path.  Cleared by no one: read
// it right after a MergeTemplate that did not return kMergeDone.
struct MergeFailure {
  int16_t status = kMergeDone;
  std::string name;
};
MergeFailure& LastMergeFailure();

// The number of pages started in the current document; 0 means none yet,
// so the next printed line starts a first page.
int16_t& LetterPageCount();
void ResetLetterMergeForTesting();

// The file a template name stands for: trailing blanks removed, ".txt"
// added; under JOBROOT + "TEXTOS\" unless the name is a path (its second
// character is ":" or it holds "\" or "/").
std::string TemplatePath(std::string_view templateName);

// A pass of letters merges every letter from the templates as they stand
// when it starts: StartTemplatePass begins keeping the text of each
// template MergeTemplate reads, so each is read from its file once per
// pass; EndTemplatePass forgets them, and the next pass reads them again
// (the operator may have edited one in between).  Outside a pass every
// merge reads the files.
void StartTemplatePass();
void EndTemplatePass();

// Prints the template merged with the data file through the print channel
// (which the caller opens before and closes after).  An empty data file
// name prints the template without merging.  `flag` is passed to includes
// and not read.  The session language picks the language block; a language
// other than "SPA", "GLG", "OCI" is Catalan.  The outermost call leaves
// LetterPageCount() at 0, so the next letter starts a document of its own.
// Returns kMergeDone, or the status of the first failure (LastMergeFailure
// names the file); the merge stops there, with whatever it had printed.
int16_t MergeTemplate(std::string_view templateName, std::string_view dataFile, int16_t flag);

}  // namespace kestrova

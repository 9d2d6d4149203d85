// The print program's reading of the job's print script: records in, laid
// out pages of character cells out.  Pure functions, no devices, so the
// text, PDF and screen outputs all show the same pages and tests need no
// printer.
//
// Script records (CR LF or LF ended; see the job's print channel):
//   DEVICEname   where the pages go (the first device record counts)
//   PAGE n       page length n; a page that has something on it ends here
//   JUSx         justification of the following texts up to the end of the
//                line: E left (as given), D right edge where the field of
//                the text's width ends (with monospaced cells that is the
//                text as written), C centred in that field, A words spread
//                over it, N n \f\ the text then fill character f up to
//                column n
//   *ctl         control letters, in order: "@" resets pitch and
//                attributes, "e" starts a page (unless the page is still
//                empty), "q" condensed pitch, "b" / "u" / "i" switch bold,
//                underline, italic; others are ignored
//   col,text,lf  text at column col (1-based; 0 = where the last text
//                ended), then lf line feeds (negative: back up the page)
//
// Anything else, and whatever is broken, is skipped: numbers are read
// leniently and clamped, lines are cut at kMaxColumns, pages at kMaxLines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::jobprint {

inline constexpr int kMaxColumns = 400;
inline constexpr int kMaxLines = 400;
inline constexpr int kDefaultPageLength = 66;

// Attribute bits of a cell.
inline constexpr uint8_t kBold = 1;
inline constexpr uint8_t kUnderline = 2;
inline constexpr uint8_t kItalic = 4;

struct PrintLine {
  std::string text;                 // code page 850 bytes, blank padded
  std::vector<uint8_t> attributes;  // one per byte of text
};

struct PrintPage {
  int length = kDefaultPageLength;
  bool condensed = false;
  std::vector<PrintLine> lines;     // at most `length` lines
};

struct PrintDocument {
  std::string device;               // code page 850, as written
  bool hasDevice = false;
  std::vector<PrintPage> pages;     // at least one
};

// Lays out a whole script.
PrintDocument LayOutScript(std::string_view script);

// The pages as UTF-8 text: trailing blanks and trailing empty lines of each
// page dropped, pages separated by a line holding a form feed.
std::string RenderText(const PrintDocument& document);

// The widest line of the document, in columns (at least 1).
int WidestLine(const PrintDocument& document);

// One line of a page as UTF-8, trailing blanks dropped.
std::string LineAsUtf8(const PrintLine& line);

}  // namespace kestrova::jobprint

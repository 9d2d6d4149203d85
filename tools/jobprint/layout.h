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
//
// The layout is a stream: pages leave it one by one as they are finished
// (ScriptLayout and a PageSink), so a report of any length is printed with
// the memory of one page.
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

// What the layout carries from one record to the next, apart from the page
// being filled.  Taken just before the record that opens a page, it lets
// that page be laid out again on its own (ReLayOutPage).
struct LayoutState {
  std::size_t offset = 0;           // byte offset of the record in the script
  bool hasPage = false;             // a page has been opened before
  bool pendingPage = false;         // the next text opens a fresh page
  int pageLength = kDefaultPageLength;
  int line = 0;
  int column = 0;
  char justification = 'E';
  char fill = ' ';
  int fillTo = 0;
  bool condensed = false;
  uint8_t attributes = 0;
};

// Receives each page once nothing more can be written on it, with the
// state the page was opened from.  Only one page is held at a time, so
// memory stays bounded by a page however long the script is.
class PageSink {
 public:
  virtual ~PageSink() = default;
  virtual void Page(const PrintPage& page, const LayoutState& start) = 0;
};

// Lays a script out record by record and hands finished pages to a sink.
class ScriptLayout {
 public:
  explicit ScriptLayout(PageSink& sink, const LayoutState& start = LayoutState());
  // One record, without its line end; `offset` is where it starts in the
  // script (only kept for the page index).
  void Record(std::string_view record, std::size_t offset = 0);
  // Hands over the last page; a script without text still gives one empty
  // page.  Nothing may follow.
  void Finish();
  const std::string& Device() const { return device_; }
  bool HasDevice() const { return hasDevice_; }

 private:
  PrintPage& CurrentPage();
  bool PageHasContent() const;
  void BreakPage();
  void Justification(std::string_view code);
  void Control(std::string_view text);
  void Text(std::string_view record);
  void Put(const std::string& text);

  PageSink& sink_;
  LayoutState state_;               // as before the current record
  LayoutState recordStart_;         // state_ as it was when the record began
  PrintPage page_;                  // the page being filled (when state_.hasPage)
  LayoutState pageStart_;           // what page_ was opened from
  bool standIn_ = false;            // page_ stands for a page handed over before
  std::string device_;
  bool hasDevice_ = false;
};

// Feeds every record of a script (CR LF or LF ended) to a layout.
void FeedScript(std::string_view script, ScriptLayout& layout);

// Feeds every record of a script file to a layout, reading it a piece at a
// time.  False when the file cannot be read.
bool FeedScriptFile(const std::string& path, ScriptLayout& layout);

// The device the script names (its first device record; empty when it has
// none), without laying it out.  False when the file cannot be read.
bool ReadScriptDevice(const std::string& path, std::string& device);

// Lays out a whole script into memory (tests and small scripts).
PrintDocument LayOutScript(std::string_view script);

// Lays out again the one page that was opened from `start`, reading the
// script file from start.offset.  False when the file cannot be read.
bool ReLayOutPage(const std::string& path, const LayoutState& start, PrintPage& page);

// A page as UTF-8 text lines: trailing blanks and trailing empty lines
// dropped, each line ended by a line feed.
std::string PageText(const PrintPage& page);

// The pages as UTF-8 text: trailing blanks and trailing empty lines of each
// page dropped, pages separated by a line holding a form feed.
std::string RenderText(const PrintDocument& document);

// The widest line of a page, in columns (0 for an empty page).
int WidestLine(const PrintPage& page);

// The widest line of the document, in columns (at least 1).
int WidestLine(const PrintDocument& document);

// One line of a page as UTF-8, trailing blanks dropped.
std::string LineAsUtf8(const PrintLine& line);

}  // namespace kestrova::jobprint

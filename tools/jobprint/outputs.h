// Where the print program sends laid-out pages.  Every output takes the
// pages one at a time from the layout, so none holds a whole document.
#pragma once

#include <cairo.h>

#include <cstdio>
#include <string>
#include <vector>

#include "layout.h"

namespace kestrova::jobprint {

// The widest line and the number of pages of a script, from a first pass
// over it (the PDF sizes its font for the widest line of the document).
class MeasureSink : public PageSink {
 public:
  void Page(const PrintPage& page, const LayoutState&) override;
  int widest = 1;
  int pages = 0;
  int condensedPages = 0;
};

// Writes pages to a PDF file (native path): A4, one PDF page per page, a
// monospaced font sized so that the page's lines and columns fit; condensed
// pages are laid landscape so 135 columns fit, and so is every page of a
// document whose widest line needs it.  Bold, italic and underline cells
// keep their attributes.
class PdfSink : public PageSink {
 public:
  // `widest`: the widest line of the whole document (MeasureSink).
  PdfSink(const std::string& path, int widest);
  ~PdfSink() override;
  PdfSink(const PdfSink&) = delete;
  PdfSink& operator=(const PdfSink&) = delete;
  void Page(const PrintPage& page, const LayoutState&) override;
  // Ends the file.  Returns an empty text, or what went wrong.
  std::string Close();

 private:
  std::string path_;
  int widest_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  bool closed_ = false;
};

// Writes pages as UTF-8 text, a line holding a form feed between pages.
class TextSink : public PageSink {
 public:
  explicit TextSink(std::FILE* out) : out_(out) {}
  void Page(const PrintPage& page, const LayoutState&) override;

 private:
  std::FILE* out_;
  bool first_ = true;
};

// The whole script file as a PDF file; returns an empty text, or what went
// wrong (texts in the session language, code page 850).  `measured`, when
// given, receives the first pass's figures.
std::string WritePdfFile(const std::string& scriptPath, const std::string& pdfPath, MeasureSink* measured = nullptr);

// The whole script file as a text file ("-": the standard output).
std::string WriteTextFile(const std::string& scriptPath, const std::string& textPath);

// A document already in memory as a PDF file (tests).
std::string WritePdf(const PrintDocument& document, const std::string& path);

// Shows the script's pages full screen in the terminal until Esc or q,
// laying out only the page shown.  Returns an empty text, or what went
// wrong (no terminal).
std::string ViewOnTerminal(const std::string& scriptPath);

// The viewer's screen for a page, as the lines shown (UTF-8, each exactly
// `columns` wide on screen): the page's lines from `top`, from `left`, in
// `rows` - 1 rows, then the status line for page `number` of `count`
// (1-based).  Pure, for tests.
std::vector<std::string> ViewerLines(const PrintPage& page, int number, int count, int top, int left, int rows,
                                     int columns);

}  // namespace kestrova::jobprint

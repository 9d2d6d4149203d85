// Where the print program sends laid-out pages.
#pragma once

#include <string>

#include "layout.h"

namespace kestrova::jobprint {

// Writes the document as a PDF file (native path): A4, one PDF page per
// page, a monospaced font sized so that the page's lines and columns fit;
// condensed pages are laid landscape so 135 columns fit.  Bold, italic and
// underline cells keep their attributes.  Returns an empty text, or what
// went wrong.
std::string WritePdf(const PrintDocument& document, const std::string& path);

// Shows the document full screen in the terminal until Esc or q.  Returns
// an empty text, or what went wrong (no terminal).
std::string ViewOnTerminal(const PrintDocument& document);

// The viewer's screen for a page, as the lines shown (UTF-8, each exactly
// `columns` wide on screen): the page's lines from `top`, from `left`, in
// `rows` - 1 rows, then the status line.  Pure, for tests.
std::vector<std::string> ViewerLines(const PrintDocument& document, int page, int top, int left, int rows,
                                     int columns);

}  // namespace kestrova::jobprint

// Paragraph layout: a text as fixed-width lines, with word wrap, first-line
// or hanging indent, alignment, and attribute bytes (codes below 32) that
// travel with the text without taking a column.  The letter merge formats
// every template line with it; the message window lays its message out with
// it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// Replaces `text` by its lines, concatenated, each `width` columns wide
// (attribute bytes not counted).
//   indent > 0: the first line starts after `indent` blanks;
//   indent < 0: the first line starts at the left and the following ones
//               after -indent blanks (a hanging indent).
//   align (first letter, any case):
//     E, L, I  blanks on the right          N  "-" on the right
//     D, R     blanks on the left           C  centred (the odd blank right)
//     A, B     justified: blanks go into the gaps left to right, a run at a
//              time; the paragraph's last line stays as it is
//     other    no padding
// A word longer than a line is cut at the line's end.  A line never exceeds
// the width: when the indent leaves no room (width at or below it), such a
// line starts at the left and holds one word, cut only when the word is
// longer than the width.  A width of 0 or less gives an empty text.
//
// Example: FormatParagraph(t = "aa bb cc", 0, 5, "L") gives "aa bbcc   ".
void FormatParagraph(std::string& text, int16_t indent, int16_t width, std::string_view align);

}  // namespace kestrova

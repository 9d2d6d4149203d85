// The list-input rules of the suite's text files (form definitions, message
// catalogues): items separated by commas or line ends, a text holding a comma
// enclosed in double quotes.
//
//   - blanks before an item are skipped; an unquoted item ends at a comma or
//     at the end of the line, without its trailing blanks;
//   - line feeds and tabs are dropped, except that a line feed with no
//     carriage return before it ends the line (files edited on this system
//     end their lines that way);
//   - an item that begins with a double quote runs to the closing quote and
//     may hold commas; whatever follows the closing quote up to the next
//     comma or line end is skipped;
//   - byte 26 (the old end-of-file mark) ends the input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

struct ListInput {
  std::string_view text;
  std::size_t pos = 0;
  int32_t line = 1;        // line of the next character
  int32_t itemLine = 1;    // line where the last item read began, for messages
  bool endMarkSeen = false;
};

enum class ItemStatus {
  kOk,
  kEnd,        // no item: the input ended before it
  kNotNumber,  // ReadNumberItem: the item is not a decimal number in range
};

ListInput MakeListInput(std::string_view text);

// True when nothing is left to read (the end of the text, or byte 26).
bool ListInputAtEnd(const ListInput& in);

// Skips whole comment lines: while the next line begins with an apostrophe,
// drops it.  Call only at the start of a line.
void SkipCommentLines(ListInput& in);

// Reads one text item.
ItemStatus ReadTextItem(ListInput& in, std::string& item);

// Reads one number item: an optional sign and decimal digits, surrounded by
// blanks; an empty item reads as 0.  kNotNumber when it holds anything else
// or lies outside 16 bits.
ItemStatus ReadNumberItem(ListInput& in, int16_t& value);

}  // namespace kestrova

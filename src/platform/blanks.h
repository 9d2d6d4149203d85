// Blanks around texts.  The suite's texts are padded with spaces to their
// field widths; "blank" here is the space only (a tab is an ordinary
// character), as everywhere in the suite.
#pragma once

#include <string_view>

namespace kestrova {

// The text without leading and trailing spaces.
std::string_view TrimBlanks(std::string_view text);

// The text without leading spaces.
std::string_view TrimLeadingBlanks(std::string_view text);

// The text without trailing spaces.
std::string_view TrimTrailingBlanks(std::string_view text);

}  // namespace kestrova

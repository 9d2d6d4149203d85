// The session language and the message catalogue.
#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// The job's name: it names the form definition and the message catalogue.
std::string& JobName();

// The translation of a Catalan text into the session language, or the text
// itself.
std::string TranslateText(std::string_view text);

}  // namespace kestrova

// What the console fuzz targets share: a scratch directory of their own for
// the job's temporary files, and a fresh session, screen, window stack and
// keyboard for every input, with the default colours and no way for the
// input to run dry into an exit.
#pragma once

#include <stdlib.h>

#include <string>

#include "console/keyboard.h"
#include "platform/screen.h"
#include "session/session.h"
#include "windows/windows.h"

namespace kestrova::fuzzing {

// `pattern` ends in XXXXXX; the directory is made once per fuzz target.
inline const std::string& ScratchDirectory(const char* pattern) {
  static const std::string dir = [pattern] {
    std::string name = pattern;
    const char* made = ::mkdtemp(name.data());
    return std::string(made != nullptr ? made : "/tmp") + "/";
  }();
  return dir;
}

// Returns the scratch directory, ending in a slash.
inline const std::string& ResetConsole(const char* scratchPattern) {
  ResetSessionForTesting();
  ResetScreenForTesting();
  ResetWindowsForTesting();
  ResetKeyboardForTesting();
  Session().jobTmp = ScratchDirectory(scratchPattern);
  Session().colourTable = ParseColourText(kDefaultColourText);
  Screen().inputGone = nullptr;
  return ScratchDirectory(scratchPattern);
}

}  // namespace kestrova::fuzzing

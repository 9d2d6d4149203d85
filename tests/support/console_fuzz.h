// What the console fuzz targets start every run from: a blank screen, no
// window, pending key or key map, and a Catalan session with the default
// colours whose work files (the window stack) go to a scratch directory
// made once per process.  When the fuzzed keys run out, the key reader
// answers Esc instead of ending the process.
#pragma once

#include <stdlib.h>

#include <string>

#include "console/key_map.h"
#include "console/keyboard.h"
#include "job/session.h"
#include "job/windows.h"
#include "platform/screen.h"

namespace kestrova::testing {

inline const std::string& FuzzScratchDirectory() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/kestrova-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return std::string(made != nullptr ? made : "/tmp") + "/";
  }();
  return dir;
}

inline void ResetConsoleForFuzzing() {
  ResetSessionForTesting();
  ResetScreenForTesting();
  ResetWindowsForTesting();
  ResetKeyboardForTesting();
  ResetKeyMapForTesting();
  Session().language = "CAT";
  Session().jobTmp = FuzzScratchDirectory();
  Session().colourTable = ParseColourText(kDefaultColourText);
  Screen().inputGone = nullptr;
  Screen().mouseButtons = 3;
}

}  // namespace kestrova::testing

// Shared set-up of the console tests: a blank in-memory screen, a session
// with the default colours and a temporary session directory (the window
// stack lives there), and keys typed from a key script.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "console/key_map.h"
#include "console/keyboard.h"
#include "platform/codepage.h"
#include "platform/headless.h"
#include "platform/screen.h"
#include "session/session.h"
#include "support/temp_dir.h"
#include "windows/windows.h"

namespace kestrova {

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSessionForTesting();
    ResetScreenForTesting();
    ResetWindowsForTesting();
    ResetKeyboardForTesting();
    ResetKeyMapForTesting();
    // When the script runs out the reader answers Esc instead of ending
    // the test process.
    Screen().inputGone = nullptr;
    Screen().mouseButtons = 3;
    Session().jobTmp = dir_.Path();
    Session().colourTable = ParseColourText(kDefaultColourText);
  }

  // Queues the events of a key script (headless syntax).
  void Type(std::string_view script) {
    std::vector<InputEvent> events;
    std::string problem;
    ASSERT_TRUE(ParseKeyScript(script, events, problem)) << problem;
    for (const InputEvent& e : events) Screen().input.push_back(e);
  }

  // Screen row as UTF-8 without trailing blanks.
  static std::string Row(int row) {
    std::string line = ScreenRowText(row);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
  }

  testing::TempDir dir_;
};

}  // namespace kestrova

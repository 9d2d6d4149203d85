#include "platform/headless.h"

#include <cctype>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/key_codes.h"

namespace kestrova {
namespace {

struct HeadlessState {
  std::deque<InputEvent> script;
  std::string screenFile;  // KESTROVA_SCREEN, written at exit
};

HeadlessState& Headless() {
  static HeadlessState state;
  return state;
}

void DeliverScriptedInput(ScreenState& screen, int) {
  HeadlessState& h = Headless();
  if (h.script.empty()) {
    screen.input.push_back({InputKind::kEnd});
    return;
  }
  screen.input.push_back(h.script.front());
  h.script.pop_front();
}

void WriteScreenFile() {
  std::string text;
  for (const std::string& line : ScreenTextLines()) text += line + "\n";
  // The file is UTF-8, as a terminal shows it; one that cannot be written
  // loses only the test's view of the screen.
  WriteWholeFile(Utf8ToCp850(Headless().screenFile), text);
}

// One "{...}" group without its braces.
bool ParseGroup(std::string_view group, std::vector<InputEvent>& events) {
  if (group == "{") {
    events.push_back({InputKind::kKey, '{'});
    return true;
  }
  if (group.substr(0, 6) == "Click ") {
    int numbers[2] = {0, 0};
    int count = 0;
    bool inNumber = false;
    for (char c : group.substr(6)) {
      if (c >= '0' && c <= '9') {
        if (!inNumber && ++count > 2) return false;
        inNumber = true;
        numbers[count - 1] = numbers[count - 1] * 10 + (c - '0');
        if (numbers[count - 1] > 999) return false;
      } else if (c == ' ') {
        inNumber = false;
      } else {
        return false;
      }
    }
    if (count != 2 || numbers[0] < 1 || numbers[0] > kScreenRows || numbers[1] < 1 ||
        numbers[1] > kScreenColumns) {
      return false;
    }
    events.push_back({InputKind::kMouse, 0, 0, kMouseLeftButton,
                      static_cast<int16_t>(numbers[0]), static_cast<int16_t>(numbers[1])});
    return true;
  }
  uint16_t modifiers = 0;
  while (group.size() > 2 && group[1] == '-') {
    const char m = group[0];
    if (m == 'S') {
      modifiers |= kShiftPressed;
    } else if (m == 'C') {
      modifiers |= kLeftCtrlPressed;
    } else if (m == 'A') {
      modifiers |= kLeftAltPressed;
    } else {
      return false;
    }
    group.remove_prefix(2);
  }
  uint16_t key = NamedKeyCode(group);
  if (key == 0) {
    // A single character, possibly with modifiers.
    const std::string one = Utf8ToCp850(group);
    if (one.size() != 1) return false;
    const char c = one[0];
    key = static_cast<uint8_t>(c);
    if ((modifiers & kLeftAltPressed) != 0 && AltLetterCode(c) != 0) {
      key = AltLetterCode(c);
    } else if ((modifiers & kLeftAltPressed) != 0 && KeypadDigitCode(c) != 0) {
      key = KeypadDigitCode(c);
    } else if ((modifiers & kLeftCtrlPressed) != 0 && std::isalpha(static_cast<unsigned char>(c))) {
      key = static_cast<uint16_t>(std::toupper(static_cast<unsigned char>(c)) - 'A' + 1);
    }
  } else if (key == kKeyTab && (modifiers & kShiftPressed) != 0) {
    key = kKeyShiftTab;
  }
  events.push_back({InputKind::kKey, key, modifiers});
  return true;
}

}  // namespace

bool ParseKeyScript(std::string_view script, std::vector<InputEvent>& events,
                    std::string& problem) {
  std::size_t i = 0;
  while (i < script.size()) {
    const char c = script[i];
    if (c == '\r' || c == '\n') {
      ++i;
    } else if (c == '{') {
      // "{{}" is the one group that holds a brace.
      const std::size_t close = script.compare(i, 3, "{{}") == 0 ? i + 2 : script.find('}', i + 1);
      if (close == std::string_view::npos) {
        problem = "unclosed \"{\" in the key script: " + std::string(script.substr(i, 20));
        return false;
      }
      const std::string_view group = script.substr(i + 1, close - i - 1);
      if (!ParseGroup(group, events)) {
        problem = "unknown key in the key script: {" + std::string(group) + "}";
        return false;
      }
      i = close + 1;
    } else {
      std::size_t next = i;
      const char32_t cp = codepage_detail::DecodeUtf8(script.data(), script.size(), next);
      const int byte = cp == 0xFFFFFFFF || (cp >= 0x80 && Cp850FromCodePoint(cp) < 32)
                           ? -1
                           : Cp850FromCodePoint(cp);
      // A character the code page cannot hold is typed as such, as the
      // terminal reports it, so scripts can test its refusal.
      events.push_back({InputKind::kKey, byte < 0 ? kUnmappableCharacterKey : static_cast<uint16_t>(byte)});
      i = next;
    }
  }
  return true;
}

void StartHeadlessConsole(std::vector<InputEvent> events) {
  Headless().script.assign(events.begin(), events.end());
  ScreenState& screen = Screen();
  screen.backend = ScreenBackend{};
  screen.backend.waitInput = DeliverScriptedInput;
  // The script stands for keys the operator types later: a flush (after a
  // message, say) must not swallow the rest of it.
  screen.backend.inputIsScripted = true;
  screen.mouseButtons = 3;  // scripts click with {Click ROW COL}
}

void StartHeadlessConsoleFromEnvironment() {
  std::vector<InputEvent> events;
  const std::string keysFile = GetEnvironment("KESTROVA_KEYS");
  if (!keysFile.empty()) {
    std::string script;
    if (!ReadWholeFile(keysFile, script)) FatalError(keysFile, "the key script cannot be read");
    std::string problem;
    if (!ParseKeyScript(script, events, problem)) FatalError(keysFile, Utf8ToCp850(problem));
  }
  StartHeadlessConsole(std::move(events));
  const std::string screenFile = Cp850ToUtf8(GetEnvironment("KESTROVA_SCREEN"));
  if (!screenFile.empty()) {
    // The job makes its root the current directory later: a relative name
    // means where the job was started.
    std::error_code ignored;
    Headless().screenFile = std::filesystem::absolute(screenFile, ignored).string();
    RegisterExitHook(WriteScreenFile);
  }
}

std::vector<std::string> ScreenTextLines() {
  std::vector<std::string> lines;
  for (int row = 1; row <= kScreenRows; ++row) {
    std::string line = ScreenRowText(row);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace kestrova

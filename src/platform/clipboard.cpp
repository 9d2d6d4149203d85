#include "platform/clipboard.h"

#include <cstdio>
#include <sys/wait.h>

#include "platform/codepage.h"
#include "platform/host.h"
#include "platform/screen.h"

namespace kestrova {
namespace {

struct ClipboardState {
  std::string text;  // what this process copied last
};

ClipboardState& Clipboard() {
  static ClipboardState state;
  return state;
}

// More than a field could ever hold; a desktop clipboard holding a film is
// not read whole.
constexpr std::size_t kLongestClipboard = 65536;

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                       static_cast<uint8_t>(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kDigits[(v >> s) & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// The output of a paste command, or false when it could not run or failed.
bool RunPasteCommand(const char* command, std::string& out) {
  FILE* pipe = ::popen(command, "r");
  if (pipe == nullptr) return false;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (out.size() < kLongestClipboard) out.append(buffer, n);
  }
  const int status = ::pclose(pipe);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::string Osc52Sequence(std::string_view text) {
  return "\x1b]52;c;" + Base64(Cp850ToUtf8(text)) + "\x07";
}

void SetClipboardText(std::string_view text) {
  Clipboard().text = std::string(text);
  const ScreenState& screen = Screen();
  if (screen.backend.sendRaw != nullptr) screen.backend.sendRaw(Osc52Sequence(text));
}

std::string GetClipboardText() {
  // The commands read nothing from the terminal and say nothing on it.
  std::string utf8;
  if (!GetEnvironment("WAYLAND_DISPLAY").empty() &&
      RunPasteCommand("wl-paste --no-newline </dev/null 2>/dev/null", utf8)) {
    return Utf8ToCp850(utf8);
  }
  utf8.clear();
  if (!GetEnvironment("DISPLAY").empty() &&
      RunPasteCommand("xclip -selection clipboard -o </dev/null 2>/dev/null", utf8)) {
    return Utf8ToCp850(utf8);
  }
  return Clipboard().text;
}

void ResetClipboardForTesting() { Clipboard() = ClipboardState{}; }

}  // namespace kestrova

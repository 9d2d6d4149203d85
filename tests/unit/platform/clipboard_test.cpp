#include "platform/clipboard.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/codepage.h"
#include "platform/screen.h"

namespace kestrova {
namespace {

TEST(Clipboard, Osc52CarriesUtf8InBase64) {
  const struct {
    std::string_view text;
    const char* want;
  } cases[] = {
      {"", "\x1b]52;c;\x07"},
      {"a", "\x1b]52;c;YQ==\x07"},
      {"ab", "\x1b]52;c;YWI=\x07"},
      {"abc", "\x1b]52;c;YWJj\x07"},
      {"1250,00 €"_cp, "\x1b]52;c;MTI1MCwwMCDigqw=\x07"},
  };
  for (const auto& c : cases) EXPECT_EQ(Osc52Sequence(c.text), c.want) << c.text;
}

std::string* gSent;
void CaptureRaw(std::string_view bytes) { *gSent += bytes; }

TEST(Clipboard, WithoutADesktopTheProcessCopyComesBack) {
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  ResetClipboardForTesting();
  ResetScreenForTesting();
  std::string sent;
  gSent = &sent;
  Screen().backend.sendRaw = CaptureRaw;
  EXPECT_EQ(GetClipboardText(), "");
  SetClipboardText("Preu"_cp);
  EXPECT_EQ(GetClipboardText(), "Preu");
  EXPECT_EQ(sent, Osc52Sequence("Preu"));
  ResetScreenForTesting();
}

}  // namespace
}  // namespace kestrova

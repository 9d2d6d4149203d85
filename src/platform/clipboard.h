// The clipboard the line editor copies to (Ctrl-C) and pastes from (Ctrl-V).
//
// Copying keeps the text in the process and hands it to the terminal with
// OSC 52, which xterm, kitty, foot, iTerm2 and tmux (with set-clipboard on)
// put on the desktop's clipboard, over ssh too.  Pasting asks the desktop
// (wl-paste under Wayland, xclip under X) when one is there, else gives the
// text copied in this process.  Texts are code page 850.
#pragma once

#include <string>
#include <string_view>

namespace kestrova {

void SetClipboardText(std::string_view text);
std::string GetClipboardText();

// The OSC 52 sequence that sets the terminal's clipboard to a code page 850
// text (sent as UTF-8, base64-encoded).
std::string Osc52Sequence(std::string_view text);

// Forgets the in-process copy (tests).
void ResetClipboardForTesting();

}  // namespace kestrova

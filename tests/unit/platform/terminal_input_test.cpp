#include "platform/terminal_input.h"

#include "platform/key_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova {
namespace {

InputEvent Key(uint16_t key, uint16_t modifiers = 0) { return {InputKind::kKey, key, modifiers}; }
InputEvent Click(int16_t button, int16_t row, int16_t column, uint16_t modifiers = 0) {
  return {InputKind::kMouse, 0, modifiers, button, row, column};
}
const InputEvent kAltReleased = Key(0);

// Feeds the chunks one after the other, then lets the Escape delay pass.
std::vector<InputEvent> Decode(std::vector<std::string> chunks, bool timeout = true) {
  TerminalDecoder decoder;
  std::vector<InputEvent> events;
  for (const std::string& c : chunks) DecodeTerminalInput(decoder, c, events);
  if (timeout) DecodeTerminalTimeout(decoder, events);
  return events;
}

TEST(TerminalDecoder, SequencesAndTheirEvents) {
  const struct {
    const char* what;
    std::vector<std::string> chunks;
    std::vector<InputEvent> want;
  } cases[] = {
      {"text", {"ab1"}, {Key('a'), Key('b'), Key('1')}},
      {"split CSI", {"\x1b[", "1;5", "P"}, {Key(0x3B00, kLeftCtrlPressed)}},
      {"split UTF-8", {"\xc3", "\xa0"}, {Key(0x85)}},
      {"two keys in one read", {"\x1b[A\x1b[B"}, {Key(0x4800), Key(0x5000)}},
      {"Esc then a letter later", {"\x1b"}, {Key(27)}},
      {"Esc Esc", {"\x1b\x1b"}, {Key(27), Key(27)}},
      {"Esc Esc x", {"\x1b\x1bx"}, {Key(27), Key(0x2D00, kLeftAltPressed)}},
      {"Alt-[ (ESC [ alone)", {"\x1b["}, {Key('[', kLeftAltPressed)}},
      {"cut-off CSI is dropped", {"\x1b[1;"}, {}},
      {"unknown CSI is ignored", {"\x1b[99~x"}, {Key('x')}},
      {"focus report is ignored", {"\x1b[I\x1b[Oy"}, {Key('y')}},
      {"control byte inside a CSI", {"\x1b[1\rz"}, {Key(13), Key('z')}},
      {"Ctrl-C is a key", {"\x03"}, {Key(3, kLeftCtrlPressed)}},
      {"Ctrl-Space gives nothing", {std::string(1, '\0')}, {}},
      {"Latin-1 byte", {"\xe9"}, {Key(0x82)}},
      {"Latin-1 byte before text", {"\xe9z"}, {Key(0x82), Key('z')}},
      {"character outside the code page", {"日x"}, {Key(kUnmappableCharacterKey), Key('x')}},
      {"PC glyph is not a control key", {"►"}, {Key(kUnmappableCharacterKey)}},
      // Typing a character by its code: Alt-1 Alt-3 Alt-0, then the first
      // other key is preceded by "Alt released".
      {"Alt digits", {"\x1b" "1\x1b" "3\x1b" "0", "q"},
       {Key(0x4F00, kLeftAltPressed), Key(0x5100, kLeftAltPressed), Key(0x5200, kLeftAltPressed),
        kAltReleased, Key('q')}},
      {"Alt digits, then Alt-letter", {"\x1b" "5\x1bx"},
       {Key(0x4C00, kLeftAltPressed), kAltReleased, Key(0x2D00, kLeftAltPressed)}},
      {"Alt-Down is no digit", {"\x1b[1;3B"}, {Key(0x5000, kRightAltPressed)}},
      {"mouse press", {"\x1b[<0;10;5M"}, {Click(1, 5, 10)}},
      {"right press with Ctrl", {"\x1b[<18;80;25M"}, {Click(2, 25, 80, kLeftCtrlPressed)}},
      {"middle press", {"\x1b[<1;1;1M"}, {Click(4, 1, 1)}},
      {"release, motion, wheel", {"\x1b[<0;10;5m\x1b[<32;10;5M\x1b[<64;10;5M"}, {}},
      {"press outside the grid", {"\x1b[<0;81;5M\x1b[<0;5;26M"}, {}},
      {"paste", {"\x1b[200~a\xc3\xa9\r\nb\tc\r\n\x1b[201~"},
       {Key('a'), Key(0x82), Key(' '), Key(' '), Key('b'), Key(' '), Key('c')}},
      {"paste split across reads", {"\x1b[200~ab", "c\x1b[2", "01~d"}, {Key('a'), Key('b'), Key('c'), Key('d')}},
      {"paste keeps escapes as text", {"\x1b[200~\x1b[A\x1b[201~"}, {Key(' '), Key('['), Key('A')}},
      {"unfinished paste is delivered", {"\x1b[200~xy"}, {Key('x'), Key('y')}},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.chunks), c.want) << c.what;
}

TEST(TerminalDecoder, WaitsForTheRestOfASequence) {
  TerminalDecoder decoder;
  std::vector<InputEvent> events;
  EXPECT_EQ(DecoderWaitMs(decoder), -1);
  DecodeTerminalInput(decoder, "\x1b", events);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(DecoderWaitMs(decoder), kEscapeDelayMs);
  DecodeTerminalInput(decoder, "[200~", events);
  EXPECT_EQ(DecoderWaitMs(decoder), kPasteDelayMs);
  DecodeTerminalInput(decoder, "z\x1b[201~", events);
  EXPECT_EQ(events, std::vector<InputEvent>{Key('z')});
  EXPECT_EQ(DecoderWaitMs(decoder), -1);
}

TEST(TerminalDecoder, APauseAfterAltDigitsEndsTheEntry) {
  // A real terminal never reports that Alt was let go: without the pause
  // the character typed by its code would only appear with the next key.
  TerminalDecoder decoder;
  std::vector<InputEvent> events;
  DecodeTerminalInput(decoder, "\x1b" "1", events);
  EXPECT_EQ(DecoderWaitMs(decoder), kAltDigitPauseMs) << "the entry waits for its next digit";
  EXPECT_GT(kAltDigitPauseMs, kEscapeDelayMs) << "digits typed by hand are further apart";
  DecodeTerminalInput(decoder, "\x1b" "3", events);
  DecodeTerminalInput(decoder, "\x1b" "0", events);
  ASSERT_EQ(events.size(), 3u) << "one code, still open";
  DecodeTerminalTimeout(decoder, events);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[3], kAltReleased);
  EXPECT_EQ(DecoderWaitMs(decoder), -1) << "closed once";
  DecodeTerminalTimeout(decoder, events);
  EXPECT_EQ(events.size(), 4u);
  // A key after the pause starts afresh: no second "Alt released".
  DecodeTerminalInput(decoder, "q", events);
  EXPECT_EQ(events.back(), Key('q'));
  EXPECT_EQ(events.size(), 5u);
  // An Escape begun after a digit still gets its own short delay first.
  DecodeTerminalInput(decoder, "\x1b" "5\x1b", events);
  EXPECT_EQ(DecoderWaitMs(decoder), kEscapeDelayMs);
}

TEST(TerminalDecoder, AnyBytesEndWithoutHangingOrGrowing) {
  // Every byte value after ESC and after ESC [, and a long paste.
  for (int b = 0; b < 256; ++b) {
    for (const std::string prefix : {"", "\x1b", "\x1b[", "\x1bO", "\x1b[<"}) {
      TerminalDecoder decoder;
      std::vector<InputEvent> events;
      DecodeTerminalInput(decoder, prefix + std::string(1, static_cast<char>(b)) + "k", events);
      DecodeTerminalTimeout(decoder, events);
      EXPECT_TRUE(decoder.pending.empty()) << b;
      EXPECT_LE(events.size(), 4u) << b;
    }
  }
  TerminalDecoder decoder;
  std::vector<InputEvent> events;
  DecodeTerminalInput(decoder, "\x1b[200~", events);
  for (int i = 0; i < 100; ++i) DecodeTerminalInput(decoder, std::string(4096, 'x'), events);
  EXPECT_LE(decoder.paste.size(), 65536u + 4096u);
}

}  // namespace
}  // namespace kestrova

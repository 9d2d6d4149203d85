#include "platform/terminal_input.h"

#include <cstdint>

#include "platform/codepage.h"
#include "platform/key_codes.h"

namespace kestrova {
namespace {

constexpr char kEsc = '\x1b';
constexpr std::size_t kIncomplete = 0;
// A sequence longer than this without its final byte is garbage.
constexpr std::size_t kLongestSequence = 32;
// More pasted text than this is dropped rather than held in memory.
constexpr std::size_t kLongestPaste = 65536;
constexpr std::string_view kPasteEnd = "\x1b[201~";

// Appends an event; the first event that is not an Alt+digit after a run of
// them is preceded by "Alt released", which ends the typing by code.
void Emit(TerminalDecoder& d, std::vector<InputEvent>& out, InputEvent event, bool altDigit = false) {
  if (d.altDigitRun && !altDigit) out.push_back({InputKind::kKey, 0, 0});
  d.altDigitRun = altDigit;
  out.push_back(event);
}

// Modifier bits from xterm's modifier parameter (1 + Shift 1, Alt 2, Ctrl 4,
// Meta 8).  Alt with an extended key is reported as the right Alt key: only
// the left one types characters by their code.
uint16_t ModifierBits(int parameter) {
  const int bits = parameter > 1 ? parameter - 1 : 0;
  uint16_t m = 0;
  if (bits & 1) m |= kShiftPressed;
  if (bits & (2 | 8)) m |= kRightAltPressed;
  if (bits & 4) m |= kLeftCtrlPressed;
  return m;
}

uint16_t TildeKey(int n) {
  switch (n) {
    case 1: case 7: return kKeyHome;
    case 2: return kKeyIns;
    case 3: return kKeyDel;
    case 4: case 8: return kKeyEnd;
    case 5: return kKeyPgUp;
    case 6: return kKeyPgDn;
    case 11: case 12: case 13: case 14: case 15: return FunctionKeyCode(n - 10);
    case 17: case 18: case 19: case 20: case 21: return FunctionKeyCode(n - 11);
    case 23: return kKeyF11;
    case 24: return kKeyF12;
    default: return 0;
  }
}

// The key of a final letter of CSI 1;m X or SS3 X.
uint16_t LetterKey(char final) {
  switch (final) {
    case 'A': return kKeyUp;
    case 'B': return kKeyDown;
    case 'C': return kKeyRight;
    case 'D': return kKeyLeft;
    case 'E': return kKeyKeypad5;
    case 'F': return kKeyEnd;
    case 'H': return kKeyHome;
    case 'P': case 'Q': case 'R': case 'S': return FunctionKeyCode(final - 'P' + 1);
    default: return 0;
  }
}

struct Sequence {
  char prefix = 0;       // '<', '?', '>' or 0
  int params[4] = {0, 0, 0, 0};
  int count = 0;         // parameters present
  char final = 0;
  std::size_t length = 0;
  bool broken = false;   // not a sequence we can read; `length` bytes dropped
};

// Reads "params final" from buf[at]; length 0 while incomplete.
Sequence ReadSequence(std::string_view buf, std::size_t at) {
  Sequence s;
  std::size_t i = at;
  if (i < buf.size() && (buf[i] == '<' || buf[i] == '?' || buf[i] == '>')) s.prefix = buf[i++];
  bool inNumber = false;
  for (; i < buf.size(); ++i) {
    const char c = buf[i];
    if (c >= '0' && c <= '9') {
      if (!inNumber) {
        inNumber = true;
        if (s.count < 4) ++s.count;
      }
      int& p = s.params[s.count - 1];
      if (p < 100000) p = p * 10 + (c - '0');
    } else if (c == ';') {
      if (!inNumber && s.count < 4) ++s.count;  // an empty parameter
      inNumber = false;
    } else if (c == '$' || (c >= 0x40 && c <= 0x7E)) {
      s.final = c;
      s.length = i + 1;
      return s;
    } else if (c >= 0x20 && c <= 0x2F) {
      // Intermediate bytes: none of the keys we read use them.
    } else {
      s.broken = true;  // a control byte inside: drop what came before it
      s.length = i;
      return s;
    }
    if (i - at >= kLongestSequence) {
      s.broken = true;
      s.length = i + 1;
      return s;
    }
  }
  return s;  // incomplete
}

// One character (code page 850) with its modifiers, or nothing when the
// code page has no place for it.
void EmitCharacter(TerminalDecoder& d, std::vector<InputEvent>& out, char32_t cp, uint16_t mods) {
  const int byte = Cp850FromCodePoint(cp);
  // The PC glyphs of control bytes are not typed as control keys.
  if (byte < 0 || (cp >= 0x80 && byte < 32)) {
    Emit(d, out, {InputKind::kKey, kUnmappableCharacterKey, mods});
    return;
  }
  Emit(d, out, {InputKind::kKey, static_cast<uint16_t>(byte), mods});
}

// One UTF-8 character at buf[at]: bytes used (0 while incomplete).  A byte
// that starts no UTF-8 sequence is taken as Latin-1.
std::size_t ReadCharacter(std::string_view buf, std::size_t at, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(buf[at]);
  const int extra = (b0 >> 5) == 0x6 ? 1 : (b0 >> 4) == 0xE ? 2 : (b0 >> 3) == 0x1E ? 3 : 0;
  if (b0 < 0x80 || extra == 0) {
    cp = b0;
    return 1;
  }
  if (at + static_cast<std::size_t>(extra) >= buf.size()) {
    // Incomplete, unless a byte already seen cannot continue it.
    for (std::size_t k = at + 1; k < buf.size(); ++k) {
      if ((static_cast<unsigned char>(buf[k]) & 0xC0) != 0x80) {
        cp = b0;
        return 1;
      }
    }
    return kIncomplete;
  }
  std::size_t i = at;
  cp = codepage_detail::DecodeUtf8(buf.data(), buf.size(), i);
  if (cp == 0xFFFFFFFF) {
    cp = b0;
    return 1;
  }
  return i - at;
}

void EmitMouse(TerminalDecoder& d, std::vector<InputEvent>& out, const Sequence& s) {
  // Presses only: releases, motion and the wheel are not reported.
  if (s.final != 'M' || s.count < 3) return;
  const int b = s.params[0];
  if ((b & (32 | 64 | 128)) != 0) return;
  static constexpr int16_t kButtons[4] = {kMouseLeftButton, kMouseMiddleButton, kMouseRightButton, 0};
  const int16_t button = kButtons[b & 3];
  const int column = s.params[1], row = s.params[2];
  if (button == 0 || row < 1 || row > kScreenRows || column < 1 || column > kScreenColumns) return;
  uint16_t mods = 0;
  if (b & 4) mods |= kShiftPressed;
  if (b & 8) mods |= kRightAltPressed;
  if (b & 16) mods |= kLeftCtrlPressed;
  Emit(d, out, {InputKind::kMouse, 0, mods, button, static_cast<int16_t>(row), static_cast<int16_t>(column)});
}

// CSI (after "ESC [") and SS3 (after "ESC O") sequences.
void EmitSequence(TerminalDecoder& d, std::vector<InputEvent>& out, const Sequence& s, bool ss3,
                  uint16_t extraMods) {
  if (s.broken) return;
  if (!ss3 && s.prefix == '<' && (s.final == 'M' || s.final == 'm')) {
    EmitMouse(d, out, s);
    return;
  }
  if (s.prefix != 0) return;  // replies and modes we did not ask for
  const int modParam = s.count >= 2 ? s.params[1] : (ss3 && s.count == 1 ? s.params[0] : 0);
  uint16_t mods = static_cast<uint16_t>(ModifierBits(modParam) | extraMods);
  uint16_t key = 0;
  switch (s.final) {
    case '~': case '$': case '^': case '@':
      if (ss3) return;
      if (s.params[0] == 200 && s.final == '~') {
        d.inPaste = true;
        return;
      }
      key = TildeKey(s.params[0]);
      // rxvt marks Shift and Ctrl by the final byte.
      if (s.final == '$' || s.final == '@') mods |= kShiftPressed;
      if (s.final == '^' || s.final == '@') mods |= kLeftCtrlPressed;
      break;
    case 'Z':
      key = kKeyShiftTab;
      mods |= kShiftPressed;
      break;
    case 'a': case 'b': case 'c': case 'd':
      // rxvt: Shift+arrows as CSI a..d, Ctrl+arrows as SS3 a..d.
      key = LetterKey(static_cast<char>(s.final - 'a' + 'A'));
      mods |= ss3 ? kLeftCtrlPressed : kShiftPressed;
      break;
    case 'M':
      if (ss3) key = kKeyEnter;  // keypad Enter in application mode
      break;
    default:
      if (ss3 && s.final >= 'p' && s.final <= 'y') {
        EmitCharacter(d, out, static_cast<char32_t>('0' + s.final - 'p'), mods);
        return;
      }
      key = LetterKey(s.final);
      break;
  }
  if (key != 0) Emit(d, out, {InputKind::kKey, key, mods});
}

std::size_t DecodeOne(TerminalDecoder& d, std::string_view buf, std::size_t at,
                      std::vector<InputEvent>& out, bool alt);

// After an ESC at buf[at].
std::size_t DecodeEscape(TerminalDecoder& d, std::string_view buf, std::size_t at,
                         std::vector<InputEvent>& out, bool alt) {
  if (at + 1 >= buf.size()) return kIncomplete;
  const char next = buf[at + 1];
  if (next == '[' || next == 'O') {
    // The Linux console writes F1..F5 as ESC [ [ A..E.
    if (next == '[' && at + 2 < buf.size() && buf[at + 2] == '[') {
      if (at + 3 >= buf.size()) return kIncomplete;
      const char f = buf[at + 3];
      if (f >= 'A' && f <= 'E') Emit(d, out, {InputKind::kKey, FunctionKeyCode(f - 'A' + 1), 0});
      return 4;
    }
    const Sequence s = ReadSequence(buf, at + 2);
    if (s.length == 0) return kIncomplete;
    EmitSequence(d, out, s, next == 'O', alt ? kRightAltPressed : 0);
    return s.length - at;
  }
  if (next == kEsc && !alt) {
    // ESC ESC [ ... is Alt with a cursor or function key; otherwise the first
    // ESC was the Escape key by itself.
    if (at + 2 >= buf.size()) return kIncomplete;
    if (buf[at + 2] == '[' || buf[at + 2] == 'O') {
      const std::size_t used = DecodeEscape(d, buf, at + 1, out, true);
      return used == kIncomplete ? kIncomplete : used + 1;
    }
    Emit(d, out, {InputKind::kKey, kKeyEscape, 0});
    return 1;
  }
  // ESC before a key is Alt with that key.
  const std::size_t used = DecodeOne(d, buf, at + 1, out, true);
  return used == kIncomplete ? kIncomplete : used + 1;
}

// Decodes one key at buf[at]; the bytes used, or 0 while incomplete.
std::size_t DecodeOne(TerminalDecoder& d, std::string_view buf, std::size_t at,
                      std::vector<InputEvent>& out, bool alt) {
  const auto c = static_cast<unsigned char>(buf[at]);
  const uint16_t altChar = alt ? kLeftAltPressed : 0;
  if (c == static_cast<unsigned char>(kEsc)) return DecodeEscape(d, buf, at, out, alt);
  if (c == '\r') {
    Emit(d, out, {InputKind::kKey, kKeyEnter, alt ? kRightAltPressed : uint16_t{0}});
  } else if (c == '\t') {
    Emit(d, out, {InputKind::kKey, kKeyTab, alt ? kRightAltPressed : uint16_t{0}});
  } else if (c == 127 || c == 8) {
    Emit(d, out, {InputKind::kKey, kKeyBackspace, alt ? kRightAltPressed : uint16_t{0}});
  } else if (c == 0) {
    // Ctrl-Space: no key of the PC keyboard gives code 0.
  } else if (c < 32) {
    Emit(d, out, {InputKind::kKey, c, static_cast<uint16_t>(kLeftCtrlPressed | altChar)});
  } else if (alt && AltLetterCode(static_cast<char>(c)) != 0) {
    Emit(d, out, {InputKind::kKey, AltLetterCode(static_cast<char>(c)), kLeftAltPressed});
  } else if (alt && c >= '0' && c <= '9') {
    Emit(d, out, {InputKind::kKey, KeypadDigitCode(static_cast<char>(c)), kLeftAltPressed}, true);
  } else {
    char32_t cp = 0;
    const std::size_t used = ReadCharacter(buf, at, cp);
    if (used == kIncomplete) return kIncomplete;
    EmitCharacter(d, out, cp, altChar);
    return used;
  }
  return 1;
}

// Pasted text as typed characters: control characters become blanks, the
// line ends at its end are dropped.
void EmitPaste(TerminalDecoder& d, std::vector<InputEvent>& out) {
  std::string text = std::move(d.paste);
  d.paste.clear();
  d.inPaste = false;
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp = 0;
    const std::size_t used = ReadCharacter(text, i, cp);
    if (used == kIncomplete) break;  // a character cut off at the end
    i += used;
    EmitCharacter(d, out, cp < 32 || cp == 127 ? U' ' : cp, 0);
  }
}

}  // namespace

int DecoderWaitMs(const TerminalDecoder& decoder) {
  if (decoder.inPaste) return kPasteDelayMs;
  if (!decoder.pending.empty()) return kEscapeDelayMs;
  // An open Alt+digit entry is closed by a pause, as a lone ESC is.
  return decoder.altDigitRun ? kAltDigitPauseMs : -1;
}

void DecodeTerminalInput(TerminalDecoder& d, std::string_view bytes, std::vector<InputEvent>& out) {
  d.pending.append(bytes);
  std::size_t at = 0;
  while (at < d.pending.size()) {
    if (d.inPaste) {
      const std::string_view rest = std::string_view(d.pending).substr(at);
      const std::size_t end = rest.find(kPasteEnd);
      // Keep back what could be the start of the end marker.
      const std::size_t take =
          end != std::string_view::npos ? end
          : rest.size() > kPasteEnd.size() ? rest.size() - kPasteEnd.size() : 0;
      if (d.paste.size() < kLongestPaste) d.paste.append(rest.substr(0, take));
      at += take;
      if (end == std::string_view::npos) break;
      at += kPasteEnd.size();
      EmitPaste(d, out);
      continue;
    }
    const std::size_t used = DecodeOne(d, d.pending, at, out, false);
    if (used == kIncomplete) break;
    at += used;
  }
  d.pending.erase(0, at);
}

void DecodeTerminalTimeout(TerminalDecoder& d, std::vector<InputEvent>& out) {
  // Nothing follows a run of Alt+digits: the operator has let go of Alt,
  // and the character typed by its code is due now, not at the next key.
  if (d.pending.empty() && !d.inPaste && d.altDigitRun) {
    d.altDigitRun = false;
    out.push_back({InputKind::kKey, 0, 0});
    return;
  }
  if (d.inPaste) {
    d.paste.append(d.pending);
    d.pending.clear();
    EmitPaste(d, out);
    return;
  }
  while (!d.pending.empty()) {
    const std::string rest = d.pending;
    d.pending.clear();
    if (rest[0] == kEsc && rest.size() == 1) {
      Emit(d, out, {InputKind::kKey, kKeyEscape, 0});
    } else if (rest[0] == kEsc && rest[1] == kEsc) {
      Emit(d, out, {InputKind::kKey, kKeyEscape, 0});
      DecodeTerminalInput(d, std::string_view(rest).substr(1), out);
    } else if (rest[0] == kEsc && rest.size() == 2 && (rest[1] == '[' || rest[1] == 'O')) {
      Emit(d, out, {InputKind::kKey, rest[1] == 'O' ? AltLetterCode('O') : uint16_t{'['},
                    kLeftAltPressed});
    } else if (static_cast<unsigned char>(rest[0]) >= 0x80) {
      // The start of a UTF-8 character that never came whole: a terminal
      // sending Latin-1.
      EmitCharacter(d, out, static_cast<unsigned char>(rest[0]), 0);
      DecodeTerminalInput(d, std::string_view(rest).substr(1), out);
    }
    // Anything else is a sequence cut off: dropped.
  }
}

}  // namespace kestrova

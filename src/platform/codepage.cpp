#include "platform/codepage.h"

namespace kestrova {

char32_t Cp850ToCodePoint(uint8_t byte) {
  if (byte < 0x80) return byte;
  return codepage_detail::kHighHalf[byte - 0x80];
}

char32_t Cp850DisplayCodePoint(uint8_t byte) {
  if (byte < 0x20) return codepage_detail::kControlGlyphs[byte];
  if (byte == 0x7F) return codepage_detail::kDeleteGlyph;
  return Cp850ToCodePoint(byte);
}

int Cp850FromCodePoint(char32_t codePoint) {
  return codepage_detail::ByteForCodePoint(codePoint);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Cp850ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) AppendUtf8(out, Cp850ToCodePoint(static_cast<uint8_t>(c)));
  return out;
}

std::string Utf8ToCp850(std::string_view text, char replacement) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char32_t cp = codepage_detail::DecodeUtf8(text.data(), text.size(), i);
    // Only text characters convert here; the PC glyphs of control bytes are
    // for compile-time literals, never for what comes from outside.
    int byte = -1;
    if (cp != 0xFFFFFFFF) {
      if (cp < 0x80) {
        byte = static_cast<int>(cp);
      } else {
        for (int k = 0; k < 128; ++k) {
          if (codepage_detail::kHighHalf[k] == cp) byte = 128 + k;
        }
        if (cp == 0x0131) byte = 213;
      }
    }
    out.push_back(byte < 0 ? replacement : static_cast<char>(byte));
  }
  return out;
}

char UpperAnsi(char c) {
  const auto b = static_cast<uint8_t>(c);
  if (b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
  // Latin-1 letters of code page 1252; 0xF7 is the division sign and 0xDF
  // (sharp s) has no single upper case.
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<char>(b - 32);
  switch (b) {
    case 0x9A: return static_cast<char>(0x8A);  // s caron
    case 0x9C: return static_cast<char>(0x8C);  // oe
    case 0x9E: return static_cast<char>(0x8E);  // z caron
    case 0xFF: return static_cast<char>(0x9F);  // y diaeresis
    default: return c;
  }
}

std::string UpperAnsi(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperAnsi(c);
  return out;
}

}  // namespace kestrova

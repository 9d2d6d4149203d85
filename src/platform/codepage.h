// Code page 850 (with the euro sign of code page 858 at byte 213) and the
// conversions at the edges of the job.
//
// Every text inside the job is a byte string in code page 850, the code page
// of the record files and of the job's own literals.  Conversions to and from
// UTF-8 happen only where a text leaves or enters the job: the terminal, key
// input, environment values and file names.
//
// Literals with accents are written in UTF-8 in the source and turned into
// code page 850 at compile time:
//
//   constexpr std::string_view kTitle = "PÀGINA"_cp;   // 'P', 0xB7, 'G', ...
//
// A literal holding a character that code page 850 cannot show does not
// compile.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

namespace codepage_detail {

// Unicode code points of bytes 128..255.  Byte 213 is the dotless i in code
// page 850; the suite's installations use it for the euro sign (code page
// 858), so it is shown and typed as the euro.
inline constexpr char32_t kHighHalf[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x20AC, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

// Glyphs the console shows for the control bytes 1..31 and 127 (the PC
// character set).  The job draws some of them on purpose: the choice-list
// markers are bytes 17 (left) and 16 (right).
inline constexpr char32_t kControlGlyphs[32] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};
inline constexpr char32_t kDeleteGlyph = 0x2302;

// The byte for a code point, or -1 when code page 850 has none.  Text
// characters map first; the PC glyphs of the control bytes are accepted so
// that a literal may name the markers the job draws (U+25C4, U+25BA).
constexpr int ByteForCodePoint(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  for (int i = 0; i < 128; ++i) {
    if (kHighHalf[i] == cp) return 128 + i;
  }
  if (cp == 0x0131) return 213;  // the dotless i of plain code page 850
  for (int i = 1; i < 32; ++i) {
    if (kControlGlyphs[i] == cp) return i;
  }
  return -1;
}

// Decodes one UTF-8 sequence at text[i]; advances i.  Returns 0xFFFFFFFF on a
// malformed sequence (i advances by one byte).
constexpr char32_t DecodeUtf8(const char* text, std::size_t size, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  const int extra = (b0 >> 5) == 0x6 ? 1 : (b0 >> 4) == 0xE ? 2 : (b0 >> 3) == 0x1E ? 3 : -1;
  if (extra < 0 || i + static_cast<std::size_t>(extra) >= size) {
    ++i;
    return 0xFFFFFFFF;
  }
  char32_t cp = extra == 1 ? (b0 & 0x1F) : extra == 2 ? (b0 & 0x0F) : (b0 & 0x07);
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFFFFFF;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

template <std::size_t N>
struct Utf8Literal {
  char bytes[N]{};
  constexpr Utf8Literal(const char (&text)[N]) {
    for (std::size_t i = 0; i < N; ++i) bytes[i] = text[i];
  }
};

struct Converted {
  std::array<char, 1024> bytes{};
  std::size_t size = 0;
};

template <std::size_t N>
consteval Converted ConvertLiteral(const Utf8Literal<N>& literal) {
  static_assert(N <= 1024, "literal too long for the compile-time converter");
  Converted out;
  std::size_t i = 0;
  const std::size_t size = N - 1;  // without the terminating NUL
  while (i < size) {
    const char32_t cp = DecodeUtf8(literal.bytes, size, i);
    const int byte = cp == 0xFFFFFFFF ? -1 : ByteForCodePoint(cp);
    if (byte < 0) throw "character not in code page 850";  // fails the build
    out.bytes[out.size++] = static_cast<char>(byte);
  }
  return out;
}

template <Utf8Literal L>
struct Cp850Storage {
  static constexpr Converted kConverted = ConvertLiteral(L);
  static constexpr std::array<char, kConverted.size + 1> kBytes = [] {
    std::array<char, kConverted.size + 1> a{};
    for (std::size_t i = 0; i < kConverted.size; ++i) a[i] = kConverted.bytes[i];
    return a;
  }();
};

}  // namespace codepage_detail

// "Text with accents"_cp: the literal as a code page 850 byte string, built at
// compile time.  The bytes are NUL-terminated.
template <codepage_detail::Utf8Literal L>
constexpr std::string_view operator""_cp() {
  using S = codepage_detail::Cp850Storage<L>;
  return std::string_view(S::kBytes.data(), S::kConverted.size);
}

// The Unicode code point a byte stands for as text (bytes below 128 are
// ASCII, control bytes included).
char32_t Cp850ToCodePoint(uint8_t byte);

// The code point the console shows for a byte: as Cp850ToCodePoint, but
// control bytes 1..31 and 127 are the PC glyphs (16 and 17 are the triangles
// the line editor draws), and byte 0 is a blank.
char32_t Cp850DisplayCodePoint(uint8_t byte);

// A code page 850 text as UTF-8.  Control bytes pass through unchanged.
std::string Cp850ToUtf8(std::string_view text);

// A UTF-8 text as code page 850.  A character code page 850 cannot hold, or a
// malformed UTF-8 sequence, becomes `replacement`.
std::string Utf8ToCp850(std::string_view text, char replacement = '?');

// The byte for one code point, or -1 when code page 850 has none.
int Cp850FromCodePoint(char32_t codePoint);

// Appends the UTF-8 encoding of a code point.
void AppendUtf8(std::string& out, char32_t codePoint);

// Upper case in the Windows ANSI code page (1252), as the system compares INI
// section and key names.  Bytes are taken as they come.
char UpperAnsi(char c);
std::string UpperAnsi(std::string_view text);

}  // namespace kestrova

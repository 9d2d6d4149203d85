#include "platform/key_codes.h"

#include <cctype>

#include "platform/screen.h"

namespace kestrova {
namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

struct NamedKey {
  std::string_view name;
  uint16_t code;
};

constexpr NamedKey kNamedKeys[] = {
    {"Enter", kKeyEnter}, {"Esc", kKeyEscape}, {"Tab", kKeyTab},     {"Bksp", kKeyBackspace},
    {"Up", kKeyUp},       {"Down", kKeyDown},  {"Left", kKeyLeft},   {"Right", kKeyRight},
    {"Home", kKeyHome},   {"End", kKeyEnd},    {"PgUp", kKeyPgUp},   {"PgDn", kKeyPgDn},
    {"Ins", kKeyIns},     {"Del", kKeyDel},    {"Space", ' '},
};

}  // namespace

uint16_t FunctionKeyCode(int n) {
  if (n >= 1 && n <= 10) return static_cast<uint16_t>(kKeyF1 + (n - 1) * 0x100);
  if (n == 11) return kKeyF11;
  if (n == 12) return kKeyF12;
  return 0;
}

uint16_t AltLetterCode(char letter) {
  // Scan codes of the letter keys, a to z, on the PC keyboard.
  static constexpr uint8_t kScan[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                        0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                        0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
  const int c = std::tolower(static_cast<unsigned char>(letter));
  if (c < 'a' || c > 'z') return 0;
  return static_cast<uint16_t>(kScan[c - 'a'] << 8);
}

uint16_t KeypadDigitCode(char digit) {
  static constexpr uint16_t kKeypad[10] = {kKeyIns,   kKeyEnd, kKeyDown,  kKeyPgDn, kKeyLeft,
                                           kKeyKeypad5, kKeyRight, kKeyHome, kKeyUp, kKeyPgUp};
  if (digit < '0' || digit > '9') return 0;
  return kKeypad[digit - '0'];
}

uint16_t NamedKeyCode(std::string_view name) {
  for (const NamedKey& k : kNamedKeys) {
    if (SameNameIgnoringCase(name, k.name)) return k.code;
  }
  if (name.size() >= 2 && (name[0] == 'F' || name[0] == 'f')) {
    int n = 0;
    for (std::size_t i = 1; i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9' || n > 12) return 0;
      n = n * 10 + (name[i] - '0');
    }
    return FunctionKeyCode(n);
  }
  return 0;
}

}  // namespace kestrova

#include "console/key_map.h"

#include <algorithm>

#include "platform/screen.h"

namespace kestrova {
namespace {

// Every edit must be able to end on these, whatever else a screen lists:
// without them a screen naming only its function keys could not be left.
constexpr uint16_t kEditingKeys[] = {kKeyEnter, kKeyEscape, kKeyUp, kKeyDown};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One item of a key list: 1 to 4 hexadecimal digits with blanks around, or
// -1.
int32_t ParseKeyItem(std::string_view item) {
  while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
  while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
  if (item.empty() || item.size() > 4) return -1;
  int32_t code = 0;
  for (char c : item) {
    const int digit = HexDigit(c);
    if (digit < 0) return -1;
    code = code * 16 + digit;
  }
  return code;
}

void AcceptKeys(KeyMapLevel& level, std::string_view keys, std::string_view translations) {
  level.acceptedKeys = ParseKeyList(keys);
  level.translations = ParseKeyList(translations);
  if (level.translations.size() != level.acceptedKeys.size()) level.translations.clear();
  for (uint16_t key : kEditingKeys) {
    if (std::find(level.acceptedKeys.begin(), level.acceptedKeys.end(), key) !=
        level.acceptedKeys.end()) {
      continue;
    }
    level.acceptedKeys.push_back(key);
    if (!level.translations.empty()) level.translations.push_back(key);
  }
}

}  // namespace

KeyMapState& KeyMap() {
  static KeyMapState state;
  return state;
}

void ResetKeyMapForTesting() { KeyMap() = KeyMapState{}; }

std::vector<uint16_t> ParseKeyList(std::string_view list) {
  std::vector<uint16_t> codes;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const int32_t code = ParseKeyItem(list.substr(0, comma));
    if (code > 0) codes.push_back(static_cast<uint16_t>(code));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return codes;
}

void SetKeyMap(std::string_view modes, std::string_view keys, std::string_view translations) {
  KeyMapState& map = KeyMap();
  for (char c : modes) {
    switch (c) {
      case '+':
        map.saved.push_back(map.current);
        break;
      case '-':
        if (map.saved.empty()) {
          map.current = KeyMapLevel{};
        } else {
          map.current = std::move(map.saved.back());
          map.saved.pop_back();
        }
        break;
      case 'e':
      case 'E':
        map.current = KeyMapLevel{};
        break;
      case 'a':
      case 'A':
        AcceptKeys(map.current, keys, translations);
        break;
      case 'h':
      case 'H':
        map.current.mask = kSecretMask;
        break;
      case 'v':
      case 'V':
        map.current.mask = 0;
        break;
      default:
        break;
    }
  }
}

bool KeyIsListed(uint16_t key) {
  const std::vector<uint16_t>& keys = KeyMap().current.acceptedKeys;
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool AcceptMappedKey(int32_t& key) {
  if (key < 0) return true;
  const KeyMapLevel& level = KeyMap().current;
  if (level.acceptedKeys.empty()) return true;
  const auto at = std::find(level.acceptedKeys.begin(), level.acceptedKeys.end(),
                            static_cast<uint16_t>(key));
  if (key > 0xFFFF || at == level.acceptedKeys.end()) return false;
  if (!level.translations.empty()) {
    key = level.translations[static_cast<std::size_t>(at - level.acceptedKeys.begin())];
  }
  return true;
}

}  // namespace kestrova

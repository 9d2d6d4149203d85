// The key map the line editor reads at every edit: which keys may end an
// edit, what they are translated into, and whether typed characters are
// hidden (secret input).  Screens and pop-ups set it through a stack, so a
// pop-up opened over a field can put its own map in place and give the
// field's map back when it closes.
//
// SetKeyMap (modes, keys, translations) applies the letters of `modes` from
// left to right (letter case does not matter, other characters are
// ignored):
//
//   "+"  saves the current map on the stack;
//   "-"  takes the last saved map back (an empty stack gives the empty map);
//   "e"  empties the map: every key is accepted, none is translated, typed
//        characters are shown;
//   "a"  accepted keys: the keys of `keys`, plus the keys every edit must be
//        able to end with (Enter, Esc, Up and Down), become the accepted
//        keys; `translations` gives, at the same places, what each of
//        `keys` is turned into (the added editing keys stay themselves);
//   "h"  hides typed characters: the value is shown as kSecretMask
//        repeated;
//   "v"  shows typed characters again.
//
// So a form field runs with "+a" and its screen's keys, adds "h" for a
// secret field and gives the map back with "-"; the calculator runs with
// "+e" (no field key mapped), the calendar with "+ea" and its own keys.
//
// Key lists are texts of hexadecimal key codes separated by commas, as the
// form's screen names write them: "3c00,3e00" is F2 and F4, "1b" is Esc.
// An item that is not 1 to 4 hexadecimal digits (blanks around it are
// allowed) is skipped, so a damaged list costs only its damaged items.  A
// translation list whose length differs from the key list is not used.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrova {

// The character shown for each position of a secret value.
inline constexpr char kSecretMask = '*';

struct KeyMapLevel {
  std::vector<uint16_t> acceptedKeys;  // empty: every key is accepted
  std::vector<uint16_t> translations;  // empty, or one per accepted key
  char mask = 0;                       // 0: typed characters are shown
};

struct KeyMapState {
  KeyMapLevel current;
  std::vector<KeyMapLevel> saved;  // last saved last
};

KeyMapState& KeyMap();
void ResetKeyMapForTesting();

void SetKeyMap(std::string_view modes, std::string_view keys = {},
               std::string_view translations = {});

// The key codes of a comma-separated hexadecimal list (see above).
std::vector<uint16_t> ParseKeyList(std::string_view list);

// Whether the current map lets `key` end an edit, and what it becomes.
// Mouse clicks (negative codes) always pass unchanged.
bool AcceptMappedKey(int32_t& key);

// Whether `key` is among the accepted keys (false when the list is empty).
bool KeyIsListed(uint16_t key);

}  // namespace kestrova

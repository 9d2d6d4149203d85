#include "console/keyboard.h"

#include "console/key_map.h"
#include "console_test_support.h"

namespace kestrova {
namespace {

class KeyboardTest : public ConsoleTest {};

TEST_F(KeyboardTest, KeysAsTheCallerSeesThem) {
  struct Case {
    const char* script;
    std::vector<int32_t> keys;
  } cases[] = {
      // Typing by code on the keypad with left Alt held; 356 wraps to 100.
      {"{A-1}{A-3}{A-0}", {130}},
      {"{A-3}{A-5}{A-6}", {100}},
      // The key after the code is not lost.
      {"{A-6}{A-5}x", {65, 'x'}},
      {"{S-F1}{C-F10}{A-F12}", {0x5400, 0x6700, 0x8C00}},
      {"{A-F1}{A-F10}{C-F1}{C-F11}{S-F10}{S-F11}{S-F12}", {0x6800, 0x7100, 0x5E00, 0x8900, 0x5D00, 0x8700, 0x8800}},
      {"{A-F11}{C-F12}", {0x8B00, 0x8A00}},
      {"{C-Home}{C-Left}{C-Right}{C-End}{S-Home}{S-End}", {0x7700, 0x7300, 0x7400, 0x7500, 0x4700, 0x4F00}},
      {"{A-e}{A-E}", {213, 213}},
      {"{F1}{F11}{Esc}a", {0x3B00, 0x8500, 27, 'a'}},
      {"{Click 3 17}", {-(100 * 17 + 3)}},
      // The hot keys reach the caller even with no pop-up behind them.
      {"{A-x}{A-c}", {0x2D00, 0x2E00}},
  };
  for (const Case& c : cases) {
    ResetScreenForTesting();
    ResetKeyboardForTesting();
    Screen().inputGone = nullptr;
    Screen().mouseButtons = 3;
    Type(c.script);
    std::vector<int32_t> got;
    for (std::size_t i = 0; i < c.keys.size(); ++i) got.push_back(ReadKey());
    EXPECT_EQ(got, c.keys) << c.script;
    EXPECT_EQ(ReadKey(), kKeyEscape) << c.script << ": input has ended";
  }
}

TEST_F(KeyboardTest, CharactersOutsideTheCodePageAreRefusedWithABeep) {
  Screen().beeps = 0;
  Type("a😀日é");
  EXPECT_EQ(ReadKey(), 'a');
  EXPECT_EQ(ReadKey(), 0x82);  // é in code page 850: the refused ones are skipped
  EXPECT_EQ(Screen().beeps, 2);
}

TEST_F(KeyboardTest, WithoutAMouseClicksAreNoKeys) {
  Screen().mouseButtons = 0;
  Type("{Click 3 17}q");
  EXPECT_EQ(ReadKey(), 'q');
  EXPECT_EQ(Keyboard().mouseState, 3);
}

TEST_F(KeyboardTest, AnAltReleaseEndsTheCodeAndIsNotAKey) {
  Type("{A-9}{A-7}");
  Screen().input.push_back({InputKind::kKey, 0, 0});  // Alt released
  Type("b");
  EXPECT_EQ(ReadKey(), 97);
  EXPECT_EQ(ReadKey(), 'b');
}

TEST_F(KeyboardTest, PendingTextComesBeforeTheConsole) {
  Keyboard().pendingText = "1250";
  Type("z");
  EXPECT_EQ(ReadKey(), '1');
  EXPECT_EQ(Screen().input.size(), 1u);  // the console was not touched
  EXPECT_EQ(ReadKey(), '2');
  EXPECT_EQ(ReadKey(), '5');
  EXPECT_EQ(ReadKey(), '0');
  EXPECT_EQ(ReadKey(), 'z');
}

std::string CalculatorResult() {
  // A pop-up that presses the other hot key and its own: the calendar opens
  // inside, the calculator does not open again.
  EXPECT_EQ(Keyboard().calculatorOpen, -1);
  Screen().input.push_front({InputKind::kKey, 0x2D00, kLeftAltPressed});
  Screen().input.push_front({InputKind::kKey, 0x2E00, kLeftAltPressed});
  EXPECT_EQ(ReadKey(), 0x2E00);
  EXPECT_EQ(ReadKey(), '7');  // the calendar's text, typed inside the calculator
  EXPECT_EQ(ReadKey(), 0x2D00);
  return "1250";
}
int calendarRuns = 0;
std::string CalendarResult() {
  ++calendarRuns;
  return "7";
}

TEST_F(KeyboardTest, HotKeysTypeWhatThePopUpReturns) {
  calendarRuns = 0;
  RegisterHotKeyPopups(CalculatorResult, CalendarResult);
  Type("{A-x}q");
  EXPECT_EQ(ReadKey(), 0x2D00);
  EXPECT_EQ(Keyboard().calculatorOpen, 0);
  EXPECT_EQ(calendarRuns, 1);
  for (char c : std::string("1250q")) EXPECT_EQ(ReadKey(), c);
}

TEST_F(KeyboardTest, FlushKeepsTheTextAPopUpTyped) {
  Keyboard().pendingText = "5";
  Type("abc");
  FlushKeyboard();
  EXPECT_EQ(ReadKey(), '5');
  EXPECT_EQ(ReadKey(), kKeyEscape);
}

TEST(KeyMapTest, KeyListsAndTheStack) {
  ResetKeyMapForTesting();
  EXPECT_EQ(ParseKeyList("3c00,3e00"), (std::vector<uint16_t>{0x3C00, 0x3E00}));
  EXPECT_EQ(ParseKeyList(" 1b , 4D00"), (std::vector<uint16_t>{0x1B, 0x4D00}));
  // Damaged items are skipped, the rest kept.
  EXPECT_EQ(ParseKeyList("zz,,12345,3b00,0x10,-1"), (std::vector<uint16_t>{0x3B00}));
  EXPECT_TRUE(ParseKeyList("").empty());

  int32_t key = kKeyPgUp;
  EXPECT_TRUE(AcceptMappedKey(key)) << "an empty map accepts every key";
  SetKeyMap("+a", "3c00,3b00");
  key = kKeyPgUp;
  EXPECT_FALSE(AcceptMappedKey(key));
  for (int32_t k : {0x3C00, 0x3B00, 13, 27, 0x4800, 0x5000, -305}) {
    int32_t mapped = k;
    EXPECT_TRUE(AcceptMappedKey(mapped)) << k;
    EXPECT_EQ(mapped, k);
  }
  SetKeyMap("+ah", "3c00", "1c00");
  key = 0x3C00;
  EXPECT_TRUE(AcceptMappedKey(key));
  EXPECT_EQ(key, 0x1C00);
  EXPECT_EQ(KeyMap().current.mask, kSecretMask);
  // A translation list of the wrong length is not used.
  SetKeyMap("+a", "3c00,3d00", "1c00");
  key = 0x3D00;
  EXPECT_TRUE(AcceptMappedKey(key));
  EXPECT_EQ(key, 0x3D00);
  SetKeyMap("-");
  SetKeyMap("-");
  EXPECT_EQ(KeyMap().current.mask, 0);
  EXPECT_TRUE(KeyIsListed(0x3B00));
  SetKeyMap("-");
  SetKeyMap("-");  // more pops than pushes: the empty map
  EXPECT_TRUE(KeyMap().current.acceptedKeys.empty());
  SetKeyMap("+ea", "4d00,1b");
  SetKeyMap("e");
  EXPECT_TRUE(KeyMap().current.acceptedKeys.empty());
}

}  // namespace
}  // namespace kestrova

#include "console/line_editor.h"

#include "console_test_support.h"
#include "platform/clipboard.h"

namespace kestrova {
namespace {

class LineEditorTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    ChoiceList().clear();
    ResetClipboardForTesting();
  }

  // Edits `value` at row 5, column 10 with the keys of `script`; returns
  // the ending key.
  int32_t Edit(std::string& value, std::string_view script, int16_t lineLength = 0,
               int16_t cursor = 1) {
    Type(script);
    cursor_ = cursor;
    int32_t key = 0;
    EditFieldValue(5, 10, lineLength, value, cursor_, key);
    return key;
  }
  static void WriteAt(int row, int column, std::string_view text) {
    SetCursorPosition(row, column);
    WriteText(text);
  }
  int16_t cursor_ = 1;
};

TEST_F(LineEditorTest, TypingAndEditingKeys) {
  struct Case {
    const char* start;
    const char* script;
    bool insert;
    int16_t cursor;
    const char* value;
    int16_t endCursor;
  } cases[] = {
      {"      ", "abc{Enter}", false, 1, "abc   ", 4},
      {"abcdef", "XY{Enter}", false, 3, "abXYef", 5},
      {"abcd  ", "X{Enter}", true, 2, "aXbcd ", 3},
      // Insert into a full value: nothing changes, the cursor stays.
      {"abcdef", "X{Enter}", true, 2, "abcdef", 2},
      // Overwrite at the end: no room, the cursor stays at L + 1.
      {"abc", "{End}X{Enter}", false, 1, "abc", 4},
      {"abc def", "{End}{Bksp}{Bksp}{Enter}", false, 1, "abc d  ", 6},
      {"abcdef", "{Home}{Del}{Del}{Enter}", false, 4, "cdef  ", 1},
      {"abc   ", "{End}{Right}{Right}{Right}{Right}{Right}{Enter}", false, 1, "abc   ", 7},
      // Ctrl-End goes where End goes when End is not listed.
      {"ab cd  ", "{C-End}X{Enter}", false, 1, "ab cdX ", 7},
      {"abc   ", "{Left}{Bksp}{Enter}", false, 1, "abc   ", 1},
      {"abc   ", "{C-y}{Enter}", false, 3, "      ", 1},
      {"abc   ", "{C-Home}z{Enter}", false, 3, "z     ", 2},
      {"un dos,tres", "{End}{C-Left}{Enter}", false, 1, "un dos,tres", 8},
      {"un dos,tres", "{C-Left}{C-Left}{Enter}", false, 9, "un dos,tres", 4},
      {"un dos,tres", "{C-Left}{C-Left}{C-Left}{C-Left}{Enter}", false, 9, "un dos,tres", 1},
      {"un dos,tres", "{C-Right}{C-Right}{Enter}", false, 1, "un dos,tres", 8},
      {"un  ", "{C-Right}{C-Right}{Enter}", false, 1, "un  ", 3},
      // The euro sign by Alt-E, a character by its code.
      {"   ", "{A-e}{A-1}{A-3}{A-0}{Enter}", false, 1, "€é "_cp.data(), 3},
  };
  for (const Case& c : cases) {
    Screen().insertLock = c.insert;
    std::string value = c.start;
    EXPECT_EQ(Edit(value, c.script, 0, c.cursor), kKeyEnter) << c.script;
    EXPECT_EQ(value, c.value) << c.start << " " << c.script;
    EXPECT_EQ(cursor_, c.endCursor) << c.start << " " << c.script;
    Screen().input.clear();
  }
}

TEST_F(LineEditorTest, InsFlipsTheModeAndTheKeyboardToggle) {
  std::string value = "abcd  ";
  Edit(value, "{Ins}X{Ins}Y{Enter}", 0, 1);
  EXPECT_EQ(value, "XYbcd ");
  EXPECT_FALSE(Screen().insertLock);
  EXPECT_EQ(Screen().cursorSize, 0) << "hidden once a key is read";
}

TEST_F(LineEditorTest, EndingKeysAndTranslations) {
  struct Case {
    const char* script;
    int16_t lineLength;
    int16_t cursor;
    int32_t key;
    int16_t endCursor;
  } cases[] = {
      {"{Up}", 0, 5, kKeyUp, 5},
      {"{Down}", 0, 5, kKeyDown, 5},
      {"{Up}{Up}", 20, 25, kKeyUp, 5},
      {"{Down}{Down}", 20, 5, kKeyDown, 25},
      {"{S-Tab}", 0, 3, kKeyUp, 3},
      {"{Tab}", 0, 3, kKeyEnter, 3},
      {"{C-F4}", 0, 3, kKeyEscape, 3},
      {"{A-F4}", 0, 3, kKeyEscape, 3},
      {"{F2}", 0, 3, 0x3C00, 3},
      {"{C-b}", 0, 3, 2, 3},
      {"{Click 20 1}", 0, 3, -(100 * 1 + 20), 3},
  };
  for (const Case& c : cases) {
    std::string value(40, 'x');
    EXPECT_EQ(Edit(value, c.script, c.lineLength, c.cursor), c.key) << c.script;
    EXPECT_EQ(cursor_, c.endCursor) << c.script;
    Screen().input.clear();
  }
}

TEST_F(LineEditorTest, TheKeyMapFiltersAndTranslates) {
  std::string value = "abc";
  SetKeyMap("+a", "3c00");
  EXPECT_EQ(Edit(value, "{PgUp}{F3}{F2}"), 0x3C00) << "PgUp and F3 are ignored";
  // A listed End ends the edit, in free text and in a choice, and Enter
  // stays Enter; Ctrl-End is then the way to the end of the text.
  SetKeyMap("a", "3c00,4f00");
  EXPECT_EQ(Edit(value, "{Enter}"), kKeyEnter) << "Enter is not End when End is listed";
  EXPECT_EQ(Edit(value, "{End}", 0, 2), kKeyEnd) << "a listed End ends the edit";
  EXPECT_EQ(cursor_, 2) << "and does not move the cursor";
  value = "ab  ";
  EXPECT_EQ(Edit(value, "{C-End}c{Enter}"), kKeyEnter);
  EXPECT_EQ(value, "abc ");
  ChoiceList() = "|S,Si|N,No";
  EXPECT_EQ(Edit(value, "{End}"), kKeyEnd) << "a listed End ends a choice too";
  ChoiceList().clear();
  SetKeyMap("a", "3c00", "4400");
  EXPECT_EQ(Edit(value, "{F2}"), 0x4400);
  SetKeyMap("-");
  EXPECT_EQ(Edit(value, "{PgUp}"), kKeyPgUp);
}

TEST_F(LineEditorTest, MultiLineValuesAndClicks) {
  std::string value = "0123456789ABCDEFGHIJ";
  // Two lines of 10 at rows 5 and 6 from column 10.
  EXPECT_EQ(Edit(value, "{Click 6 12}z{Enter}", 10), kKeyEnter);
  EXPECT_EQ(value, "0123456789ABzDEFGHIJ");
  EXPECT_EQ(Row(5), std::string(9, ' ') + "0123456789");
  EXPECT_EQ(Row(6), std::string(9, ' ') + "ABzDEFGHIJ");
  EXPECT_EQ(cursor_, 14);
  // A click beside the value ends the edit with the click.
  EXPECT_EQ(Edit(value, "{Click 6 20}", 10), -(100 * 20 + 6));
  // At L + 1 the cursor stays after the last line, not below it.
  Type("{End}");
  Screen().input.push_back({InputKind::kEnd});
  int16_t cursor = 1;
  int32_t key = 0;
  EditFieldValue(5, 10, 10, value, cursor, key);
  EXPECT_EQ(key, kKeyEscape);
  EXPECT_EQ(cursor, 21);
}

TEST_F(LineEditorTest, ChoiceListsStepFindAndShowMarkers) {
  ChoiceList() = "|S,Sí|N,No"_cp;
  std::string value = "N";
  EXPECT_EQ(Edit(value, "{Right}{Enter}"), kKeyEnter);
  EXPECT_EQ(value, "S");
  EXPECT_EQ(Edit(value, "n{Enter}"), kKeyEnter);
  EXPECT_EQ(value, "N");
  EXPECT_EQ(Edit(value, "{Left}{Left}{Left}{Enter}"), kKeyEnter);
  EXPECT_EQ(value, "S");
  // Left marker at column 9, text at 10..11, right marker at 12.
  Type("{Click 5 9}");
  Screen().input.push_back({InputKind::kEnd});
  int16_t cursor = 1;
  int32_t key = 0;
  std::string shown;
  EditFieldValue(5, 10, 0, value, cursor, key);
  EXPECT_EQ(value, "N") << "the left marker steps back without ending the edit";
  EXPECT_EQ(key, kKeyEscape);
  EXPECT_EQ(Row(5), std::string(9, ' ') + "No") << "the markers are wiped at the end";
  EXPECT_EQ(Edit(value, "{Click 5 12}{Click 5 10}{Bksp}{Del}{C-y}{Click 1 1}"), -101);
  EXPECT_EQ(value, "S");
  // Accents fold: "e" finds the option coded "É".
  ChoiceList() = "|A,Alta|É,Entrada"_cp;
  value = "A";
  Edit(value, "e{Enter}");
  EXPECT_EQ(value, "É"_cp);
}

TEST_F(LineEditorTest, ClickJustRightOfAOneLineValueIsOutsideIt) {
  // "abc" at columns 10..12: column 13 is where the cursor may stand, not a
  // character of the value; a click there ends the edit and nothing typed
  // after it is lost.
  struct Case {
    const char* script;
    int32_t key;
    const char* value;
  } cases[] = {
      {"{Click 5 13}", -(100 * 13 + 5), "abc"},
      {"{Click 5 12}z{Enter}", kKeyEnter, "abz"},
      {"{Click 5 10}z{Enter}", kKeyEnter, "zbc"},
  };
  for (const Case& c : cases) {
    std::string value = "abc";
    EXPECT_EQ(Edit(value, c.script), c.key) << c.script;
    EXPECT_EQ(value, c.value) << c.script;
  }
}

TEST_F(LineEditorTest, ChoiceLettersFollowTheWordsShown) {
  // The letter of the word shown picks its option, whatever its code; a
  // letter no word begins with still picks the option of that code.
  struct Case {
    const char* list;
    const char* start;
    const char* typed;
    const char* value;
  } cases[] = {
      {"|L,Listado de la revisión|N,Cartas a los inquilinos|A,Aplicar la revisión", "L", "c", "N"},
      {"|L,Listado de la revisión|N,Cartas a los inquilinos|A,Aplicar la revisión", "L", "n", "N"},
      {"|L,Listado de la revisión|N,Cartas a los inquilinos|A,Aplicar la revisión", "N", "l", "L"},
      {"|S,Òc|N,Non", "N", "o", "S"},
      {"|S,Òc|N,Non", "N", "s", "S"},
      {"|S,Òc|N,Non", "S", "n", "N"},
      {"|1,Contractes|2,Revisió|3,Actualització|4,Contractes", "1", "c", "4"},
      {"|1,Contractes|2,Revisió|3,Actualització|4,Contractes", "1", "3", "3"},
  };
  for (const Case& c : cases) {
    ChoiceList() = Utf8ToCp850(c.list);
    std::string value = c.start;
    Edit(value, std::string(c.typed) + "{Enter}");
    EXPECT_EQ(value, c.value) << c.list << " " << c.typed;
  }
}

TEST_F(LineEditorTest, ChoiceListLeavesTheChosenTextPadded) {
  ChoiceList() = "|L,Llistat|N,Cartes";
  std::string value = "N";
  WriteAt(5, 10, "xxxxxxxxxx");
  Edit(value, "{Right}");
  // The option text is blank-padded to the longest option, the markers are
  // wiped once the edit ends, and the value holds the code.
  EXPECT_EQ(Row(5), std::string(9, ' ') + "Llistat xx");
  EXPECT_EQ(value, "L");
}

TEST_F(LineEditorTest, DamagedChoiceLists) {
  EXPECT_TRUE(ParseChoiceList("").empty());
  EXPECT_TRUE(ParseChoiceList("no bars").empty());
  const auto options = ParseChoiceList("x|S,Sí||NNo|");
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0].code, 'S');
  EXPECT_EQ(options[1].code, 'N');
  EXPECT_EQ(options[1].text, "No");
  // A list without options is free text.
  ChoiceList() = "nothing";
  std::string value = "  ";
  Edit(value, "ok{Enter}");
  EXPECT_EQ(value, "ok");
}

TEST_F(LineEditorTest, SecretInputShowsOnlyTheMask) {
  SetKeyMap("+h");
  std::string value = "    ";
  Edit(value, "pw{Enter}");
  EXPECT_EQ(value, "pw  ");
  EXPECT_EQ(Row(5), std::string(9, ' ') + "****");
}

TEST_F(LineEditorTest, ClipboardCopyAndPaste) {
  std::string value = "  12,50   ";
  Edit(value, "{C-c}{Enter}");
  EXPECT_EQ(GetClipboardText(), "12,50");
  SetClipboardText(" A\tB\x7F" "C\xFF" "DEFGHIJKLMNOP ");
  value = "xxxxxxxxxx";
  Edit(value, "{Right}{Right}{C-v}{Enter}");
  EXPECT_EQ(value, "xxABCDEFGH");
  EXPECT_EQ(cursor_, 3);
  ChoiceList() = "|S,Sí|N,No"_cp;
  value = "N";
  Edit(value, "{C-c}{Enter}");
  EXPECT_EQ(GetClipboardText(), "No");
}

TEST_F(LineEditorTest, ZeroWidthAndEndedInput) {
  std::string value;
  EXPECT_EQ(Edit(value, "abc{Bksp}{Del}{Ins}x"), kKeyEscape);
  EXPECT_EQ(value, "");
}

}  // namespace
}  // namespace kestrova

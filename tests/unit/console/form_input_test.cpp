#include "console/form_input.h"

#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "console/line_editor.h"
#include "console_test_support.h"
#include "session/job_form.h"
#include "session/language.h"

namespace kestrova {
namespace {

// Screen 1: a date, a count 0..10, a yes/no choice, a text upper-cased,
// linked to screen 2 (a window).  F2, F4, PgUp and PgDn are listed.
constexpr std::string_view kForm =
    "2,6\r\n"
    "\"3c00,3e00,4900,5100\",4,2,0,0,0,0\r\n"
    "3,3,\"Data: \",8,0,10,0,1,0,\"\"\r\n"
    "4,3,\"Nombre: \",2,0,0,0,6,0,\"\"\r\n"
    "5,3,\"Segur: \",1,0,0,0,4,0,\"|S,Si|N,No\"\r\n"
    "6,3,\"Text: \",8,0,0,8,4,1,\"\"\r\n"
    "\"\",1,0,10,20,14,60\r\n"
    "2,3,\"Confirmeu \",1,0,0,0,4,0,\"|S,Si|N,No\"\r\n"
    "1\r\n"
    "4,10,20,70,506,0,0,\"Finques\",0\r\n";

int checkCalls = 0;
std::vector<int32_t> checkedKeys;
int16_t refuseTimes = 0;

int16_t TestCheck(int16_t screen, int32_t& key) {
  if (screen != 1) return 0;
  ++checkCalls;
  checkedKeys.push_back(key);
  if (refuseTimes > 0) {
    --refuseTimes;
    return -1;
  }
  return 0;
}

std::string TestDescription(int16_t screen, int16_t field) {
  return screen == 1 && field == 1 ? "desc" : "";
}

class FormInputTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    Session().language = "CAT";
    Session().title = " PROVA ";
    Session().sessionDate = PackDigits("20261207");
    ResetJobFormForTesting();
    ResetFormInputForTesting();
    ASSERT_TRUE(ParseJobForm(kForm).ok);
    PlaceFieldValue(1, 1, "010101");
    PlaceFieldValue(1, 2, "0");
    PlaceFieldValue(1, 3, "N");
    checkCalls = 0;
    checkedKeys.clear();
    refuseTimes = 0;
    FormInputHooks().check = TestCheck;
    FormInputHooks().describe = TestDescription;
    // Most cases walk screen 1 alone; the linked-screen case links it.
    JobForm().screens[0].linkScreen = 0;
  }

  int32_t Run(std::string_view script, int16_t screen = 1) {
    Screen().input.clear();
    Screen().endReported = false;
    Keyboard().inputEnded = false;
    Type(script);
    int32_t key = 0;
    int16_t a = 0, b = 0;
    RunFormScreen(screen, key, a, b);
    return key;
  }
  static std::string Value(int field, int screen = 1) {
    return JobForm().screens[static_cast<std::size_t>(screen - 1)].fields[static_cast<std::size_t>(field - 1)].value;
  }
};

std::vector<std::string> rowsAtCheck;
int16_t CaptureRows(int16_t, int32_t&) {
  rowsAtCheck.clear();
  for (int row = 1; row <= 6; ++row) {
    std::string line = ScreenRowText(row);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    rowsAtCheck.push_back(line);
  }
  return 0;
}

TEST_F(FormInputTest, DrawsTitleLabelsValuesAndDescriptions) {
  FormInputHooks().check = CaptureRows;
  Run("{Enter}{Enter}{Enter}{Enter}");
  ASSERT_EQ(rowsAtCheck.size(), 6u);
  EXPECT_EQ(rowsAtCheck[0], std::string(36, ' ') + " PROVA");
  // One blank between the value's width and its description.
  EXPECT_EQ(rowsAtCheck[2], "  Data: 010101   desc");
  EXPECT_EQ(rowsAtCheck[3], "  Nombre: 0");
  // A choice field shows its option's text, not its code.
  EXPECT_EQ(rowsAtCheck[4], "  Segur: No");
}

TEST_F(FormInputTest, NavigationKeys) {
  struct Case {
    const char* script;
    int32_t key;
    int checks;
    const char* text;  // field 4 afterwards
  } cases[] = {
      // Esc on a later field goes to the first, a second Esc leaves.
      {"{Down}{Down}{Esc}{Esc}", kKeyEscape, 1, "        "},
      // Down on the last field does nothing; Enter there finishes.
      {"{PgDn}{Down}{Down}ab{Enter}", kKeyEnter, 1, "AB      "},
      {"{Tab}{Tab}{Tab}xy{Tab}", kKeyEnter, 1, "XY      "},
      // Up on the first field of a screen stays; PgUp goes to the first.
      {"{Up}{PgDn}q{PgUp}{Esc}", kKeyEscape, 1, "Q       "},
      // A click on the label of the text field moves there.
      {"{Click 6 4}zz{Enter}", kKeyEnter, 1, "ZZ      "},
      // A click on no field leaves the cursor where it is.
      {"{Click 20 40}{Esc}", kKeyEscape, 1, "        "},
  };
  for (const Case& c : cases) {
    SetUp();
    EXPECT_EQ(Run(c.script), c.key) << c.script;
    EXPECT_EQ(checkCalls, c.checks) << c.script;
    EXPECT_EQ(Value(4), c.text) << c.script;
  }
}

TEST_F(FormInputTest, ValueChecksBeepAndEditAgain) {
  // 11 is refused (0..10) with a beep; the field is edited again from what
  // was typed, for correction.
  EXPECT_EQ(Run("{Down}11{Enter}{Del}{Del}7{Enter}{Esc}{Esc}"), kKeyEscape);
  EXPECT_EQ(Screen().beeps, 1);
  EXPECT_EQ(Value(2), "7 ");
  // Esc is not checked: a wrong value typed before Esc is dropped.
  EXPECT_EQ(Run("{Down}99{Esc}{Esc}"), kKeyEscape);
  EXPECT_EQ(Value(2), "7 ");
  EXPECT_EQ(Screen().beeps, 1);
}

std::vector<std::string> screenAtCheck;
int16_t CaptureScreen(int16_t screen, int32_t& key) {
  screenAtCheck.clear();
  for (int row = 1; row <= 25; ++row) {
    std::string line = ScreenRowText(row);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    screenAtCheck.push_back(line);
  }
  return TestCheck(screen, key);
}

TEST_F(FormInputTest, TheScreenShowsTheValueTheRunUses) {
  FormInputHooks().check = CaptureScreen;
  struct Case {
    const char* script;
    const char* row4;   // the number field when the screen is finished
    const char* value;  // what it holds
  } cases[] = {
      // Esc stores nothing, and the screen says so.
      {"{Down}{C-y}7{Esc}{Esc}", "  Nombre: 0", "0 "},
      // A refused value stays for correction, then Esc throws it away.
      {"{Down}99{Enter}{Esc}{Esc}", "  Nombre: 0", "0 "},
      // F1 and F4 (no list here) keep what was typed.
      {"{Down}{C-y}5{F1}{Esc}{F4}{Enter}{Esc}{Esc}", "  Nombre: 5", "5 "},
  };
  Session().menuOption = "NOHIHA";
  for (const Case& c : cases) {
    SetUp();
    FormInputHooks().check = CaptureScreen;
    Session().menuOption = "NOHIHA";
    Run(c.script);
    ASSERT_EQ(screenAtCheck.size(), 25u) << c.script;
    EXPECT_EQ(screenAtCheck[3], c.row4) << c.script;
    EXPECT_EQ(Value(2), c.value) << c.script;
  }
}

// A pop-up that looks at the screen (Alt-X) while a field is edited.
std::vector<std::string> rowsInPopup;
std::string LookAtTheScreen() {
  rowsInPopup.clear();
  for (int row = 1; row <= 25; ++row) {
    std::string line = ScreenRowText(row);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    rowsInPopup.push_back(line);
  }
  return "";
}

TEST_F(FormInputTest, RefusedValuesSayWhyAndKeepTheText) {
  FormInputHooks().check = CaptureScreen;
  RegisterHotKeyPopups(LookAtTheScreen, nullptr);
  // "311325" is no date: the message row says why, and the text stays, so
  // typing over its start corrects it ("XX" used to give "XX1226").
  Run("311325{Enter}{A-x}3112{Enter}{A-x}{Esc}");
  EXPECT_EQ(Screen().beeps, 1);
  ASSERT_EQ(rowsInPopup.size(), 25u);
  EXPECT_EQ(Value(1), "311225  ");
  // Corrected, the message goes.
  EXPECT_EQ(rowsInPopup[23], "");
  Run("311325{Enter}{A-x}{Esc}");
  EXPECT_EQ(rowsInPopup[23], " Data incorrecta: escriviu una data que existeixi, dia, mes i any");
  EXPECT_EQ(rowsInPopup[2], "  Data: 311325");
  RegisterHotKeyPopups(nullptr, nullptr);
  // Each checked type explains itself.
  for (int16_t type : {1, 3, 6, 11, 12}) EXPECT_FALSE(FieldCheckMessage(type).empty()) << type;
  EXPECT_NE(FieldCheckMessage(6), FieldCheckMessage(11));
  EXPECT_TRUE(FieldCheckMessage(4).empty());
}

TEST_F(FormInputTest, F4OnAChoiceOrAFieldWithoutAListKeepsTheValue) {
  // The choice was moved to "Si" before F4: it stays "Si".
  Run("{Down}{Down}{Right}{F4}{Enter}{Esc}{Esc}");
  EXPECT_EQ(Value(3), "S");
  // A number field has no list: F4 leaves what was typed.
  Run("{Down}{C-y}4{F4}{Enter}{Esc}{Esc}");
  EXPECT_EQ(Value(2), "4 ");
  // A list left without a choice (its file is not open: an empty list)
  // leaves the typed text too.
  Run("{PgDn}ab{F4}{Esc}{Enter}");
  EXPECT_EQ(Value(4), "AB      ");
}

int16_t refuseAtField = 0;
int16_t RefuseNamingAField(int16_t screen, int32_t& key) {
  const int16_t result = TestCheck(screen, key);
  if (result != 0) FormFaultField() = refuseAtField;
  return result;
}

TEST_F(FormInputTest, ARefusedScreenPutsTheCursorOnTheFieldAtFault) {
  FormInputHooks().check = RefuseNamingAField;
  refuseAtField = 4;
  refuseTimes = 1;
  // Finished with Enter on the last field; refused at field 4, which is
  // where the next keys go.
  EXPECT_EQ(Run("{PgDn}{Enter}q{Enter}"), kKeyEnter);
  EXPECT_EQ(checkCalls, 2);
  EXPECT_EQ(Value(4), "Q       ");
  EXPECT_EQ(Value(1), "010101  ");
}

TEST_F(FormInputTest, KeyLineNamesTheKeysThatWork) {
  FormInputHooks().check = CaptureScreen;
  struct Case {
    const char* keys;  // the screen's key list
    const char* line;
  } cases[] = {
      {"3c00,3e00,4900,5100", " F1 Ajuda  F4 Llista  Alt-X Calculadora  Alt-C Calendari  Esc Surt"},
      {"3c00,3e00,2", " F1 Ajuda  F4 Llista  Alt-X Calculadora  Alt-C Calendari  Ctrl-B Acaba  Esc Surt"},
      {"", " F1 Ajuda  Alt-X Calculadora  Alt-C Calendari  Esc Surt"},
  };
  for (const Case& c : cases) {
    SetUp();
    FormInputHooks().check = CaptureScreen;
    JobForm().screens[0].name = c.keys;
    Run("{Esc}");
    ASSERT_EQ(screenAtCheck.size(), 25u);
    EXPECT_EQ(screenAtCheck[24], c.line) << c.keys;
    // The row is given back when the screen ends.
    EXPECT_EQ(Row(25), "") << c.keys;
  }
  // Ctrl-B, when listed, finishes the screen from any field.
  SetUp();
  JobForm().screens[0].name = "3c00,2";
  EXPECT_EQ(Run("{Down}{C-b}"), 2);
  EXPECT_EQ(checkCalls, 1);
}

TEST_F(FormInputTest, EndFinishesTheScreenWhenListedElseMovesTheCursor) {
  struct Case {
    const char* keys;  // the screen's key list
    const char* script;
    int32_t key;
    const char* text;  // field 4 afterwards
  } cases[] = {
      // Listed, End finishes the screen from any field (a choice as well)
      // with what was typed stored; Enter still goes to the next field.
      {"3c00,4900,5100,4f00", "{Down}{End}", kKeyEnd, "        "},
      {"3c00,4900,5100,4f00", "{Down}{Down}{End}", kKeyEnd, "        "},
      {"3c00,4900,5100,4f00", "{PgDn}ab{End}", kKeyEnd, "AB      "},
      {"3c00,4900,5100,4f00", "{Enter}{Enter}{Enter}x{Enter}", kKeyEnter, "X       "},
      // Ctrl-End goes to the end of the text instead.
      {"3c00,4900,5100,4f00", "{PgDn}ab{Up}{Down}{Home}{C-End}c{Enter}", kKeyEnter, "ABC     "},
      // Not listed, End only moves the cursor.
      {"3c00,4900,5100", "{PgDn}ab{Home}{End}c{Enter}", kKeyEnter, "ABC     "},
  };
  for (const Case& c : cases) {
    SetUp();
    JobForm().screens[0].name = c.keys;
    EXPECT_EQ(Run(c.script), c.key) << c.keys << " " << c.script;
    EXPECT_EQ(checkCalls, 1) << c.script;
    EXPECT_EQ(Value(4), c.text) << c.script;
  }
}

TEST_F(FormInputTest, BlankDateBecomesTheSessionDate) {
  Run("{C-y}{Enter}{Esc}{Esc}");
  EXPECT_EQ(Value(1), DateDigits(Session().sessionDate) + "  ");
  Run("3113{Enter}{Esc}");
  EXPECT_EQ(Screen().beeps, 1) << "31/13 is no date";
}

TEST_F(FormInputTest, FieldTypeChecks) {
  struct Case {
    int16_t type;
    const char* value;
    int16_t result;
    const char* stored;
  } cases[] = {
      {3, "12 ", 0, "12 "},   {3, "-1", -1, "-1"},    {12, "1.5", -1, "1.5"},
      {6, "10", 0, "10"},     {6, "11", -1, "11"},    {11, "60", 0, "60"},
      {11, "61", -1, "61"},   {11, "2.5", -1, "2.5"}, {4, "abc", 0, "ABC"},
      {9, "abc", 0, "abc"},   {1, "7/12/26", 0, "7/12/26"},
      {1, "31/4/26", -1, "31/4/26"},
  };
  for (const Case& c : cases) {
    std::string value = c.value;
    EXPECT_EQ(CheckFieldValue(c.type, value), c.result) << c.type << " " << c.value;
    EXPECT_EQ(value, c.stored);
  }
}

TEST_F(FormInputTest, ARefusingCheckRestartsAtTheFirstField) {
  refuseTimes = 1;
  // Finish with Enter on the last field; the check refuses; the operator is
  // back on the date field, blanks it (the session date) and leaves.
  EXPECT_EQ(Run("{PgDn}{Enter}{C-y}{Enter}{Esc}{Esc}"), kKeyEscape);
  EXPECT_EQ(checkCalls, 2);
  EXPECT_EQ(checkedKeys, (std::vector<int32_t>{kKeyEnter, kKeyEscape}));
  EXPECT_EQ(Value(1), DateDigits(Session().sessionDate) + "  ");
}

TEST_F(FormInputTest, LinkedScreenRunsAsASubScreen) {
  // F2 opens screen 2 in its window; Up on its only field leaves it with
  // Esc and the cursor stays on screen 1.
  JobForm().screens[0].linkScreen = 2;
  EXPECT_EQ(Run("{F2}{Up}{Esc}"), kKeyEscape);
  EXPECT_EQ(Windows().depth, 0);
  // Enter on the last field of screen 1 runs screen 2; Enter there ends
  // both.
  EXPECT_EQ(Run("{PgDn}{Enter}{Right}{Enter}"), kKeyEnter);
  EXPECT_EQ(Value(1, 2), "N");
  EXPECT_EQ(Row(12), "") << "the window is gone";
}

TEST_F(FormInputTest, HelpAndListKeysKeepTheCursor) {
  // No help file, no open data file: each shows an empty window that Esc
  // closes, and the cursor stays on the field.
  Session().menuOption = "NOHIHA  ";
  EXPECT_EQ(Run("{F1}{Esc}{F4}{Esc}"), kKeyEscape);
  EXPECT_EQ(checkCalls, 1);
  EXPECT_EQ(Windows().depth, 0);
  EXPECT_EQ(Run("{PgDn}{F4}{Esc}x{Enter}"), kKeyEnter);
  EXPECT_EQ(Value(4), "X       ");
}

TEST_F(FormInputTest, BadScreensEndWithoutHanging) {
  EXPECT_EQ(Run("", 7), kKeyEscape);
  EXPECT_EQ(Run("", -3), kKeyEscape);
  // Input that ends inside a screen whose check always refuses still ends.
  refuseTimes = 1000;
  EXPECT_EQ(Run("{Down}"), kKeyEscape);
}

TEST_F(FormInputTest, FieldsOfNoWidthOrWiderThanTheScreen) {
  // A field of width 0 (even with a choice list) edits nothing; a field of
  // 200 characters runs on over the rows below and keeps its length.
  constexpr std::string_view form =
      "1,3\r\n"
      "\"\",3,0,0,0,0,0\r\n"
      "3,3,\"A: \",0,0,0,0,0,0,\"|S,Si\"\r\n"
      "4,70,\"B: \",200,0,30,0,4,0,\"\"\r\n"
      "25,79,\"C: \",0,0,0,0,0,0,\"\"\r\n"
      "0\r\n";
  ResetJobFormForTesting();
  ASSERT_TRUE(ParseJobForm(form).ok);
  EXPECT_EQ(Run("x{Enter}{End}abc{Enter}{Click 5 1}{Enter}"), kKeyEnter);
  EXPECT_EQ(Value(1), "");
  EXPECT_EQ(Value(2), "ABC" + std::string(197, ' '));
  EXPECT_EQ(Value(3), "");
}

TEST_F(FormInputTest, SecretAndPassedOverFields) {
  constexpr std::string_view form =
      "1,4\r\n"
      "\"zz,,3c00\",3,0,0,0,0,0\r\n"
      "3,3,\"A: \",4,0,0,4,0,0,\"\"\r\n"
      "4,3,\"B: \",4,0,0,2,0,0,\"\"\r\n"
      "5,3,\"C: \",4,0,0,4,0,0,\"\"\r\n"
      "0\r\n";
  ResetJobFormForTesting();
  ASSERT_TRUE(ParseJobForm(form).ok);
  PlaceFieldValue(1, 2, "old");
  // The damaged screen name still leaves the editing keys; the first field
  // is passed over, the secret field shows stars and stores what was typed.
  EXPECT_EQ(Run("pw{Enter}"), kKeyEnter);
  EXPECT_EQ(Value(2), "pw  ");
  EXPECT_EQ(Row(4), "  B: ****");
  EXPECT_EQ(KeyMap().current.mask, 0);
  EXPECT_TRUE(KeyMap().saved.empty());
}

}  // namespace
}  // namespace kestrova

// The revision form live: the job's form run by the form input with the
// revision hooks installed, keys typed from a script, the screen read back.
#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>

#include "console/form_input.h"
#include "console/keyboard.h"
#include "platform/codepage.h"
#include "platform/headless.h"
#include "platform/screen.h"
#include "revision/parameters.h"
#include "session/job_form.h"
#include "session/language.h"
#include "session/session.h"
#include "support/temp_dir.h"
#include "unit/revision/form_session.h"
#include "unit/revision/memory_records.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

using testing::AddRecord;
using testing::IndexRecord;
using testing::InstallFile;

// The operator: one scripted event each time the job waits for input (a
// flush finds nothing pending), and the rows a window covers (a message at
// row 12, the confirmation) each time a key was asked for while one was
// open.
std::deque<InputEvent>& Script() {
  static std::deque<InputEvent> script;
  return script;
}
std::set<std::string>& WindowTexts() {
  static std::set<std::string> texts;
  return texts;
}
void Operator(ScreenState& screen, int timeoutMs) {
  if (timeoutMs == 0) return;
  if (Windows().depth > 0) {
    for (int row = 9; row <= 14; ++row) WindowTexts().insert(ScreenRowText(row));
  }
  if (Script().empty()) {
    screen.input.push_back({InputKind::kEnd});
    return;
  }
  screen.input.push_back(Script().front());
  Script().pop_front();
}

bool Shown(const std::string& utf8) {
  for (const std::string& row : WindowTexts()) {
    if (row.find(utf8) != std::string::npos) return true;
  }
  return false;
}

class RevisionFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::StartRevisionSession(dir_.Path());
    ResetKeyboardForTesting();
    ResetFormInputForTesting();
    ASSERT_TRUE(ParseJobForm(InstallFile("FORMS/KESTROVA.JPN")).ok);
    Screen().backend.waitInput = Operator;
    Script().clear();
    WindowTexts().clear();

    testing::InstallMemoryRecords();
    AddRecord(kConceptTypeFile, testing::ConceptRecord(2, "AUGMENTS", 1));
    AddRecord(kPriceIndexFile, IndexRecord('I', "202401", 103.2506));
    AddRecord(kUnitFile, testing::UnitBytes({}));
    const char* values[] = {"L", "15012024", "1", "1", "0", "999", "999", "2", "0", "", "15012024", ""};
    for (int i = 0; i < 12; ++i) PlaceFieldValue(1, i + 1, values[i]);
    InstallRevisionFormHooks();
  }
  void TearDown() override {
    ResetFormInputForTesting();
    ResetRevisionRecordAccessForTesting();
    ResetScreenForTesting();
  }

  static void Type(const std::string& script) {
    std::vector<InputEvent> events;
    std::string problem;
    ASSERT_TRUE(ParseKeyScript(script, events, problem)) << problem;
    Script().insert(Script().end(), events.begin(), events.end());
  }
  static int32_t RunScreenOne() {
    int32_t key = 0;
    int16_t a = 0, b = 0;
    RunFormScreen(1, key, a, b);
    return key;
  }

  testing::TempDir dir_;
};

// Typing an undefined concept shows "*** conc.no def. ***" beside it; the
// finished screen shows the concept's message and comes back; Esc leaves.
TEST_F(RevisionFormTest, ABadConceptIsDescribedAndRefused) {
  Type("{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}4{Enter}");
  Type("{Enter}{Enter}{Enter}{Enter}");  // the last field finishes the screen
  Type("{Enter}");                       // the operator reads the message
  Type("{Esc}");                         // first field: leaves the form
  EXPECT_EQ(RunScreenOne(), kKeyEscape);
  EXPECT_TRUE(Shown("NO EXISTEIX EL CONCEPTE D'AUGMENT 4"));
  EXPECT_NE(ScreenRowText(13).find("*** conc.no def. ***"), std::string::npos);
  EXPECT_EQ(Windows().depth, 0);
}

// A good form goes to the confirmation; "S" there accepts it.
TEST_F(RevisionFormTest, SOnTheConfirmationAcceptsTheForm) {
  Type("{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}");
  Type("S{Enter}");
  EXPECT_EQ(RunScreenOne(), kKeyEnter);
  EXPECT_TRUE(Shown("Confirmeu la revisi"));
  EXPECT_EQ(JobForm().screens[1].fields[0].value, "S");
  EXPECT_EQ(Revision().IndexValue, 103251);
  EXPECT_NE(ScreenRowText(13).find("AUGMENTS"), std::string::npos);
}

// "N" on the confirmation sends the operator back to the form.
TEST_F(RevisionFormTest, NOnTheConfirmationKeepsTheFormOpen) {
  Type("{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}");
  Type("N{Enter}");
  Type("{Esc}");
  EXPECT_EQ(RunScreenOne(), kKeyEscape);
  EXPECT_EQ(JobForm().screens[1].fields[0].value, "N");
}

// End finishes the form from any field, a choice or a typed value, and the
// confirmation comes; Enter only moves on.  Ctrl-End is the way to the end
// of the typed text, so a value can still be added to.
TEST_F(RevisionFormTest, EndFinishesTheFormFromAnyFieldAndEnterMovesOn) {
  struct Case {
    const char* keys;       // the operator's keys before the confirmation
    bool confirmed;         // the confirmation came (and "S" accepted it)
    const char* toEstate;   // "Fins a la finca" afterwards
  } cases[] = {
      {"{End}", true, "999 "},                                     // the task: a choice
      {"{Down}{End}", true, "999 "},                               // the date
      {"{Down}{Down}{Down}{Down}{Down}{End}", true, "999 "},       // a number
      {"{PgDn}{End}", true, "999 "},                               // the last field
      {"{Down}{Down}{Down}{Down}{Down}{C-End}9{End}", true, "9999"},
      {"{Down}{Down}{Down}{Down}{Down}{C-End}9{Enter}", false, "9999"},
      {"{Enter}{Enter}", false, "999 "},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    Screen().inputGone = nullptr;  // a script that runs short must not end the tests
    Type(c.keys);
    Type("S{Enter}{Esc}{Esc}");
    const int32_t key = RunScreenOne();
    EXPECT_EQ(Shown("Confirmeu la revisi"), c.confirmed) << c.keys;
    EXPECT_EQ(key, c.confirmed ? kKeyEnter : kKeyEscape) << c.keys;
    EXPECT_EQ(JobForm().screens[0].fields[5].value, c.toEstate) << c.keys;
  }
}

}  // namespace
}  // namespace kestrova

#include "session/job_form.h"

#include <gtest/gtest.h>

#include "job/driver.h"
#include "platform/clock.h"
#include "session/language.h"
#include "session/session.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

// A form of two screens (capacity 12) in the suite's layout.
std::string Screen1(int fields) {
  std::string text = "\"3c00\"," + std::to_string(fields) + ",0,0,0,0,0\r\n";
  for (int j = 1; j <= fields; ++j) {
    const int width = j == 1 ? 1 : j == 2 || j == 11 ? 8 : j == 12 ? 8 : 3;
    text += std::to_string(j + 2) + ",3,\"Camp " + std::to_string(j) + ": \"," +
            std::to_string(width) + ",0,0,0,3,0,\"\"\r\n";
  }
  return text;
}

const std::string kHeader = "2,12\r\n";
const std::string kScreen2 = "\"\",1,0,10,20,14,60\r\n2,3,\"Confirmeu ? \",1,0,0,0,4,0,\"|S,Si|N,No\"\r\n";
const std::string kLists = "2\r\n4,10,20,70,506,0,0,\"Finques\",0\r\n4,10,20,70,60,0,0,\"Textos, cartes\",0\r\n";

class JobFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetJobFormForTesting();
    ResetSessionForTesting();
    Session().language = "CAT";
  }
};

TEST_F(JobFormTest, LoadsScreensFieldsAndLists) {
  const FormLoadResult r = ParseJobForm(kHeader + Screen1(12) + kScreen2 + kLists);
  ASSERT_TRUE(r.ok) << r.problem;
  const JobFormState& form = JobForm();
  EXPECT_EQ(form.screenCount, 2);
  ASSERT_EQ(form.screens.size(), 2u);
  EXPECT_EQ(form.screens[0].name, "3c00");
  EXPECT_EQ(form.screens[0].fieldCount, 12);
  EXPECT_EQ(form.screens[1].fields.size(), 12u);  // every screen gets the capacity
  EXPECT_EQ(form.screens[1].top, 10);
  EXPECT_EQ(form.screens[1].right, 60);
  const FormField& f = form.screens[1].fields[0];
  EXPECT_EQ(f.label, "Confirmeu ? ");
  EXPECT_EQ(f.help, "|S,Si|N,No");
  EXPECT_EQ(f.controls[3], 4);
  EXPECT_EQ(f.value, " ");
  EXPECT_EQ(form.screens[1].fields[1].value, "");  // unused slot stays empty
  ASSERT_EQ(form.lists.size(), 2u);
  EXPECT_EQ(form.lists[1].title, "Textos, cartes");
  EXPECT_EQ(form.lists[1].codes[4], 60);
  EXPECT_EQ(form.lists[1].codes[7], 0);
}

TEST_F(JobFormTest, CommentLines) {
  // Comments before the header, before screen records, the list header and
  // list records are skipped; a first line "'" with anything after it too.
  const std::string text = "'any text at all, \"even quotes\r\n" + kHeader + "' screen one\r\n" +
                           Screen1(12) + "'\r\n' two\r\n" + kScreen2 + "' lists\r\n" + kLists;
  const FormLoadResult r = ParseJobForm(text);
  ASSERT_TRUE(r.ok) << r.problem;
  EXPECT_EQ(JobForm().lists.size(), 2u);
}

TEST_F(JobFormTest, CommentBetweenFieldLinesIsReadAsData) {
  std::string screen = Screen1(12);
  screen.insert(screen.find("\r\n") + 2, "' not a comment here\r\n");
  const FormLoadResult r = ParseJobForm(kHeader + screen + kScreen2 + kLists);
  EXPECT_FALSE(r.ok);  // the apostrophe line shifts every item of the screen
}

TEST_F(JobFormTest, ShortFiles) {
  struct Case {
    const char* name;
    std::string text;
    bool ok;
    std::size_t lists;
    std::string listTitle1;
  } cases[] = {
      {"ends after its screens", kHeader + Screen1(12) + kScreen2, true, 0, ""},
      {"fewer list records than announced",
       kHeader + Screen1(12) + kScreen2 + "3\r\n4,10,20,70,506,0,0,\"Finques\",0\r\n", true, 3,
       "Finques"},
      {"list record cut short",
       kHeader + Screen1(12) + kScreen2 + "2\r\n4,10,20,70,506,0,0,\"Finques\",0\r\n4,10,20\r\n",
       true, 2, "Finques"},
      {"ends inside screen 2", kHeader + Screen1(12) + "\"\",1,0,10,20", false, 0, ""},
      {"ends after screen 1", kHeader + Screen1(12), false, 0, ""},
      {"empty", "", false, 0, ""},
      {"comments only", "' nothing\r\n", false, 0, ""},
      {"word where a number is due", "2,X\r\n", false, 0, ""},
      {"word in a list record",
       kHeader + Screen1(12) + kScreen2 + "1\r\n4,10,X,70,506,0,0,\"Finques\",0\r\n", false, 0, ""},
      {"word as the last list code",
       kHeader + Screen1(12) + kScreen2 + "1\r\n4,10,20,70,506,0,0,\"Finques\",Z\r\n", false, 0, ""},
      {"more fields than the capacity", "1,2\r\n\"\",3,0,0,0,0,0\r\n", false, 0, ""},
      {"no screens", "0,12\r\n", false, 0, ""},
      {"huge capacity", "1,30000\r\n", false, 0, ""},
      {"number out of 16 bits", "1,99999\r\n", false, 0, ""},
      {"negative width", "1,1\r\n\"\",1,0,0,0,0,0\r\n1,1,\"A\",-4,0,0,0,0,0,\"\"\r\n", false, 0, ""},
      {"end-of-file mark", kHeader + Screen1(12) + kScreen2 + "\x1A" + kLists, true, 0, ""},
  };
  for (const Case& c : cases) {
    ResetJobFormForTesting();
    const FormLoadResult r = ParseJobForm(c.text);
    EXPECT_EQ(r.ok, c.ok) << c.name << ": " << r.problem;
    if (c.ok) {
      EXPECT_EQ(JobForm().lists.size(), c.lists) << c.name;
      if (!c.listTitle1.empty()) {
        EXPECT_EQ(JobForm().lists[0].title, c.listTitle1) << c.name;
      }
    } else {
      EXPECT_FALSE(r.problem.empty()) << c.name;
    }
  }
}

TEST_F(JobFormTest, ProblemNamesTheLine) {
  const FormLoadResult r = ParseJobForm("' c\r\n2,12\r\n\"\",1,0,0,0,0,0\r\n1,x,\"A\",1,0,0,0,0,0,\"\"\r\n");
  ASSERT_FALSE(r.ok);
  EXPECT_NE(r.problem.find("line 4"), std::string::npos) << r.problem;
}

TEST_F(JobFormTest, ScreenOneDefaults) {
  // Widths: 1, 8, 3 ... with field 9 two wide to see cutting.
  std::string screen = "\"\",11,0,0,0,0,0\r\n";
  const int widths[11] = {1, 8, 1, 3, 2, 2, 3, 1, 2, 2, 4};
  for (int j = 0; j < 11; ++j) {
    screen += "1,1,\"L\"," + std::to_string(widths[j]) + ",0,0,0,0,0,\"\"\r\n";
  }
  ASSERT_TRUE(ParseJobForm("1,12\r\n" + screen).ok);
  SetClockForTesting(LocalDateTime{2026, 12, 7});
  Session().sessionDate = "\x94\x9A\x8C\x87";  // 2026-12-07
  PlaceScreenOneDefaults();
  SetClockForTesting(std::nullopt);
  const char* expected[12] = {"L", "071226  ", "1", "1  ", "0 ", "99", "999",
                              "2", "  ", "  ", "0712", ""};
  const FormScreen& s = JobForm().screens[0];
  for (int j = 0; j < 12; ++j) EXPECT_EQ(s.fields[j].value, expected[j]) << "field " << j + 1;
}

TEST_F(JobFormTest, PlaceFieldValueIgnoresFieldsOutsideTheScreen) {
  ASSERT_TRUE(ParseJobForm(kHeader + Screen1(3) + kScreen2).ok);
  PlaceFieldValue(1, 4, "X");
  PlaceFieldValue(3, 1, "X");
  PlaceFieldValue(0, 1, "X");
  EXPECT_EQ(JobForm().screens[0].fields[3].value, "");
}

}  // namespace
}  // namespace kestrova

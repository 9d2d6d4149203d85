// The pop-ups in the real job: Alt-C on the application date picks a date
// two days after today, Alt-X on the first estate field works out 12.5, and
// each types its result into the field being edited.  The job is then left
// with Esc from the form, and the screen it leaves shows the form.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "integration/whole_job.h"

namespace kestrova {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
    lines.push_back(text.substr(from, end - from));
  }
  return lines;
}

// Today + 2 days as the demo installation writes dates (day/month/year).
std::string TwoDaysFromToday() {
  std::time_t now = std::time(nullptr);
  std::tm day = *std::localtime(&now);
  day.tm_mday += 2;
  day.tm_hour = 12;
  std::mktime(&day);
  return std::to_string(day.tm_mday) + "/" + std::to_string(day.tm_mon + 1) + "/" + std::to_string(day.tm_year + 1900);
}

TEST_F(WholeJobTest, PopUpsTypeTheirResultsIntoTheFormFields) {
  const std::string expectedDate = TwoDaysFromToday();
  // Task: Enter; date: cleared, calendar, two days on, F; regime: Enter;
  // first estate: cleared, calculator, 12.5, F, Enter; Esc back to the
  // first field.
  ASSERT_EQ(RunJob("{Enter}{C-y}{A-c}{Right}{Right}F{Enter}{Enter}{C-y}{A-x}12.5F{Enter}{Esc}", "informe.txt"), 0)
      << ReadFile(tmp_.Path() + "job.log");
  if (TwoDaysFromToday() != expectedDate) GTEST_SKIP() << "the day changed while the job ran";
  const std::vector<std::string> screen = Lines(ReadFile(tmp_.Path() + "screen.txt"));
  ASSERT_GE(screen.size(), 9u);
  EXPECT_EQ(screen[4].rfind("  Data d'aplicació ..........: " + expectedDate, 0), 0u) << screen[4];
  // 12.5 types 1250, as much of it as the estate field holds.
  const std::string estate = "  Des de la finca ...........: ";
  ASSERT_EQ(screen[7].rfind(estate, 0), 0u) << screen[7];
  EXPECT_EQ(screen[7].substr(estate.size(), 3), "125") << screen[7];
  EXPECT_NE(std::string(" 0").find(screen[7][estate.size() + 3]), std::string::npos) << screen[7];
  // The calculator kept its state in the workstation's directory.
  const std::string state = ReadFile(root_ + "TERMINAL/JOBCALC.TMP");
  EXPECT_EQ(state.rfind("1,23,12.5,0\r\n", 0), 0u) << state;
}

}  // namespace
}  // namespace kestrova

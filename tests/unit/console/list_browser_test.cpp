#include "console/list_browser.h"

#include <deque>
#include <filesystem>
#include <utility>

#include "calendar/text_checks.h"
#include "console/form_input.h"
#include "console_test_support.h"
#include "platform/clock.h"
#include "recordmanager/btrcall.h"
#include "session/job_form.h"
#include "storage/data_files.h"
#include "storage/record_interface.h"
#include "storage/record_locks.h"

namespace kestrova {
namespace {

constexpr int16_t kFile = 506;

std::string U16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

// 20-byte records keyed on their first 4 characters; the line is the key,
// two blanks and the name that follows it.
uint8_t record[64];
bool TestLine(int16_t list, std::string& line) {
  EXPECT_EQ(list, 1);
  const std::string r(reinterpret_cast<const char*>(record), 20);
  if (r[0] == '9') return false;  // a record the hook leaves out
  line = r.substr(0, 4) + "  " + r.substr(4);
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return true;
}

class ListBrowserTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    BTRCALL(28, nullptr, nullptr, nullptr, nullptr, 0, 0);
    ResetFileSlotsForTesting();
    ResetLockModeStackForTesting();
    ResetJobFormForTesting();
    ResetFormInputForTesting();
    Session().language = "CAT";
    Session().jobRoot = dir_.Path();
    ASSERT_TRUE(ParseJobForm("1,1\r\n\"\",0,0,0,0,0,0\r\n1\r\n"
                             "4,10,12,50,506,0,0,\"Finques\",7\r\n").ok);
    FormInputHooks().listLine = TestLine;
    // The file, created from its dictionary, with its records.
    std::string description = U16(20) + U16(1024) + U16(1);
    description.resize(16, '\0');
    std::string segment = U16(1) + U16(4) + U16(0);
    segment.resize(16, '\0');
    description += segment;
    dir_.Write("ddf/Prova.xdf", U16(static_cast<uint16_t>(description.size())) + description);
    std::filesystem::create_directories(dir_.Path() + "DADES");
    ASSERT_EQ(OpenDataFile(kFile, dir_.Path() + "DADES\\Prova", {record, sizeof record, 20}), 0);
    FileSlot& slot = FileSlots()[static_cast<std::size_t>(OpenSlot(kFile))];
    for (const char* name : {"0001Major", "0002Àngel", "0003Nou", "0004Sol", "9999Amagat",
                             "0005Riera", "0006Mar", "0007Pi", "0008Llarg", "0009Sant Pere",
                             "0010Rambla", "0011Urgell"}) {
      std::string r = name;
      r = std::string(r.substr(0, 4)) + std::string(Utf8ToCp850(r.substr(4)));
      r.resize(20, ' ');
      uint32_t length = 20;
      char key[255] = {};
      ASSERT_EQ(BTRCALL(2, slot.positionBlock.data(), r.data(), &length, key, 255, 0), 0);
    }
    SetLockModeFor(1);
  }
  void TearDown() override {
    ResetFiles();
    ResetFileSlotsForTesting();
  }
  void SetLockModeFor(int16_t mode) {
    FileSlots()[static_cast<std::size_t>(OpenSlot(kFile))].lockMode = mode;
  }
  std::string Chosen() const {
    std::string r(reinterpret_cast<const char*>(record), 20);
    while (!r.empty() && r.back() == ' ') r.pop_back();
    return r;
  }
};

TEST_F(ListBrowserTest, ChoosingALine) {
  struct Case {
    const char* script;
    bool chosen;
    const char* record;
  } cases[] = {
      {"{Enter}", true, "0001Major"},
      {"{Down}{Down}{Enter}", true, "0003Nou"},
      {"{End}{Enter}", true, "0011Urgell"},
      {"{End}{Down}{Home}{Up}{Enter}", true, "0001Major"},
      // Seven rows inside the window: PgDn moves a page.
      {"{PgDn}{Enter}", true, "0008Llarg"},
      {"{PgDn}{PgUp}{Enter}", true, "0001Major"},
      // Typed letters find a line by its name (column 7), accents folded.
      {"r{Enter}", true, "0005Riera"},
      {"ra{Enter}", true, "0010Rambla"},
      {"a{Enter}", true, "0002Àngel"_cp.data()},
      {"sz{Enter}", true, "0004Sol"},  // z matches nothing: beep, S stays
      {"sa{Bksp}o{Enter}", true, "0004Sol"},
      // A click on a line highlights it, a second click chooses it.
      {"{Click 7 20}{Click 7 20}", true, "0003Nou"},
      {"{Esc}", false, ""},
      {"{Down}{Click 20 75}", false, ""},
  };
  for (const Case& c : cases) {
    Screen().input.clear();
    Screen().beeps = 0;
    std::fill(std::begin(record), std::end(record), 0);
    Type(c.script);
    EXPECT_EQ(BrowseList(1), c.chosen) << c.script;
    if (c.chosen) {
      EXPECT_EQ(Chosen(), c.record) << c.script;
    }
    // The lock mode is back as it was, the window gone.
    EXPECT_EQ(FileSlots()[static_cast<std::size_t>(OpenSlot(kFile))].lockMode, 1) << c.script;
    EXPECT_TRUE(LockModeStack().empty()) << c.script;
    EXPECT_EQ(Windows().depth, 0) << c.script;
  }
}

std::vector<std::string> shown;
std::string Snapshot() {
  shown.clear();
  for (int row = 4; row <= 12; ++row) {
    std::string cells;
    for (int column = 10; column <= 50; ++column) cells += static_cast<char>(ReadCell(row, column).character);
    shown.push_back(Cp850ToUtf8(cells));
  }
  return "";
}

TEST_F(ListBrowserTest, ShowsTheLinesInItsFramedWindow) {
  RegisterHotKeyPopups(Snapshot, nullptr);
  Type("{Down}{A-x}{Esc}");
  EXPECT_FALSE(BrowseList(1));
  ASSERT_EQ(shown.size(), 9u);
  EXPECT_EQ(shown[0], "┌────────────────Finques────────────────┐");
  EXPECT_EQ(shown[1], "│0001  Major                            │");
  EXPECT_EQ(shown[2], "│0002  Àngel                            │");
  EXPECT_EQ(shown[8], "└───────────────────────────────────────┘");
}

TEST_F(ListBrowserTest, OpensAtTheStartKey) {
  struct Case {
    const char* start;
    const char* record;
  } cases[] = {
      {"0005", "0005Riera"},
      {"0010", "0010Rambla"},
      {"", "0001Major"},
      // Past the last listed line (the hidden "9999" is not listed): the
      // last line.
      {"0012", "0011Urgell"},
      {"9999", "0011Urgell"},
  };
  for (const Case& c : cases) {
    Screen().input.clear();
    Type("{Enter}");
    EXPECT_TRUE(BrowseList(1, c.start)) << c.start;
    EXPECT_EQ(Chosen(), c.record) << c.start;
  }
}

TEST_F(ListBrowserTest, TypedLettersShowOnTheFrame) {
  RegisterHotKeyPopups(Snapshot, nullptr);
  Type("sa{A-x}{Esc}");
  EXPECT_FALSE(BrowseList(1));
  ASSERT_EQ(shown.size(), 9u);
  EXPECT_EQ(shown[8], "└─ sa ──────────────────────────────────┘");
  // Any other key ends the search, and the frame is whole again.
  Type("sa{Down}{A-x}{Esc}");
  EXPECT_FALSE(BrowseList(1));
  EXPECT_EQ(shown[8], "└───────────────────────────────────────┘");
  RegisterHotKeyPopups(nullptr, nullptr);
}

// Input delivered one event at a time, with the clock moved on before
// each by the given milliseconds.
std::deque<std::pair<int, InputEvent>> timedInput;
LocalDateTime timedNow;
void DeliverTimed(ScreenState& screen, int) {
  if (timedInput.empty()) {
    screen.input.push_back({InputKind::kEnd});
    return;
  }
  const auto [pause, event] = timedInput.front();
  timedInput.pop_front();
  timedNow.millisecond += pause % 1000;
  timedNow.second += pause / 1000;
  timedNow.second += timedNow.millisecond / 1000;
  timedNow.millisecond %= 1000;
  SetClockForTesting(timedNow);
  screen.input.push_back(event);
}

TEST_F(ListBrowserTest, APauseStartsANewSearch) {
  struct Case {
    int pause;  // before the second letter
    const char* record;
  } cases[] = {
      {200, "0004Sol"},     // "sm" matches nothing: the "s" stays
      {3000, "0001Major"},  // after a pause "m" is a new search
  };
  for (const Case& c : cases) {
    Screen().input.clear();
    timedNow = LocalDateTime{2026, 12, 8, 10, 0, 0, 0};
    timedInput.clear();
    timedInput.push_back({0, {InputKind::kKey, 's'}});
    timedInput.push_back({c.pause, {InputKind::kKey, 'm'}});
    timedInput.push_back({0, {InputKind::kKey, kKeyEnter}});
    Screen().backend.waitInput = DeliverTimed;
    EXPECT_TRUE(BrowseList(1)) << c.pause;
    EXPECT_EQ(Chosen(), c.record) << c.pause;
    Screen().backend = ScreenBackend{};
    SetClockForTesting(std::nullopt);
  }
}

TEST_F(ListBrowserTest, ListsThatCannotBeShown) {
  EXPECT_FALSE(BrowseList(0));
  EXPECT_FALSE(BrowseList(2));
  // A file that is not open: an empty list that Esc leaves.
  JobForm().lists[0].codes[4] = 999;
  Type("{Enter}{Esc}");
  EXPECT_FALSE(BrowseList(1));
  // A window off the screen is put in the default place.
  JobForm().lists[0].codes = {0, 0, 40, 90, kFile, 0, 0, 0};
  Type("{Enter}");
  EXPECT_TRUE(BrowseList(1));
  EXPECT_EQ(Chosen(), "0001Major");
}

TEST(FindTypedLineTest, FoldsAccentsAndCase) {
  const std::vector<std::string> lines = {"001  Major", std::string("002  Àngel"_cp), "003  ANNA"};
  EXPECT_EQ(FindTypedLine(lines, "a", 6), 1);
  EXPECT_EQ(FindTypedLine(lines, "an", 6), 1);
  EXPECT_EQ(FindTypedLine(lines, "ann", 6), 2);
  EXPECT_EQ(FindTypedLine(lines, "00", 1), 0);
  EXPECT_EQ(FindTypedLine(lines, "x", 6), -1);
  EXPECT_EQ(FindTypedLine(lines, "a", 60), -1);
  EXPECT_EQ(FoldAccents(), 0);
}

}  // namespace
}  // namespace kestrova

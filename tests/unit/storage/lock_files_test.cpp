// The lock files between workstations: the entries as the suite's other
// programs lay them out, conflicts between ranges, abandoned entries, the
// release of the newest own entry, damaged files, and the wait modes.
#include "storage/lock_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/screen.h"
#include "session/session.h"
#include "support/temp_dir.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

// 1 March 2026, 10:00 local time.
constexpr LocalDateTime kNow{2026, 3, 1, 10, 0, 0, 0};
const int32_t kNowStamp = LockStamp(2026, 3, 1, 10 * 3600);

std::string Field(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

// An entry as another program of the suite writes it.
std::string EntryBytes(const std::string& name, int32_t number, int32_t stamp, char type,
                       const std::string& from = "", const std::string& to = "") {
  std::string e = Field(name, 15) + Field(std::to_string(number), 11) + Field(std::to_string(stamp), 8) + type;
  e += Field(std::to_string(from.size()), 2) + Field(from, 40) + Field(std::to_string(to.size()), 2) + Field(to, 40);
  return e + "\r\n";
}

class LockFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSessionForTesting();
    ResetLockFilesForTesting();
    ResetScreenForTesting();
    ResetWindowsForTesting();
    Session().jobRoot = tmp_.Path() + "root/";
    Session().jobTmp = tmp_.Path() + "tmp/";
    std::filesystem::create_directories(tmp_.Path() + "root");
    std::filesystem::create_directories(tmp_.Path() + "tmp");
    Session().language = "CAT";
    SetClockForTesting(kNow);
    SetSleepHookForTesting([this](int32_t ms) { pauses_.push_back(ms); });
    // This workstation.
    Workstation().number = 4242;
    Workstation().name = Field("ESTACIO1", 15);
    LockWaitMode() = 'S';
  }
  void TearDown() override {
    SetClockForTesting(std::nullopt);
    SetSleepHookForTesting({});
    ResetLockFilesForTesting();
  }

  std::string LockPath(const std::string& resource) const { return tmp_.Path() + "root/LOCKS/" + resource + ".lck"; }
  std::string Read(const std::string& resource) const {
    std::ifstream in(LockPath(resource), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void Write(const std::string& resource, const std::string& bytes) const {
    tmp_.Write("root/LOCKS/" + resource + ".lck", bytes);
  }
  std::string Own(int32_t stamp, char type, const std::string& from = "", const std::string& to = "") const {
    return EntryBytes("ESTACIO1", 4242, stamp, type, from, to);
  }
  static std::string Other(int32_t stamp, char type, const std::string& from = "", const std::string& to = "") {
    return EntryBytes("ESTACIO2", 777, stamp, type, from, to);
  }

  testing::TempDir tmp_;
  std::vector<int32_t> pauses_;
};

TEST_F(LockFilesTest, FirstLockCreatesTheDirectoryAndOneEntry) {
  ASSERT_EQ(LockResource("DepartaV  ", "k", "0001", "0002"), 0);
  const std::string file = Read("DepartaV");
  ASSERT_EQ(file.size(), kLockEntryBytes);
  EXPECT_EQ(file, Own(kNowStamp, 'K', "0001", "0002"));
}

TEST_F(LockFilesTest, TimeStampCountsMinutesSinceNineteenSeventy) {
  using namespace std::chrono;
  struct Case {
    int y, m, d, seconds;
  };
  const Case cases[] = {{1970, 1, 1, 0}, {1970, 1, 1, 59}, {2000, 2, 29, 86399}, {2026, 3, 1, 36000},
                        {2099, 12, 31, 43210}, {2100, 3, 1, 0}, {2024, 1, 31, 61}};
  for (const Case& c : cases) {
    const auto days = sys_days(year_month_day(year(c.y), month(static_cast<unsigned>(c.m)), day(static_cast<unsigned>(c.d))))
                          .time_since_epoch()
                          .count();
    EXPECT_EQ(LockStamp(c.y, c.m, c.d, c.seconds), days * 1440 + c.seconds / 60) << c.y << "-" << c.m << "-" << c.d;
  }
}

TEST_F(LockFilesTest, ConflictsBetweenWorkstations) {
  struct Case {
    const char* what;
    std::string file;
    char type;
    std::string from, to;
    int16_t expected;
  };
  const Case cases[] = {
      {"A-C and D-F of others, G-H", Other(kNowStamp, 'K', "A", "C") + Other(kNowStamp, 'K', "D", "F"), 'K', "G", "H", 0},
      {"A-C of one, D-F of another", Other(kNowStamp, 'K', "A", "C"), 'K', "D", "F", 0},
      {"B-E against A-C and D-F", Other(kNowStamp, 'K', "A", "C") + Other(kNowStamp, 'K', "D", "F"), 'K', "B", "E", -1},
      {"B-E against D-F only", Other(kNowStamp, 'K', "D", "F"), 'K', "B", "E", -1},
      {"same key", Other(kNowStamp, 'K', "0001", "0001"), 'K', "0001", "0001", -1},
      {"F against a K entry", Other(kNowStamp, 'K', "A", "C"), 'F', "", "", -1},
      {"K against an F entry", Other(kNowStamp, 'F'), 'K', "X", "Y", -1},
      {"F against a free entry", Other(kNowStamp, ' '), 'F', "", "", 0},
      {"exactly 30 minutes old still holds", Other(kNowStamp - 30, 'F'), 'K', "X", "Y", -1},
      {"31 minutes old is abandoned", Other(kNowStamp - 31, 'F'), 'K', "X", "Y", 0},
      // An own entry further up must not hide another workstation's entry
      // further on: the whole file is checked before granting.
      {"own range, then another's overlapping", Own(kNowStamp, 'K', "B", "B") + Other(kNowStamp, 'K', "A", "Z"), 'K', "B", "B", -1},
      {"own F, then another's K, asking F", Own(kNowStamp, 'F') + Other(kNowStamp, 'K', "A", "Z"), 'F', "", "", -1},
      {"own F, then another's K, asking K", Own(kNowStamp, 'F') + Other(kNowStamp, 'K', "A", "Z"), 'K', "M", "M", -1},
  };
  for (const Case& c : cases) {
    Write("DepartaV", c.file);
    const int16_t result = LockResource("DepartaV", std::string(1, c.type), c.from, c.to);
    EXPECT_EQ(result, c.expected) << c.what;
    if (result != 0) {
      EXPECT_EQ(Read("DepartaV"), c.file) << c.what << ": a refused lock writes nothing";
    }
  }
}

TEST_F(LockFilesTest, GrantedLockReusesItsPlace) {
  struct Case {
    const char* what;
    std::string file;
    std::size_t expectedIndex;
    std::size_t expectedEntries;
  };
  const std::string free = Other(kNowStamp, ' ');
  const Case cases[] = {
      {"own entry for the same key", Other(kNowStamp, 'K', "A", "B") + Own(kNowStamp - 5, 'K', "M", "M"), 1, 2},
      {"a free entry", free + Other(kNowStamp, 'K', "A", "B"), 0, 2},
      {"an abandoned entry", Other(kNowStamp, 'K', "A", "B") + Other(kNowStamp - 31, 'K', "M", "M"), 1, 2},
      {"nothing free: after the last", Other(kNowStamp, 'K', "A", "B"), 1, 2},
  };
  for (const Case& c : cases) {
    Write("TranLauV", c.file);
    ASSERT_EQ(LockResource("TranLauV", "K", "M", "M"), 0) << c.what;
    const std::string file = Read("TranLauV");
    ASSERT_EQ(file.size(), c.expectedEntries * kLockEntryBytes) << c.what;
    EXPECT_EQ(file.substr(c.expectedIndex * kLockEntryBytes, kLockEntryBytes), Own(kNowStamp, 'K', "M", "M")) << c.what;
  }
}

TEST_F(LockFilesTest, AbandonedEntryIsFreedInPlaceKeepingItsKeys) {
  Write("DepartaV", Other(kNowStamp - 31, 'K', "A", "C") + Other(kNowStamp, 'K', "X", "X"));
  ASSERT_EQ(LockResource("DepartaV", "F", "", ""), -1);  // the second entry still holds
  std::string freed = Other(kNowStamp - 31, 'K', "A", "C");
  freed.replace(0, 26, std::string(26, ' '));
  freed[34] = ' ';
  EXPECT_EQ(Read("DepartaV").substr(0, kLockEntryBytes), freed);
}

TEST_F(LockFilesTest, LockKeyWritesPackedBytesAsDigits) {
  EXPECT_EQ(LockKeyText(std::string("A") + static_cast<char>(200)), "A72");
  EXPECT_EQ(LockKeyText(std::string("\x80\xE3\x81\xFF", 4)), std::string("009901\xFF", 7));
  ASSERT_EQ(LockKey("DepartaV", std::string("A") + static_cast<char>(200)), 0);
  EXPECT_EQ(Read("DepartaV"), Own(kNowStamp, 'K', "A72", "A72"));
}

TEST_F(LockFilesTest, ReleaseFreesOnlyTheNewestOwnEntry) {
  Write("DepartaV", Own(kNowStamp - 2, 'K', "A", "A") + Other(kNowStamp, 'K', "Q", "Q") + Own(kNowStamp - 1, 'F') +
                        Own(kNowStamp - 3, 'K', "B", "B"));
  ASSERT_EQ(ReleaseLock("DepartaV"), 0);
  std::string file = Read("DepartaV");
  EXPECT_EQ(file.substr(2 * kLockEntryBytes, 26), std::string(26, ' '));
  EXPECT_EQ(file[2 * kLockEntryBytes + 34], ' ');
  EXPECT_EQ(file.substr(0, kLockEntryBytes), Own(kNowStamp - 2, 'K', "A", "A"));
  ASSERT_EQ(ReleaseLock("DepartaV"), 0);
  ASSERT_EQ(ReleaseLock("DepartaV"), 0);
  EXPECT_EQ(ReleaseLock("DepartaV"), -1);
  file = Read("DepartaV");
  EXPECT_EQ(file.substr(kLockEntryBytes, kLockEntryBytes), Other(kNowStamp, 'K', "Q", "Q"));
}

TEST_F(LockFilesTest, OneLockFileWhateverTheCaseOfTheName) {
  ASSERT_EQ(LockResource("DepartaV", "K", "1", "1"), 0);
  EXPECT_EQ(ReleaseLock("  departav "), 0);
  ASSERT_EQ(LockResource("DEPARTAV", "F", "", ""), 0);
  EXPECT_EQ(ReleaseLock("DEPARTAV"), 0);
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(tmp_.Path() + "root/LOCKS")) {
    ++files;
    EXPECT_EQ(entry.path().filename(), "DepartaV.lck");
  }
  EXPECT_EQ(files, 1u);
  // Releasing what was never locked creates nothing.
  EXPECT_EQ(ReleaseLock("TranLauV"), -1);
  EXPECT_FALSE(std::filesystem::exists(LockPath("TranLauV")));
}

TEST_F(LockFilesTest, DamagedLockFilesNeverCrashAndStayInStep) {
  const std::string good = Other(kNowStamp, 'K', "A", "C");
  struct Case {
    const char* what;
    std::string file;
  };
  std::string garbage(3 * kLockEntryBytes, '\0');
  std::mt19937 random(7);
  for (char& c : garbage) c = static_cast<char>(random() & 0xFF);
  std::string badLengths = Other(kNowStamp, 'K', "A", "C");
  badLengths.replace(35, 2, "99");
  badLengths.replace(77, 2, "-5");
  const Case cases[] = {
      {"short last entry", good + std::string(50, 'x')},
      {"a few bytes", "xyz"},
      {"garbage", garbage},
      {"key lengths out of range", badLengths},
      {"no line ends", good.substr(0, 119) + "ab"},
  };
  for (const Case& c : cases) {
    Write("DepartaV", c.file);
    const int16_t result = LockResource("DepartaV", "K", "M", "M");
    const std::string file = Read("DepartaV");
    EXPECT_EQ(file.size() % kLockEntryBytes, 0u) << c.what << ": the entries stay in step";
    EXPECT_GE(file.size(), c.file.size() / kLockEntryBytes * kLockEntryBytes) << c.what;
    if (result == 0) {
      EXPECT_NE(file.find(Own(kNowStamp, 'K', "M", "M")), std::string::npos) << c.what;
      ASSERT_EQ(ReleaseLock("DepartaV"), 0) << c.what;
    }
  }
  // The whole entry before a short tail is left alone.
  Write("DepartaV", good + std::string(50, 'x'));
  ASSERT_EQ(LockResource("DepartaV", "K", "M", "M"), 0);
  EXPECT_EQ(Read("DepartaV"), good + Own(kNowStamp, 'K', "M", "M"));
}

TEST_F(LockFilesTest, WaitModeEscGivesUpAndTheMessageGoes) {
  LockWaitMode() = 'P';
  Write("DepartaV", Other(kNowStamp, 'F'));
  int pausesSeen = 0;
  std::string message;
  SetSleepHookForTesting([&](int32_t ms) {
    EXPECT_GE(ms, 1);
    EXPECT_LE(ms, 1001);
    message.clear();
    for (int row = 1; row <= 25; ++row) message += ScreenRowText(row);
    // Esc arrives while the job waits (keys typed before were discarded).
    if (++pausesSeen == 3) Screen().input.push_back(InputEvent{InputKind::kKey, 27});
  });
  Screen().input.push_back(InputEvent{InputKind::kKey, 27});  // typed ahead: discarded
  EXPECT_EQ(LockResource("DepartaV", "K", "A", "A"), -1);
  EXPECT_EQ(pausesSeen, 3);
  EXPECT_NE(message.find("FITXER BLOQUEJAT. ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR."), std::string::npos) << message;
  for (int row = 1; row <= 25; ++row) EXPECT_EQ(ScreenRowText(row).find("FITXER"), std::string::npos);
  EXPECT_EQ(Read("DepartaV"), Other(kNowStamp, 'F'));
}

TEST_F(LockFilesTest, WaitWithoutLimitGetsTheLockWhenTheOtherGoes) {
  LockWaitMode() = 'W';
  Write("DepartaV", Other(kNowStamp, 'F'));
  int pausesSeen = 0;
  SetSleepHookForTesting([&](int32_t) {
    if (++pausesSeen == 5) Write("DepartaV", Other(kNowStamp, ' '));  // the other workstation is done
  });
  EXPECT_EQ(LockResource("DepartaV", "K", "A", "A"), 0);
  EXPECT_EQ(pausesSeen, 5);
  EXPECT_EQ(Read("DepartaV"), Own(kNowStamp, 'K', "A", "A"));
}

TEST_F(LockFilesTest, WaitTextsByLanguage) {
  EXPECT_EQ(LockWaitText("SPA", 'P'), "FICHERO BLOQUEADO. ESPERE UN MOMENTO O PULSE [ESC] PARA SALIR.");
  EXPECT_EQ(LockWaitText("GLG", 'W'), "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.");
  EXPECT_EQ(LockWaitText("OCI", 'P'), "FICHÈR BLOQUEJAT. ESPERATZ UN MOMENT O POSSATZ [ESC] ENTÀ GÈSSER."_cp);
  EXPECT_EQ(LockWaitText("XXX", 'S'), "FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
}

TEST_F(LockFilesTest, WaitModeComesFromTheInstallation) {
  struct Case {
    std::string ini;
    char expected;
  };
  const Case cases[] = {{"[Usuari]\r\nEsperaBloqueig=s\r\n", 'S'}, {"[Usuari]\r\nEsperaBloqueig=P\r\n", 'P'},
                        {"[Usuari]\r\nEsperaBloqueig=N\r\n", 'N'}, {"[Usuari]\r\nIdioma=CAT\r\n", 'P'}, {"", 'P'}};
  for (const Case& c : cases) {
    tmp_.Write("root/Tarn.ini", c.ini);
    LoadLockWaitMode();
    EXPECT_EQ(LockWaitMode(), c.expected) << c.ini;
  }
}

TEST_F(LockFilesTest, WorkstationIdentityIsMadeOnceAndKept) {
  ResetLockFilesForTesting();
  EnsureWorkstationIdentity();
  const int32_t number = Workstation().number;
  EXPECT_NE(number, 0);
  EXPECT_EQ(Workstation().name.size(), 15u);
  EXPECT_EQ(std::filesystem::file_size(tmp_.Path() + "tmp/LOCKS.TMP"), 19u);
  ResetLockFilesForTesting();
  EnsureWorkstationIdentity();
  EXPECT_EQ(Workstation().number, number);
}

}  // namespace
}  // namespace kestrova

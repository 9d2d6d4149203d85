// The apply mode of the whole job on a demo installation made by
// scripts/make-root, run as real processes on the headless console: what it
// writes, the journal, the lock files between two workstations, a refused
// lock, and jobs killed in the middle of a pass.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/exclusive_file.h"
#include "storage/lock_files.h"
#include "support/temp_dir.h"
#include "unit/recordmanager/pg_cluster.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// One CSV line into its fields (double quotes around fields with commas).
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return fields;
}

// The form's fields: mode A, the application date as given, the regime,
// the rest as they come; S confirms; then the keys that answer what the
// pass may show, and Escape leaves the form.
std::string ApplyKeys(int regime, const std::string& after = "") {
  std::string keys = "A{Enter}{Enter}" + std::to_string(regime) + "{Enter}";
  for (int i = 0; i < 9; ++i) keys += "{Enter}";
  return keys + "S{Enter}" + after + "{Esc}";
}

class ApplyJobTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pristine_ = new testing::TempDir;
    const std::string make = "BUILD_DIR='" + Environment("KESTROVA_BINARY_DIR") + "' TODAY=20260301 '" +
                             Environment("KESTROVA_SOURCE_DIR") + "/scripts/make-root' '" + pristine_->Path() +
                             "root/' > /dev/null 2> '" + pristine_->Path() + "make-root.log'";
    made_ = std::system(make.c_str()) == 0;
  }
  static void TearDownTestSuite() {
    delete pristine_;
    pristine_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(made_) << ReadFile(pristine_->Path() + "make-root.log");
    if (rmtest::PgTestMode() && !rmtest::PgUnavailable().empty()) GTEST_SKIP() << rmtest::PgUnavailable();
    root_ = tmp_.Path() + "root/";
    FreshRoot();
    SetOutput(root_ + "SESSIO/", "diari.txt");
    SetWaitMode("P");
  }

  void TearDown() override {
    if (!schema_.empty()) rmtest::DropPgSchema(schema_);
  }

  // The root as make-root made it.  With KESTROVA_TEST_BACKEND=postgresql
  // its record files are then moved to a schema of the test cluster (tarndata
  // copy), as an installation moves to a server, and the files on disk go.
  void FreshRoot() {
    fs::remove_all(root_);
    fs::copy(pristine_->Path() + "root", root_, fs::copy_options::recursive);
    if (!rmtest::PgTestMode()) return;
    if (!schema_.empty()) rmtest::DropPgSchema(schema_);
    static int resets = 0;
    schema_ = "apply_" + std::to_string(getpid()) + "_" + std::to_string(++resets);
    rmtest::WritePgSetting(root_, schema_);
    for (const char* file : {"DADES/FinquesV", "DADES/DepartaV", "DADES/TranLauV", "DADES/TVRebut", "TAULES/UIpc",
                             "DADES/Textos"}) {
      const std::string source = pristine_->Path() + "root/" + file + ".dat";
      const std::string target = root_ + file + ".dat";
      for (const char* companion : {"", "-lock", "-wal", "-shm"}) fs::remove(target + companion);
      const std::string cmd = "'" + Environment("KESTROVA_BINARY_DIR") + "/tarndata' copy '" + source + "' '" +
                              target + "' > /dev/null";
      ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
      ASSERT_FALSE(fs::exists(target)) << target;
    }
  }

  // A second workstation: its own session directory, the same root.
  std::string AddWorkstation(const std::string& name) {
    const std::string dir = root_ + name + "/";
    fs::create_directories(dir);
    fs::copy_file(root_ + "SESSIO/Sessio.ini", dir + "Sessio.ini");
    fs::copy_file(root_ + "SESSIO/TarnTerm.ini", dir + "TarnTerm.ini");
    return dir;
  }

  void SetOutput(const std::string& session, const std::string& device) {
    const std::string cmd = "sed -i 's/^Sortida=.*/Sortida=" + device + "\\r/' '" + session + "TarnTerm.ini'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  void SetWaitMode(const std::string& mode) {
    const std::string cmd = "sed -i 's/^EsperaBloqueig=.*/EsperaBloqueig=" + mode + "\\r/' '" + root_ + "Tarn.ini'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  // Starts the job for a session directory; its process id (the job itself,
  // so that a signal reaches it).
  pid_t StartJob(const std::string& session, const std::string& keys) {
    WriteFile(session + "keys", keys);
    const std::string command = "cd '" + session + "' && JOBROOT='" + root_ + "' JOBEXE='" + root_ +
                                "PROGRAMES/' JOBTMP='" + session + "' KESTROVA_CONSOLE=headless KESTROVA_KEYS='" +
                                session + "keys' exec '" + root_ + "PROGRAMES/kestrova' > '" + session +
                                "job.log' 2>&1";
    const pid_t pid = fork();
    if (pid == 0) {
      alarm(120);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
  // Its exit code; -1 when killed or not ended within two minutes.
  static int WaitJob(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int RunJob(const std::string& session, const std::string& keys) { return WaitJob(StartJob(session, keys)); }

  // The units a journal lists as written (their six-digit codes), in order.
  static std::vector<std::string> Written(const std::string& journal) {
    std::vector<std::string> units;
    std::istringstream in(journal);
    std::string line;
    const std::regex written(R"(^(\d{6})  .*\d,\d\d\s*$)");
    std::smatch m;
    while (std::getline(in, line)) {
      if (std::regex_match(line, m, written) && line.find("NO ESCRIT") == std::string::npos) units.push_back(m[1]);
    }
    return units;
  }

  // A record file exported as CSV lines keyed by the unit key.
  std::map<std::string, std::vector<std::string>> Export(const std::string& file) {
    const std::string out = tmp_.Path() + file + ".csv";
    const std::string cmd = "'" + Environment("KESTROVA_BINARY_DIR") + "/tarndata' export '" + root_ + "DADES/" + file +
                            ".dat' '" + Environment("KESTROVA_SOURCE_DIR") + "/install/layouts/" + file + ".layout' '" +
                            out + "' > /dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::map<std::string, std::vector<std::string>> rows;
    std::istringstream in(ReadFile(out));
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
      const std::vector<std::string> fields = CsvFields(line);
      rows[fields[0]] = fields;
    }
    return rows;
  }

  // Every lease of the root either fully revised on 1 March 2026 or
  // untouched: the unit's revision date and, under the staged regime (3)
  // for a lease with a transition record, its step count move together;
  // under the other regimes the steps never move.
  void ExpectEveryLeaseWhole(const std::map<std::string, std::vector<std::string>>& unitsBefore,
                             const std::map<std::string, std::vector<std::string>>& stepsBefore,
                             std::set<std::string>* revised, bool staged) {
    const auto units = Export("DepartaV");
    const auto steps = Export("TranLauV");
    ASSERT_EQ(units.size(), unitsBefore.size());
    for (const auto& [key, fields] : units) {
      const bool unitRevised = fields[8] == "2026-03-01" && unitsBefore.at(key)[8] != "2026-03-01";
      if (unitRevised && revised != nullptr) revised->insert(key);
      if (!unitRevised) {
        EXPECT_EQ(fields, unitsBefore.at(key)) << key << ": not revised, yet changed";
      }
      const auto step = steps.find(key);
      if (step == steps.end()) continue;
      const int before = std::stoi(stepsBefore.at(key)[8]);
      EXPECT_EQ(std::stoi(step->second[8]), before + (unitRevised && staged ? 1 : 0)) << key << ": step and rent apart";
    }
  }

  static void ExpectIntegrity(const std::string& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK) << path;
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK) << path;
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok") << path;
    sqlite3_finalize(st);
    sqlite3_close(db);
  }

  // Each line of the update log whole: file number, operation 3, status, in
  // 14-column zones.
  static void ExpectWholeLogLines(const std::string& log, std::size_t expected) {
    std::istringstream in(log);
    std::string line;
    std::size_t lines = 0;
    const std::regex whole(R"(^50[78] {11}3 {13}\d+\r$)");
    while (std::getline(in, line)) {
      ++lines;
      EXPECT_TRUE(std::regex_match(line, whole)) << "[" << line << "]";
    }
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(log.empty() || log.back() == '\n');
  }

  static testing::TempDir* pristine_;
  static bool made_;
  testing::TempDir tmp_;
  std::string root_;
  std::string schema_;  // the root's schema on the test cluster, in the PostgreSQL run
};

testing::TempDir* ApplyJobTest::pristine_ = nullptr;
bool ApplyJobTest::made_ = false;

TEST_F(ApplyJobTest, ApplyWritesTheJournalAndTheRecordsOnceADay) {
  for (int regime : {4, 1}) {
    SCOPED_TRACE(regime);
    FreshRoot();
    SetOutput(root_ + "SESSIO/", "diari.txt");
    const auto unitsBefore = Export("DepartaV");
    const auto stepsBefore = Export("TranLauV");
    ASSERT_EQ(RunJob(root_ + "SESSIO/", ApplyKeys(regime)), 0) << ReadFile(root_ + "SESSIO/job.log");
    const std::string journal = ReadFile(root_ + "SESSIO/diari.txt");
    const std::vector<std::string> written = Written(journal);
    ASSERT_FALSE(written.empty()) << journal;
    EXPECT_NE(journal.find("UNITATS REVISADES: " + std::to_string(written.size())), std::string::npos) << journal;
    std::set<std::string> revised;
    ExpectEveryLeaseWhole(unitsBefore, stepsBefore, &revised, false);
    EXPECT_EQ(revised.size(), written.size());
    for (const std::string& key : revised) {
      // The journal's code is the estate's last three digits and the unit's.
      EXPECT_NE(std::find(written.begin(), written.end(), key.substr(1, 3) + key.substr(5, 3)), written.end()) << key;
    }
    const std::string log = ReadFile(root_ + "db.log");
    ExpectWholeLogLines(log, written.size());
    // The lock files are left with every entry free.
    for (const char* resource : {"DepartaV", "TranLauV"}) {
      const std::string file = ReadFile(root_ + "LOCKS/" + resource + ".lck");
      ASSERT_FALSE(file.empty());
      ASSERT_EQ(file.size() % kLockEntryBytes, 0u);
      for (std::size_t at = 0; at < file.size(); at += kLockEntryBytes) EXPECT_EQ(file[at + 34], ' ') << resource;
    }
    // The same day again: the leases are no longer due, nothing is written.
    ASSERT_EQ(RunJob(root_ + "SESSIO/", ApplyKeys(regime)), 0);
    EXPECT_TRUE(Written(ReadFile(root_ + "SESSIO/diari.txt")).empty());
    EXPECT_NE(ReadFile(root_ + "SESSIO/diari.txt").find("UNITATS REVISADES: 0"), std::string::npos);
    EXPECT_EQ(ReadFile(root_ + "db.log"), log);
  }
}

TEST_F(ApplyJobTest, StagedLeasesWriteTheTransitionThenTheUnit) {
  const auto unitsBefore = Export("DepartaV");
  const auto stepsBefore = Export("TranLauV");
  ASSERT_EQ(RunJob(root_ + "SESSIO/", ApplyKeys(3)), 0) << ReadFile(root_ + "SESSIO/job.log");
  const std::size_t written = Written(ReadFile(root_ + "SESSIO/diari.txt")).size();
  ASSERT_GT(written, 0u);
  ExpectEveryLeaseWhole(unitsBefore, stepsBefore, nullptr, true);
  const std::string log = ReadFile(root_ + "db.log");
  ExpectWholeLogLines(log, 2 * written);
  std::istringstream in(log);
  std::string transition, unit;
  while (std::getline(in, transition) && std::getline(in, unit)) {
    EXPECT_EQ(transition.substr(0, 3), "508");
    EXPECT_EQ(unit.substr(0, 3), "507");
  }
}

// Another workstation holds the whole units resource.  Whatever the wait
// mode says, a refused lock ends the pass with a message and nothing is
// written.
TEST_F(ApplyJobTest, RefusedLockEndsThePassAndWritesNothing) {
  struct Case {
    const char* mode;
    std::string keys;  // what answers the wait and the message
  };
  const Case cases[] = {{"S", "{Esc}"}, {"P", "{Esc}{Esc}"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    SetWaitMode(c.mode);
    fs::create_directories(root_ + "LOCKS");
    std::string entry = "OTRA           777        " + std::to_string(LockStampNow());
    entry.resize(34, ' ');
    entry += "F";
    entry.resize(119, ' ');
    entry += "\r\n";
    WriteFile(root_ + "LOCKS/DepartaV.lck", entry);
    const std::string before = ReadFile(root_ + "DADES/DepartaV.dat");
    ASSERT_EQ(RunJob(root_ + "SESSIO/", ApplyKeys(4, c.keys)), 0) << ReadFile(root_ + "SESSIO/job.log");
    const std::string journal = ReadFile(root_ + "SESSIO/diari.txt");
    EXPECT_NE(journal.find("REVISIÓ INTERROMPUDA: BLOQUEIG NO CONCEDIT (DepartaV)"), std::string::npos) << journal;
    EXPECT_TRUE(Written(journal).empty());
    EXPECT_FALSE(fs::exists(root_ + "db.log"));
    EXPECT_EQ(ReadFile(root_ + "DADES/DepartaV.dat"), before);
    EXPECT_EQ(ReadFile(root_ + "LOCKS/DepartaV.lck"), entry);
  }
}

// Two workstations apply overlapping ranges at the same time: each unit is
// revised once, by one of them, and no update is lost.
TEST_F(ApplyJobTest, TwoWorkstationsApplyingOverlappingRanges) {
  SetWaitMode("W");
  // What one workstation alone writes.
  ASSERT_EQ(RunJob(root_ + "SESSIO/", ApplyKeys(4)), 0);
  const std::vector<std::string> alone = Written(ReadFile(root_ + "SESSIO/diari.txt"));
  ASSERT_FALSE(alone.empty());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    FreshRoot();
    SetOutput(root_ + "SESSIO/", "diari.txt");
    SetWaitMode("W");
    const std::string second = AddWorkstation("SESSIO2");
    const auto unitsBefore = Export("DepartaV");
    const auto stepsBefore = Export("TranLauV");
    const pid_t a = StartJob(root_ + "SESSIO/", ApplyKeys(4));
    const pid_t b = StartJob(second, ApplyKeys(4));
    ASSERT_EQ(WaitJob(a), 0) << ReadFile(root_ + "SESSIO/job.log");
    ASSERT_EQ(WaitJob(b), 0) << ReadFile(second + "job.log");
    std::vector<std::string> both = Written(ReadFile(root_ + "SESSIO/diari.txt"));
    const std::vector<std::string> fromB = Written(ReadFile(second + "diari.txt"));
    both.insert(both.end(), fromB.begin(), fromB.end());
    std::sort(both.begin(), both.end());
    std::vector<std::string> expected = alone;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(both, expected) << "each unit revised exactly once";
    ExpectEveryLeaseWhole(unitsBefore, stepsBefore, nullptr, false);
    ExpectWholeLogLines(ReadFile(root_ + "db.log"), expected.size());
    EXPECT_NE(ReadFile(root_ + "SESSIO/LOCKS.TMP").substr(0, 4), ReadFile(second + "LOCKS.TMP").substr(0, 4));
  }
}

// Jobs killed at random points of a pass under regime 3: every lease is
// whole, the files pass their integrity check, and the next job opens the
// lock files at once and finishes the work.
TEST_F(ApplyJobTest, JobKilledAtRandomPointsLeavesEveryLeaseWhole) {
  const auto unitsBefore = Export("DepartaV");
  const auto stepsBefore = Export("TranLauV");
  // How long a whole pass takes here: the kills fall within it.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunJob(root_ + "SESSIO/", ApplyKeys(3)), 0);
  const auto passMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  std::set<std::string> all;
  ExpectEveryLeaseWhole(unitsBefore, stepsBefore, &all, true);
  ASSERT_FALSE(all.empty());

  std::mt19937 random(static_cast<uint32_t>(::getpid()));
  const int kills = 20;
  for (int k = 0; k < kills; ++k) {
    fs::remove_all(root_ + "DADES");
    fs::copy(pristine_->Path() + "root/DADES", root_ + "DADES", fs::copy_options::recursive);
    const int delay = static_cast<int>(random() % static_cast<uint32_t>(passMs + 1));
    const pid_t job = StartJob(root_ + "SESSIO/", ApplyKeys(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    kill(job, SIGKILL);
    WaitJob(job);
    SCOPED_TRACE("killed after " + std::to_string(delay) + " ms");
    // The dead job's lock files open at once.
    for (const char* resource : {"DepartaV", "TranLauV"}) {
      const std::string path = root_ + "LOCKS/" + resource + ".lck";
      if (!fs::exists(path)) continue;
      ExclusiveFile file;
      EXPECT_EQ(OpenExclusiveFile(path, file), ExclusiveOpenResult::kOpened) << resource;
      CloseExclusiveFile(file);
    }
    std::set<std::string> revised;
    ExpectEveryLeaseWhole(unitsBefore, stepsBefore, &revised, true);
    for (const char* file : {"DepartaV", "TranLauV"}) ExpectIntegrity(root_ + "DADES/" + file + ".dat");
    // The same workstation runs again at once and finishes the pass.
    ASSERT_EQ(RunJob(root_ + "SESSIO/", ApplyKeys(3)), 0) << ReadFile(root_ + "SESSIO/job.log");
    std::set<std::string> after;
    ExpectEveryLeaseWhole(unitsBefore, stepsBefore, &after, true);
    EXPECT_EQ(after, all);
  }
}

}  // namespace
}  // namespace kestrova

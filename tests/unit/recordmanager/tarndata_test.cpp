// The data tool, run as the administrator runs it: the built binary with
// files in a fresh directory.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "rm_test_support.h"

extern char** environ;

namespace kestrova::rmtest {
namespace {

struct ToolRun {
  int code = -1;
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class TarndataTest : public RecordManagerTest {
 protected:
  ToolRun Tarndata(const std::vector<std::string>& args) {
    const char* binaryDir = std::getenv("KESTROVA_BINARY_DIR");
    const std::string program = std::string(binaryDir ? binaryDir : ".") + "/tarndata";
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = Path("stdout"), err = Path("stderr");
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ToolRun run;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      ADD_FAILURE() << "cannot start " << program;
      return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int waited = 0; waited < 30000; waited += 5) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      usleep(5000);
    }
    if (run.code == -1) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
  }

  // A small file: 2-byte packed code (key 0), text, date, int16, int32,
  // double, 2 raw bytes; bytes 40..44 and 47..49 named by no field.
  void MakeFile(const std::string& name) {
    WriteText(Path("t.def"),
              "record 50\npage 512\nkey\n  segment 1 2 string\n"
              "key duplicates modifiable\n  segment 3 20 string collated\n"
              "collation UPPER\n  map a-z A-Z\n  map à A\n");
    WriteText(Path("t.layout"),
              "# test layout\nfield Code 0 2 packed\nfield Name 2 20 text\nfield Date 22 4 date\n"
              "field Months 26 2 int16\nfield Amount 28 4 int32\nfield Index 32 8 double\n"
              "field Flags 45 2 hex\n");
    ASSERT_EQ(Tarndata({"xdf", Path("t.def"), Path("t.xdf")}).code, 0);
    ASSERT_EQ(Tarndata({"create", Path(name), Path("t.xdf")}).code, 0);
  }
};

const char kCsv[] =
    "Code,Name,Date,Months,Amount,Index,Flags,_other_bytes\n"
    "0001,\"Garcia, \"\"Joan\"\"\",2020-03-01,12,-104500,104.25,ABCD,0000000000000000\n"
    "0007,Pérez Maria,,0,2147483647,0.1,0000,0102030405060708\n"
    "0100,,1999-12-31,-32768,0,-1e+300,FFFF,FFFFFFFFFFFFFFFF\n"
    "9999,0x41 not hex,0x01020304,1,1,0x000000000000F87F,0102,0000000000000000\n";

TEST_F(TarndataTest, ImportThenExportGivesTheSameCsv) {
  MakeFile("data.dat");
  WriteText(Path("in.csv"), kCsv);
  ASSERT_EQ(Tarndata({"import", Path("data.dat"), Path("t.layout"), Path("in.csv")}).code, 0);
  ToolRun exported = Tarndata({"export", Path("data.dat"), Path("t.layout")});
  ASSERT_EQ(exported.code, 0) << exported.err;
  EXPECT_EQ(exported.out, kCsv);

  // And once more through a second file, from the exported text.
  MakeFile("copy.dat");
  WriteText(Path("out.csv"), exported.out);
  ASSERT_EQ(Tarndata({"import", Path("copy.dat"), Path("t.layout"), Path("out.csv")}).code, 0);
  ASSERT_EQ(Tarndata({"export", Path("copy.dat"), Path("t.layout"), Path("again.csv")}).code, 0);
  EXPECT_EQ(ReadText(Path("again.csv")), kCsv);

  ToolRun stat = Tarndata({"stat", Path("data.dat")});
  EXPECT_EQ(stat.code, 0);
  EXPECT_NE(stat.out.find("records:       4"), std::string::npos) << stat.out;
  ToolRun dump = Tarndata({"dump", Path("data.dat")});
  EXPECT_EQ(dump.code, 0);
  EXPECT_NE(dump.out.find("80 81"), std::string::npos);  // packed code 0001
}

TEST_F(TarndataTest, BadArgumentsAndFilesGiveAMessageAndAnExitCode) {
  MakeFile("data.dat");
  WriteText(Path("text.txt"), "hello\n");
  WriteText(Path("short.xdf"), std::string("\x40\x00\x01", 3));
  WriteText(Path("bad.def"), "record 10\nkey\n  segment 9 4 string\n");
  WriteText(Path("typo.def"), "record 10\nkey\n  segmnt 1 4 string\n");
  WriteText(Path("wide.layout"), "field X 40 20 text\n");
  WriteText(Path("bad.csv"), std::string(kCsv) + "12345,X,,0,0,0,0000,0000000000000000\n");
  WriteText(Path("open.csv"), "Code,Name\n\"0001,x\n");
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* message;
  } cases[] = {
      {{}, 2, "usage"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"create", Path("x.dat")}, 2, "create needs"},
      {{"create", Path("x.dat"), Path("missing.xdf")}, 1, "cannot read"},
      {{"create", Path("x.dat"), Path("short.xdf")}, 1, "not a dictionary"},
      {{"create", Path("data.dat"), Path("t.xdf")}, 1, "exists already (59)"},
      {{"create", Path("x.dat"), Path("t.xdf"), "--bogus"}, 2, "unknown option"},
      {{"xdf", Path("bad.def"), Path("bad.xdf")}, 1, "not a valid file description"},
      {{"xdf", Path("typo.def"), Path("bad.xdf")}, 1, "line 3"},
      // On a server a file on disk is no record file: there is no such table.
      {{"stat", Path("text.txt")}, 1, PgTestMode() ? "file not found (12)" : "not a record file"},
      {{"stat", Path("nowhere.dat")}, 1, "file not found (12)"},
      {{"import", Path("data.dat"), Path("t.layout"), Path("bad.csv")}, 1, "line 6: field Code"},
      {{"import", Path("data.dat"), Path("t.layout"), Path("open.csv")}, 1, "never closed"},
      {{"import", Path("data.dat"), Path("wide.layout"), Path("bad.csv")}, 1, "past the record"},
      {{"export", Path("data.dat"), Path("missing.layout")}, 1, "cannot read"},
      {{"dump"}, 2, "dump needs"},
      {{"copy", Path("data.dat")}, 2, "copy needs SOURCE and TARGET"},
      // Backups copy files on disk; a server's tables are not files.
      {{"backup", Path("bk"), Path(PgTestMode() ? "data.dat" : "nowhere.dat")},
       1,
       PgTestMode() ? "kept on the installation's database server" : "file not found (12)"},
      {{"copy", Path("data.dat"), Path("data.dat")}, 1, "exists already (59)"},
      {{"copy", Path("nowhere.dat"), Path("y.dat")}, 1, "file not found (12)"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Tarndata(c.args);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(run.code, c.code) << line;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << line << "\n" << run.err;
  }
  // The failed import left nothing behind: it is all or nothing.
  ToolRun stat = Tarndata({"stat", Path("data.dat")});
  EXPECT_NE(stat.out.find("records:       0"), std::string::npos) << stat.out;
  EXPECT_FALSE(std::filesystem::exists(Path("x.dat")));
}

TEST_F(TarndataTest, ImportRefusesRowsItCouldNotStoreAsWritten) {
  MakeFile("data.dat");
  const std::string header = "Code,Name,Date,Months,Amount,Index,Flags,_other_bytes\n";
  const std::string good = "0002,Good,2020-02-29,1,1,1,0000,0000000000000000\n";
  struct Case {
    std::string csv;
    const char* message;
  } cases[] = {
      {header + good + "0001,A,1991-13-45,1,1,1,0000,0000000000000000\n", "line 3: field Date: no such day"},
      {header + good + "0001,A,1991-02-30,1,1,1,0000,0000000000000000\n", "line 3: field Date: no such day"},
      {header + good + "0001,A,1900-02-29,1,1,1,0000,0000000000000000\n", "line 3: field Date: no such day"},
      {header + good + "0001,A,1991-04-00,1,1,1,0000,0000000000000000\n", "line 3: field Date: no such day"},
      {header + good + "0001,A,,1,1,1,0000,0000000000000000,surplus\n", "line 3: 9 columns, the header has 8"},
      {"Code,Name,Date,Months,Amount,Index,Flags,Name\n" + good, "line 1: column Name named twice"},
      {header + good + "0001,\"two\nlines\",,1,1,1,0000,0000000000000000\n" + good,
       "line 3: field Name: a line break in a text field"},
      {header + "0001,\"x\ny\",,1,1,1,0000,0000000000000000\n", "line 2: field Name: a line break"},
  };
  for (const Case& c : cases) {
    WriteText(Path("in.csv"), c.csv);
    const ToolRun run = Tarndata({"import", Path("data.dat"), Path("t.layout"), Path("in.csv")});
    EXPECT_EQ(run.code, 1) << c.csv;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.csv << "\n" << run.err;
    const ToolRun stat = Tarndata({"stat", Path("data.dat")});
    EXPECT_NE(stat.out.find("records:       0"), std::string::npos) << c.csv;
  }
}

}  // namespace
}  // namespace kestrova::rmtest

#include "job/load_session.h"
#include "session/session.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "calendar/numeric.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

using testing::ScopedEnvironment;
using testing::TempDir;

struct IniCase {
  const char* name;
  std::string contents;
  const char* section;
  const char* key;
  const char* expected;
};

TEST(ReadIniValue, FollowsTheSuiteRules) {
  const IniCase cases[] = {
      {"plain", "[Menu]\r\nTitol=REVISIO\r\n", "Menu", "Titol", "REVISIO"},
      {"case of names ignored", "[menu]\r\ntitol=X\r\n", "MENU", "TITOL", "X"},
      {"blanks around names", "  [ Menu ]  \r\n  Titol   =X\r\n", " Menu ", " Titol ", "X"},
      {"blank after = is kept", "[S]\r\nIdioma= SPA\r\n", "S", "Idioma", " SPA"},
      {"trailing blanks kept", "[S]\r\nK=abc  \r\n", "S", "K", "abc  "},
      {"comment cut first", "[T]\r\nDir=C:\\X;comment\r\n", "T", "Dir", "C:\\X"},
      {"semicolon inside quotes is a comment", "[T]\r\nK=\"a;b\"\r\n", "T", "K", "\"a"},
      {"quotes removed in pairs", "[T]\r\nK=\"quoted\"\r\n", "T", "K", "quoted"},
      {"single leading quote kept", "[T]\r\nK=\"open\r\n", "T", "K", "\"open"},
      {"lone quote kept", "[T]\r\nK=\"\r\n", "T", "K", "\""},
      {"empty pair", "[T]\r\nK=\"\"\r\n", "T", "K", ""},
      {"first block of a section only", "[A]\r\nX=1\r\n[B]\r\nY=2\r\n[A]\r\nY=3\r\n", "A", "Y", ""},
      {"first key wins", "[A]\r\nK=1\r\nK=2\r\n", "A", "K", "1"},
      {"next section ends search", "[A]\r\n[B]\r\nK=1\r\n", "A", "K", ""},
      {"value with =", "[A]\r\nK=a=b\r\n", "A", "K", "a=b"},
      {"tab is not a blank", "[A]\r\n\tK=1\r\nK=2\r\n", "A", "K", "2"},
      {"header without ]", "[A\r\nK=1\r\n", "A", "K", "1"},
      {"missing section", "[A]\r\nK=1\r\n", "B", "K", ""},
      {"missing key", "[A]\r\nK=1\r\n", "A", "L", ""},
      {"lines before any section ignored", "K=0\r\n[A]\r\nK=1\r\n", "A", "K", "1"},
      {"plain line ends", "[A]\nK=1\n", "A", "K", "1"},
      {"CR line ends", "[A]\rX=0\rK=1\rL=2\r", "A", "K", "1"},
      {"CR line ends, last line", "[A]\rK=1", "A", "K", "1"},
      {"CR line ends, next section", "[A]\r[B]\rK=1\r", "A", "K", ""},
      {"CR CR LF", "[A]\r\r\nK=1\r\r\nL=2\r\r\n", "A", "K", "1"},
      {"mixed line ends", "[Z]\nK=0\r[A]\r\nK=1\n", "A", "K", "1"},
      {"ANSI upper case", "[\xE0rea]\r\nK=1\r\n", "\xC0REA", "K", "1"},
      {"key line without =", "[A]\r\nK\r\nK=1\r\n", "A", "K", "1"},
      {"no final line end", "[A]\r\nK=1", "A", "K", "1"},
      {"empty file", "", "A", "K", ""},
      {"NUL inside a value", std::string("[A]\r\nK=\x02\x03\r\n"), "A", "K", "\x02\x03"},
      {"binary garbage", std::string("\0\xFF[A]\r\nK=\x02\x03\r\n", 13), "A", "K", ""},
  };
  TempDir dir;
  for (const IniCase& c : cases) {
    const std::string file = dir.Write("t.ini", c.contents);
    EXPECT_EQ(ReadIniValue(file, c.section, c.key), c.expected) << c.name;
  }
}

TEST(ReadIniValue, FilesThatCannotBeReadGiveEmpty) {
  TempDir dir;
  EXPECT_EQ(ReadIniValue(dir.Path() + "missing.ini", "A", "K"), "");
  dir.Write("sub/x", "");
  EXPECT_EQ(ReadIniValue(dir.Path() + "sub", "A", "K"), "");  // a directory
  const std::string longLine = "[A]\r\nK=" + std::string(1 << 20, 'x') + "\r\n";
  const std::string file = dir.Write("long.ini", longLine);
  EXPECT_EQ(ReadIniValue(file, "A", "K").size(), std::size_t{1} << 20);
}

TEST(ReadIniValue, FindsFileWithoutRegardToLetterCase) {
  TempDir dir;
  dir.Write("SESSIO/Sessio.ini", "[Menu]\r\nTitol=X\r\n");
  EXPECT_EQ(ReadIniValue(dir.Path() + "sessio\\SESSIO.INI", "Menu", "Titol"), "X");
}

TEST(ParseColourText, TakesFourDigitsPerPair) {
  const auto table = ParseColourText("15000700000700070007");
  const int16_t expected[5][2] = {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}};
  for (int p = 0; p < 5; ++p) {
    EXPECT_EQ(table[p].foreground, expected[p][0]) << p;
    EXPECT_EQ(table[p].background, expected[p][1]) << p;
  }
  const auto shortText = ParseColourText("140");  // missing characters count as 0
  EXPECT_EQ(shortText[0].foreground, 14);
  EXPECT_EQ(shortText[0].background, 0);
  EXPECT_EQ(shortText[4].foreground, 0);
  const auto garbage = ParseColourText("x1ab");
  EXPECT_EQ(garbage[0].foreground, 0);
  EXPECT_EQ(garbage[0].background, 0);
}

// A session laid out as the menu program leaves it.
class LoadSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSessionForTesting();
    ResetCurrencyForTesting();
    for (const char* name : {"JOBROOT", "JOBEXE", "JOBTMP", "TERM", "HTTP_USER_AGENT",
                             "HTTP_ACCEPT", "WINDIR", "SYSTEMROOT"}) {
      env_.Set(name, std::nullopt);
    }
    env_.Set("JOBROOT", root_.Path());
    env_.Set("JOBTMP", root_.Path() + "S");
  }

  void WriteSession(const std::string& contents) { root_.Write("S/Sessio.ini", contents); }
  void WriteTerminal(const std::string& contents) { root_.Write("S/TarnTerm.ini", contents); }
  void WriteSuite(const std::string& contents) { root_.Write("Tarn.ini", contents); }

  TempDir root_;
  ScopedEnvironment env_;
};

TEST_F(LoadSessionTest, ReadsEveryFile) {
  WriteSession(
      "[Menu]\r\nTitol=REVISIO\r\nNomMenu=KESTROVA \r\nOperador=ANNA\r\nJobTipOper=3\r\n");
  WriteTerminal(
      "[Pantalla]\r\nSeleccio=2\r\nCol2=01020304050607080910\r\n"
      "[Sistema]\r\nData=20261207\r\nSortida=PDF\r\nIdioma=SPA\r\n");
  WriteSuite("[Empresa]\r\nLinia1=TARN S.L.\r\nLinia8=FI\r\n");
  LoadSession();
  const SessionState& s = Session();
  EXPECT_EQ(s.jobTmp, root_.Path() + "S\\");
  EXPECT_EQ(s.title, " REVISIO ");
  EXPECT_EQ(s.menuOption, "KESTROVA ");
  EXPECT_EQ(s.operatorName, "ANNA");
  EXPECT_EQ(s.operatorType, 3);
  EXPECT_EQ(s.colourTable[0].foreground, 1);
  EXPECT_EQ(s.colourTable[4].background, 10);
  EXPECT_EQ(s.sessionDate, "\x94\x9A\x8C\x87");
  EXPECT_EQ(s.output, "PDF");
  EXPECT_EQ(s.language, "SPA");
  EXPECT_EQ(s.platform, "DOS");
  EXPECT_EQ(s.letterhead[0], "TARN S.L.");
  EXPECT_EQ(s.letterhead[1], "");
  EXPECT_EQ(s.letterhead[7], "FI");
  EXPECT_EQ(Currency().main, 'E');
  EXPECT_EQ(Currency().current, 'E');
}

TEST_F(LoadSessionTest, DefaultsWhenFilesAreMissing) {
  LoadSession();
  const SessionState& s = Session();
  EXPECT_EQ(s.title, "  ");
  EXPECT_EQ(s.language, "   ");
  EXPECT_EQ(s.sessionDate, "");
  EXPECT_EQ(s.colourTable[0].foreground, 15);
  EXPECT_EQ(s.colourTable[1].foreground, 7);
  EXPECT_EQ(s.colourTable[2].background, 7);
}

TEST_F(LoadSessionTest, ColourSelection) {
  struct Case {
    const char* terminal;
    int16_t firstForeground;
  } cases[] = {
      {"[Pantalla]\r\nCol0=01000000000000000000\r\n", 1},  // no Seleccio: Col0
      {"[Pantalla]\r\nSeleccio=1\r\nCol1=\r\n", 15},       // empty: default colours
      {"[Pantalla]\r\nSeleccio=12\r\nCol12=09000000000000000000\r\n", 9},
      {"[Pantalla]\r\nSeleccio=3\r\nCol0=01000000000000000000\r\n", 15},
  };
  for (const Case& c : cases) {
    WriteTerminal(c.terminal);
    LoadSession();
    EXPECT_EQ(Session().colourTable[0].foreground, c.firstForeground) << c.terminal;
  }
}

TEST_F(LoadSessionTest, LanguageFallsBackToTheSuiteFile) {
  struct Case {
    const char* terminal;
    const char* suite;
    const char* language;
  } cases[] = {
      {"[Sistema]\r\nIdioma=GLG\r\n", "[Usuari]\r\nIdioma=OCI\r\n", "GLG"},
      {"[Sistema]\r\nIdioma=\r\n", "[Usuari]\r\nIdioma=OCI\r\n", "OCI"},
      {"[Sistema]\r\nIdioma=   \r\n", "[Usuari]\r\nIdioma=SPANISH\r\n", "SPA"},
      {"[Sistema]\r\nIdioma= SPA\r\n", "[Usuari]\r\nIdioma=OCI\r\n", " SP"},
      {"[Sistema]\r\nIdioma=C\r\n", "[Usuari]\r\nIdioma=OCI\r\n", "C  "},
      {"", "", "   "},
  };
  for (const Case& c : cases) {
    WriteTerminal(c.terminal);
    WriteSuite(c.suite);
    LoadSession();
    EXPECT_EQ(Session().language, c.language) << c.terminal;
  }
}

TEST_F(LoadSessionTest, SessionDirectoryNormalisation) {
  struct Case {
    const char* jobTmp;
    const char* expected;
  } cases[] = {
      {"C:", "C:"},
      {"C:\\TMP", "C:\\TMP\\"},
      {"C:\\TMP\\", "C:\\TMP\\"},
      {"/tmp/sess/", "/tmp/sess/"},
  };
  for (const Case& c : cases) {
    env_.Set("JOBTMP", std::string(c.jobTmp));
    LoadSession();
    EXPECT_EQ(Session().jobTmp, c.expected) << c.jobTmp;
  }
}

TEST_F(LoadSessionTest, WithoutJobTmpTheTerminalDirectoryServes) {
  env_.Set("JOBTMP", std::nullopt);
  root_.Write("T/TarnTerm.ini", "[Sistema]\r\nSortida=FROM-TERMINAL-DIR\r\n");
  // The session file is then looked for in the current directory, which has
  // none: the terminal directory comes from TERM, when it names a directory.
  env_.Set("TERM", root_.Path() + "T");
  LoadSession();
  EXPECT_EQ(Session().terminalDirectory, root_.Path() + "T\\");
  EXPECT_EQ(Session().jobTmp, root_.Path() + "T\\");
  EXPECT_EQ(Session().output, "FROM-TERMINAL-DIR");
}

TEST_F(LoadSessionTest, TerminalTypeInTermIsNotADirectory) {
  env_.Set("TERM", std::string("xterm-256color"));
  LoadSession();
  EXPECT_EQ(Session().terminalDirectory, "");
  WriteSession("[Terminal]\r\nDir=C:\\TERM;old\r\n");
  LoadSession();
  EXPECT_EQ(Session().terminalDirectory, "C:\\TERM\\");
}

TEST_F(LoadSessionTest, PlatformOrder) {
  struct Case {
    const char* agent;
    const char* accept;
    const char* windir;
    const char* systemRoot;
    const char* platform;
  } cases[] = {
      {nullptr, nullptr, nullptr, nullptr, "DOS"},
      {nullptr, nullptr, "C:\\WINDOWS", nullptr, "WIN"},
      {nullptr, nullptr, nullptr, "C:\\WINDOWS", "WIN"},
      {nullptr, "text/html", "C:\\WINDOWS", nullptr, "CGI"},
      {"browser", nullptr, nullptr, nullptr, "CGI"},
      {"", "", "", "", "DOS"},  // set but empty counts as unset
  };
  for (const Case& c : cases) {
    auto value = [](const char* v) { return v ? std::optional<std::string>(v) : std::nullopt; };
    env_.Set("HTTP_USER_AGENT", value(c.agent));
    env_.Set("HTTP_ACCEPT", value(c.accept));
    env_.Set("WINDIR", value(c.windir));
    env_.Set("SYSTEMROOT", value(c.systemRoot));
    LoadSession();
    EXPECT_EQ(Session().platform, c.platform);
  }
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

// Two jobs with one session directory: the second is refused while the
// first runs, even when the first is killed, the claim goes with it.
TEST(ClaimSessionDirectory, OneJobAtATimePerSessionDirectory) {
  TempDir dir;
  ResetSessionForTesting();
  Session().jobTmp = dir.Path();
  int toParent[2], toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t first = fork();
  if (first == 0) {
    alarm(20);
    char c = ClaimSessionDirectory() ? 'y' : 'n';
    (void)!write(toParent[1], &c, 1);
    (void)!read(toChild[0], &c, 1);  // holds the claim until killed
    _exit(0);
  }
  char answer = 0;
  ASSERT_EQ(read(toParent[0], &answer, 1), 1);
  EXPECT_EQ(answer, 'y');
  EXPECT_FALSE(ClaimSessionDirectory());
  kill(first, SIGKILL);
  waitpid(first, nullptr, 0);
  EXPECT_TRUE(ClaimSessionDirectory());
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
  ResetSessionForTesting();
}

}  // namespace
}  // namespace kestrova

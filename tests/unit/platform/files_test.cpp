#include "platform/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/host.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

using testing::TempDir;

TEST(NativePath, ResolvesWindowsPathsWithoutRegardToCase) {
  TempDir dir;
  dir.Write("DADES/FinquesV.dat", "x");
  dir.Write("FORMS/KESTROVA.JPN", "x");
  dir.Write("Sessió/a.ini", "x");  // UTF-8 name on disk
  const std::string root = dir.Path();
  struct Case {
    std::string jobPath;
    std::string native;
  } cases[] = {
      {root + "DADES\\FinquesV.dat", root + "DADES/FinquesV.dat"},
      {root + "dades\\FINQUESV.DAT", root + "DADES/FinquesV.dat"},
      {root + "forms\\kestrova.jpn", root + "FORMS/KESTROVA.JPN"},
      {root + "SESSI\xE0\\A.INI", root + "Sessió/a.ini"},  // code page 850 Ó
      {root + "dades\\NouFitxer.dat", root + "DADES/NouFitxer.dat"},  // to be created
      {root + "Missing\\Deeper\\x", root + "Missing/Deeper/x"},
      {"relative\\path", "relative/path"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NativePath(c.jobPath), c.native) << c.jobPath;
}

TEST(Files, ReadWriteAppendRemove) {
  TempDir dir;
  const std::string file = dir.Path() + "SUB\\x.tmp";
  EXPECT_FALSE(WriteWholeFile(file, "a"));  // no such directory
  ASSERT_TRUE(MakeDirectories(dir.Path() + "SUB"));
  ASSERT_TRUE(WriteWholeFile(file, "ab"));
  ASSERT_TRUE(AppendToFile(file, "c"));
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(file, contents));
  EXPECT_EQ(contents, "abc");
  EXPECT_FALSE(ReadWholeFile(dir.Path() + "SUB", contents));  // a directory
  EXPECT_EQ(contents, "");
  EXPECT_TRUE(RemoveFile(file));
  EXPECT_FALSE(PathExists(file));
  EXPECT_FALSE(RemoveFile(file));
}

TEST(Files, WritingAWholeFileLeavesExactlyTheNewContents) {
  // The file is written over in place and cut to length: whatever it held
  // before, longer or shorter, must not show through.
  TempDir dir;
  const std::string file = dir.Path() + "x.tmp";
  const char* const contents[] = {"a longer first text", "short", "", "again a longer one", "same length!!!!!!!"};
  for (const char* text : contents) {
    ASSERT_TRUE(WriteWholeFile(file, text));
    std::string read;
    ASSERT_TRUE(ReadWholeFile(file, read));
    EXPECT_EQ(read, text);
  }
}

TEST(Files, AbsoluteJobPath) {
  EXPECT_EQ(AbsoluteJobPath(""), "");
  EXPECT_EQ(AbsoluteJobPath("/srv/tarn/"), "/srv/tarn/");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(AbsoluteJobPath("demo\\"), std::string(cwd) + "/demo\\");
}

TEST(FatalErrorDeathTest, RunsExitHooksAndEndsWithNonZeroCode) {
  EXPECT_EXIT(
      {
        RegisterExitHook([] { std::fputs("hook ran\n", stderr); });
        FatalError("C:\\DADES\\X.dat", "cannot be opened");
      },
      ::testing::ExitedWithCode(kFatalExitCode), "hook ran\nkestrova: C:\\\\DADES\\\\X.dat: cannot be opened");
}

TEST(Host, RunsProgramsAndReportsTheirExitCode) {
  EXPECT_EQ(RunCommandAndWait("exit 3"), 3);
  EXPECT_EQ(RunProgramAndWait("/nonexistent/program", {}), -1);
  EXPECT_EQ(RunProgramAndWait("/bin/sh", {"-c", "exit 0"}), 0);
}

}  // namespace
}  // namespace kestrova

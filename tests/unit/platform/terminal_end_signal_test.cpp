// SIGTERM to the job while it waits for a program it lent the terminal to
// (the print program's viewer): the program is ended too and the terminal
// is left as the job found it, not in the program's raw mode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/host.h"
#include "platform/terminal.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

// Whether process `pid` is gone (or only a zombie nobody waits for).
bool Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

TEST(TerminalEndSignal, EndsTheProgramHoldingTheTerminalAndPutsTheTerminalBack) {
  testing::TempDir dir;
  const std::string pidFile = dir.Path() + "viewer.pid";
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  struct winsize size {};
  size.ws_row = 25;
  size.ws_col = 80;
  ioctl(master, TIOCSWINSZ, &size);

  const pid_t job = fork();
  if (job == 0) {
    alarm(30);
    setsid();
    const int fd = open(slave.c_str(), O_RDWR);
    if (fd < 0) _exit(10);
    dup2(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    if (!StartTerminalConsole()) _exit(11);
    SuspendTerminal();
    // A viewer that takes the terminal raw and keeps it.
    RunProgramAndWait("/bin/sh", {"-c", "stty raw -echo; echo $$ > " + pidFile +
                                            "; echo VIEWER-READY; exec sleep 60"});
    _exit(12);
  }
  // Read the terminal until the viewer is running.
  std::string seen;
  for (int waited = 0; waited < 20000 && seen.find("VIEWER-READY") == std::string::npos;
       waited += 50) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 50) == 1) {
      char buffer[512];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) seen.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ASSERT_NE(seen.find("VIEWER-READY"), std::string::npos);
  pid_t viewer = 0;
  std::ifstream(pidFile) >> viewer;
  ASSERT_GT(viewer, 0);
  termios raw {};
  ASSERT_EQ(tcgetattr(master, &raw), 0);
  ASSERT_EQ(raw.c_lflag & ICANON, 0u);

  kill(job, SIGTERM);
  int status = 0;
  for (int waited = 0; waited < 20000 && waitpid(job, &status, WNOHANG) != job; waited += 20) {
    usleep(20000);
  }
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  for (int waited = 0; waited < 5000 && !Gone(viewer); waited += 20) usleep(20000);
  EXPECT_TRUE(Gone(viewer)) << "the viewer outlived the job";
  termios after {};
  ASSERT_EQ(tcgetattr(master, &after), 0);
  EXPECT_NE(after.c_lflag & ICANON, 0u) << "the terminal was left raw";
  EXPECT_NE(after.c_lflag & ECHO, 0u);
  if (!Gone(viewer)) kill(viewer, SIGKILL);
  waitpid(job, nullptr, WNOHANG);
  close(master);
}

}  // namespace
}  // namespace kestrova

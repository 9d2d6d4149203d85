#include "platform/host.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <cerrno>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"

namespace kestrova {
namespace {

constexpr int kMaxExitHooks = 16;
void (*gExitHooks[kMaxExitHooks])() = {};
int gExitHookCount = 0;

// The program RunProgramAndWait waits for, for the end-signal path.
volatile sig_atomic_t gWaitedChild = 0;

}  // namespace

std::string GetEnvironment(std::string_view name) {
  const std::string key(name);
  const char* value = std::getenv(key.c_str());
  return value == nullptr ? std::string() : Utf8ToCp850(value);
}

std::string ComputerName() {
  // The whole name is asked for and cut afterwards: glibc fails with
  // ENAMETOOLONG rather than cut a name that does not fit the buffer, and
  // most servers have names of 16 characters or more.  The suite keeps the
  // first 16 (the lock files carry them).
  char buffer[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buffer, sizeof buffer) != 0) return {};
  std::string name = Utf8ToCp850(std::string(buffer, ::strnlen(buffer, sizeof buffer)));
  name.resize(std::min<std::size_t>(name.size(), 16));
  return name;
}

int RunProgramAndWait(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  gWaitedChild = pid;
  int status = 0;
  int waited = 0;
  while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  gWaitedChild = 0;
  if (waited < 0) return -1;
  if (!WIFEXITED(status)) return -1;
  const int code = WEXITSTATUS(status);
  return code == 127 ? -1 : code;
}

void EndWaitedProgram() {
  const pid_t pid = gWaitedChild;
  if (pid <= 0) return;
  gWaitedChild = 0;
  ::kill(pid, SIGTERM);
  // Up to two seconds to put its own terminal settings back.
  const struct timespec pause {0, 20 * 1000 * 1000};
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    ::nanosleep(&pause, nullptr);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

int RunCommandAndWait(const std::string& commandLine) {
  return RunProgramAndWait("/bin/sh", {"-c", commandLine});
}

void RegisterExitHook(void (*hook)()) {
  for (int i = 0; i < gExitHookCount; ++i) {
    if (gExitHooks[i] == hook) return;
  }
  if (gExitHookCount < kMaxExitHooks) gExitHooks[gExitHookCount++] = hook;
}

void RunExitHooks() {
  // Take each hook off before running it, so that a hook that fails into
  // FatalError does not run again.
  while (gExitHookCount > 0) {
    void (*hook)() = gExitHooks[--gExitHookCount];
    hook();
  }
}

void EndProcess(int exitCode) {
  RunExitHooks();
  std::fflush(nullptr);
  std::exit(exitCode);
}

void FatalError(std::string_view file, std::string_view problem) {
  RunExitHooks();
  std::string line = "kestrova: ";
  if (!file.empty()) line += Cp850ToUtf8(file) + ": ";
  line += Cp850ToUtf8(problem) + "\n";
  std::fflush(stdout);
  std::fputs(line.c_str(), stderr);
  std::fflush(nullptr);
  std::exit(kFatalExitCode);
}

}  // namespace kestrova

// The computer name, tried with real host names in a UTS namespace of its
// own (a forked child changes its own name only).
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/host.h"

namespace kestrova {
namespace {

// Runs ComputerName in a child whose host name is `hostName`.  Empty
// optional-like answer: `ran` is false when this system does not let the
// test have a namespace of its own.
std::string ComputerNameUnder(const std::string& hostName, bool& ran) {
  int pipeFds[2];
  ran = false;
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    if (::unshare(CLONE_NEWUTS) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWUTS) != 0) ::_exit(3);
    if (::sethostname(hostName.data(), hostName.size()) != 0) ::_exit(3);
    const std::string name = ComputerName();
    const ssize_t written = ::write(pipeFds[1], name.data(), name.size());
    ::_exit(written == static_cast<ssize_t>(name.size()) ? 0 : 4);
  }
  ::close(pipeFds[1]);
  std::string got;
  char buffer[256];
  ssize_t n = 0;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return got;
}

TEST(ComputerNameTest, LongHostNamesAreCutToSixteenCharacters) {
  struct Case {
    std::string host;
    std::string expected;
  };
  const Case cases[] = {
      {"kestrova", "kestrova"},
      {"abcdefghijklmno", "abcdefghijklmno"},            // 15
      {"abcdefghijklmnop", "abcdefghijklmnop"},          // 16: fits exactly
      {"abcdefghijklmnopq", "abcdefghijklmnop"},         // 17
      {"srv-tarn-01.barcelona.example.com", "srv-tarn-01.barc"},
      {std::string(64, 'x'), std::string(16, 'x')},      // the longest a system allows
  };
  for (const Case& c : cases) {
    bool ran = false;
    const std::string got = ComputerNameUnder(c.host, ran);
    if (!ran) GTEST_SKIP() << "no UTS namespace for this test on this system";
    EXPECT_EQ(got, c.expected) << c.host;
  }
}

}  // namespace
}  // namespace kestrova

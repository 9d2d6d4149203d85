// A forked client for the multi-process tests: every client is a real
// process, as on a network of workstations.  Each child ends itself with an
// alarm and every wait of the parent is bounded, so a fault fails the test
// instead of hanging it.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "pg_cluster.h"

namespace kestrova::rmtest {

// A forked client.  `body` runs in the child and returns its exit code; it
// talks to the parent through Signal() / AwaitParent().
class Child {
 public:
  explicit Child(const std::function<int(Child&)>& body) {
    if (pipe(toParent_) != 0 || pipe(toChild_) != 0) ADD_FAILURE() << "pipe";
    pid_ = fork();
    if (pid_ == 0) {
      alarm(20);  // a child that lost its parent must not live on
      close(toParent_[0]);
      close(toChild_[1]);
      _exit(body(*this));
    }
    close(toParent_[1]);
    close(toChild_[0]);
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) Kill();
    close(toParent_[0]);
    close(toChild_[1]);
  }
  // In the child.
  void Signal(char c = '!') { (void)!write(toParent_[1], &c, 1); }
  bool AwaitParent() { return Read(toChild_[0], 10000) != 0; }
  // In the parent.
  pid_t Pid() const { return pid_; }
  char AwaitChild(int ms = 10000) { return Read(toParent_[0], ms); }
  void Tell() {
    const char c = '!';
    (void)!write(toChild_[1], &c, 1);
  }
  void Kill() {
    kill(pid_, SIGKILL);
    Wait();
  }
  // The child's exit code, -1 when it was killed or did not end in time.
  int Wait(int ms = 10000) {
    for (int waited = 0; waited <= ms; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        AwaitPgClientGone(pid_);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    reaped_ = true;
    AwaitPgClientGone(pid_);
    return -1;
  }

 private:
  static char Read(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    if (poll(&p, 1, ms) == 1 && read(fd, &c, 1) == 1) return c;
    return 0;
  }
  pid_t pid_ = -1;
  bool reaped_ = false;
  int toParent_[2] = {-1, -1};
  int toChild_[2] = {-1, -1};
};

}  // namespace kestrova::rmtest

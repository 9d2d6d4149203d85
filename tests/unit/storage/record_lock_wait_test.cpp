// Two real processes: another client holds a record lock while this one
// reads the record in lock mode 2 (refused at once) and 1 (waits, shows the
// message, gets the record once the other lets go).
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "storage_test_support.h"

namespace kestrova::storagetest {
namespace {

constexpr int16_t kFile = 507;
constexpr int kWaitMs = 10000;

// Reads one byte from fd, waiting at most kWaitMs.  False on a timeout.
bool ReadSignal(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, kWaitMs) != 1) return false;
  char c = 0;
  return ::read(fd, &c, 1) == 1;
}

// Waits for the child to end, at most kWaitMs; kills it after that.
bool ReapChild(pid_t pid) {
  for (int waited = 0; waited < kWaitMs; waited += 10) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return false;
}

// The other client: opens the file, reads A001 with a no-wait lock, tells
// the parent, and holds the lock until the parent says to let go.
[[noreturn]] void HoldRecordLock(const std::string& path, int toParent, int fromParent) {
  uint8_t block[128] = {};
  char key[255];
  std::memset(key, ' ', sizeof key);
  std::memcpy(key, path.c_str(), path.size() + 1);
  char owner[1536] = "4719";
  uint32_t length = 5;
  if (BTRCALL(0, block, owner, &length, key, 255, 0) != 0) ::_exit(2);
  char record[1536] = {};
  std::memcpy(key, "A001", 4);
  length = sizeof record;
  if (BTRCALL(5 + 200, block, record, &length, key, 4, 0) != 0) ::_exit(3);
  if (::write(toParent, "L", 1) != 1) ::_exit(4);
  ReadSignal(fromParent);
  ::_exit(0);  // the lock goes with the process
}

class RecordLockWaitTest : public StorageTest {};

TEST_F(RecordLockWaitTest, ALockHeldElsewhereIsRefusedInModeTwoAndWaitedForInModeOne) {
  OpenTestFile(kFile, {TestRecord("A001", 1, 'a'), TestRecord("A002", 2, 'b')});
  const std::string path = dir_.Path() + "DADES/Prova.dat";
  ASSERT_EQ(ResetFiles(), 0) << "nothing of ours open across the fork";

  int toParent[2], toChild[2];
  ASSERT_EQ(::pipe(toParent), 0);
  ASSERT_EQ(::pipe(toChild), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) HoldRecordLock(path, toParent[1], toChild[0]);
  ASSERT_TRUE(ReadSignal(toParent[0])) << "the other client did not lock the record";

  ASSERT_EQ(OpenDataFile(kFile, dir_.Path() + "DADES\\Prova", Variable()), 0);
  int16_t status = 0;

  // Mode 2: the conflict comes back at once; another record is free.
  SetLockMode(kFile, "B", status);
  EXPECT_EQ(FindByKey(kFile, 0, "A001", 0), 84);
  EXPECT_TRUE(pauses_.empty());
  EXPECT_EQ(FindByKey(kFile, 0, "A002", 0), 0);

  // Mode 1: waits; at the second pause the message is up, and the other
  // client is told to let go.
  SetLockMode(kFile, "A", status);
  bool messageShown = false;
  bool released = false;
  SetSleepHookForTesting([&](int32_t ms) {
    pauses_.push_back(ms);
    if (pauses_.size() == 2) {
      messageShown = ScreenRowText(24).find("FITXER BLOQUEJAT") != std::string::npos ||
                     ScreenRowText(23).find("FITXER BLOQUEJAT") != std::string::npos ||
                     ScreenRowText(22).find("FITXER BLOQUEJAT") != std::string::npos;
      released = ::write(toChild[1], "G", 1) == 1 && ReapChild(child);
    }
    // Bounded: should the lock outlive its holder, stop waiting (mode 0
    // returns the conflict) and let the expectations below fail.
    if (pauses_.size() > 2) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (pauses_.size() > 100) FileSlots()[kSlot].lockMode = 0;
  });
  std::memset(record_, 'x', 20);
  EXPECT_EQ(FindByKey(kFile, 0, "A001", 0), 0);
  EXPECT_TRUE(released);
  EXPECT_TRUE(messageShown);
  EXPECT_EQ(pauses_.size(), 2u);
  EXPECT_EQ(Record(), TestRecord("A001", 1, 'a'));
  EXPECT_EQ(Windows().depth, 0) << "the message is gone";
  if (!released) ReapChild(child);
}

}  // namespace
}  // namespace kestrova::storagetest

// Lock modes, the lock bias, key padding and the wait on locked records.
#include "platform/codepage.h"
#include "storage_test_support.h"

namespace kestrova::storagetest {
namespace {

constexpr int16_t kFile = 508;

class RecordLocksTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    OpenTestFile(kFile, {TestRecord("A001", 1)});
  }
  FileSlot& Slot() { return FileSlots()[kSlot]; }
};

TEST_F(RecordLocksTest, OptionLettersSetAndStackTheLockMode) {
  struct Case {
    std::vector<std::string> calls;
    int16_t mode;
    std::string stack;  // pairs of slot and mode
  };
  const Case cases[] = {
      {{"+d", "-"}, 1, ""},  // starts from mode 1 below
      {{"-"}, 1, ""},        // nothing saved: no change
      {{"A+B"}, 2, std::string("\x28\x01", 2)},
      {{"b", "+", "d", "+", "a", "-"}, 0, std::string("\x28\x02", 2)},
      {{"+D", "+A", "-", "-"}, 1, ""},
      {{"xyz?"}, 1, ""},  // other characters are ignored
  };
  for (const Case& c : cases) {
    ResetLockModeStackForTesting();
    Slot().lockMode = 1;
    int16_t status = 77;
    for (const std::string& options : c.calls) SetLockMode(kFile, options, status);
    EXPECT_EQ(status, 77) << "the status is left as it was";
    EXPECT_EQ(Slot().lockMode, c.mode) << c.calls.front();
    EXPECT_EQ(LockModeStack(), c.stack) << c.calls.front();
  }
}

TEST_F(RecordLocksTest, TakingBackOnlyConcernsTheFilesOwnEntries) {
  LockModeStack() = std::string("\x05\x02\x28\x00\x05\x01", 6);
  Slot().lockMode = 2;
  int16_t status = 0;
  SetLockMode(kFile, "-", status);
  EXPECT_EQ(Slot().lockMode, 0);
  EXPECT_EQ(LockModeStack(), std::string("\x05\x02\x05\x01", 4));
  ResetFiles();
  EXPECT_EQ(LockModeStack().size(), 4u) << "a Reset does not clear the stack";
}

TEST_F(RecordLocksTest, TheLockBiasAndTheKeyPaddingFollowTheOperation) {
  Double().answer = [](uint16_t, char*, uint32_t*, char*, uint8_t) { return int16_t{0}; };
  Slot().keyValue = "AB";
  struct Case {
    int16_t operation;
    int16_t mode;
    int16_t sent;
    int padding;
  };
  const Case cases[] = {
      {9, 0, 9, 0x00},   {9, 2, 209, ' '}, {8, 0, 8, 0x00},   {11, 0, 11, 0xFF}, {10, 0, 10, 0xFF},
      {11, 1, 211, ' '}, {5, 0, 5, ' '},   {5, 2, 205, ' '},  {6, 1, 206, ' '},  {3, 0, 3, ' '},
      {3, 1, 3, ' '},    {3, 2, 3, ' '},   {19, 2, 219, ' '}, {23, 2, 223, ' '}, {33, 1, 233, ' '},
      {14, 2, 14, ' '},  {28, 2, 28, ' '},
  };
  for (const Case& c : cases) {
    Double().calls.clear();
    Slot().lockMode = c.mode;
    int16_t operation = c.operation;
    int16_t status = -1;
    LockedRecordCall(kSlot, operation, status);
    ASSERT_EQ(Double().calls.size(), 1u);
    EXPECT_EQ(Double().calls[0].operation, c.sent) << c.operation << "/" << c.mode;
    EXPECT_EQ(operation, c.sent) << "the operation comes back biased";
    EXPECT_EQ(Double().calls[0].keyLength, 2);
    EXPECT_EQ(Double().calls[0].padding, c.padding) << c.operation << "/" << c.mode;
    EXPECT_EQ(status, 0);
  }
}

TEST_F(RecordLocksTest, ModeOneWaitsShowingTheMessageOnceFromTheSecondAttempt) {
  Slot().lockMode = 1;
  struct Seen {
    int16_t depth;
    bool message;
  };
  std::vector<Seen> seen;
  int answers = 0;
  Double().answer = [&answers](uint16_t, char*, uint32_t*, char*, uint8_t) {
    return static_cast<int16_t>(++answers <= 3 ? (answers == 2 ? 85 : 84) : 0);
  };
  SetSleepHookForTesting([this, &seen](int32_t ms) {
    pauses_.push_back(ms);
    bool shown = false;
    for (int row = 1; row <= 25; ++row) {
      if (ScreenRowText(row).find("FITXER BLOQUEJAT. ESPEREU UN MOMENT.") != std::string::npos)
        shown = true;
    }
    seen.push_back({Windows().depth, shown});
  });
  int16_t operation = 5;
  int16_t status = -1;
  LockedRecordCall(kSlot, operation, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(operation, 205);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].depth, 0) << "no message after the first attempt";
  EXPECT_FALSE(seen[0].message);
  EXPECT_EQ(seen[1].depth, 1);
  EXPECT_TRUE(seen[1].message);
  EXPECT_EQ(seen[2].depth, 1) << "shown once, not once per attempt";
  EXPECT_EQ(Windows().depth, 0) << "closed after the attempt that succeeded";
  for (int32_t ms : pauses_) {
    EXPECT_GE(ms, 1);
    EXPECT_LE(ms, 10001);
  }
}

TEST_F(RecordLocksTest, ModesZeroAndTwoReturnTheConflictAtOnce) {
  Double().answer = [](uint16_t, char*, uint32_t*, char*, uint8_t) { return int16_t{84}; };
  for (int16_t mode : {int16_t{0}, int16_t{2}}) {
    Slot().lockMode = mode;
    int16_t operation = 5;
    int16_t status = 0;
    LockedRecordCall(kSlot, operation, status);
    EXPECT_EQ(status, 84);
  }
  EXPECT_TRUE(pauses_.empty());
  EXPECT_EQ(Windows().depth, 0);
}

TEST_F(RecordLocksTest, AFailedCallLeavesTheRecordVariableItsOwnBytes) {
  std::memcpy(record_, "KEEPTHISRECORDBYTES!", 20);
  Double().answer = [](uint16_t, char*, uint32_t*, char*, uint8_t) { return int16_t{4}; };
  int16_t operation = 5;
  int16_t status = 0;
  LockedRecordCall(kSlot, operation, status);
  EXPECT_EQ(status, 4);
  EXPECT_EQ(Record(), "KEEPTHISRECORDBYTES!");
}

TEST(LockMessageTest, OneTextPerLanguage) {
  EXPECT_EQ(LockMessageText("SPA"), "FICHERO BLOQUEADO. ESPERE UN MOMENTO.");
  EXPECT_EQ(LockMessageText("GLG"), "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.");
  EXPECT_EQ(LockMessageText("OCI"), "FICHÈR BLOQUEJAT. ESPERATZ UN MOMENT."_cp);
  EXPECT_EQ(LockMessageText("CAT"), "FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
  EXPECT_EQ(LockMessageText("ENG"), "FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
}

}  // namespace
}  // namespace kestrova::storagetest

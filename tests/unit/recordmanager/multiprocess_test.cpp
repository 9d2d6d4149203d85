// Several clients at once: every client here is a real forked process, as
// on a network of workstations.  Each child ends itself with an alarm and
// every wait of the parent is bounded, so a fault fails the test instead of
// hanging it.
#include <signal.h>

#include "child_process.h"
#include "rm_test_support.h"

namespace kestrova::rmtest {
namespace {

constexpr uint16_t kLength = 8;  // 4-byte unsigned id (key 0), 4 bytes of data

std::string Rec(uint32_t id, const std::string& text = "DATA") {
  return U32(id) + text.substr(0, 4);
}

class MultiProcessTest : public RecordManagerTest {
 protected:
  void SetUp() override {
    RecordManagerTest::SetUp();
    if (IsSkipped()) return;
    CreateAndOpen("shared.dat", CreateBuffer(kLength, {{{1, 4, 0, kTypeUnsignedBinary}}}));
    for (uint32_t id = 1; id <= 3; ++id) {
      ASSERT_EQ(Call(kOpInsert, block_, Rec(id)).status, kStatusOk);
    }
    file_ = PathKey(Path("shared.dat"));
  }
  // In a child: opens the file with its own block.
  int16_t ChildOpen(uint8_t* block, int8_t mode = 0) {
    return Call(kOpOpen, block, "", file_, mode).status;
  }
  int16_t Read(uint16_t op, uint32_t id, std::string* data = nullptr) {
    Answer a = Call(op, block_, "", U32(id), 0, kLength);
    if (data) *data = a.data;
    return a.status;
  }
  std::string file_;
};

// A child that takes a no-wait lock on record `id`, signals, then waits for
// the parent (or `ends` = 'k' to be killed while it waits).
int HoldLock(Child& c, const std::string& file, uint32_t id) {
  uint8_t block[128] = {};
  if (Call(kOpOpen, block, "", file, 0).status != kStatusOk) return 10;
  if (Call(kOpGetEqual + kBiasSingleNoWait, block, "", U32(id), 0, kLength).status != kStatusOk) {
    return 11;
  }
  c.Signal();
  c.AwaitParent();
  return 0;  // ends without Unlock, Close or Reset
}

TEST_F(MultiProcessTest, RecordLockAnswers84UntilTheHolderEnds) {
  for (const bool killIt : {false, true}) {
    Child child([&](Child& c) { return HoldLock(c, file_, 2); });
    ASSERT_EQ(child.AwaitChild(), '!');
    EXPECT_EQ(Read(kOpGetEqual + kBiasSingleNoWait, 2), kStatusRecordLocked);
    EXPECT_EQ(Read(kOpGetEqual + kBiasMultipleNoWait, 2), kStatusRecordLocked);
    // Other records and plain reads are not held up.
    EXPECT_EQ(Read(kOpGetEqual + kBiasSingleNoWait, 3), kStatusOk);
    std::string data;
    EXPECT_EQ(Read(kOpGetEqual, 2, &data), kStatusOk);
    EXPECT_EQ(data, Rec(2));
    EXPECT_EQ(Call(kOpUpdate, block_, Rec(2, "MINE")).status, kStatusRecordLocked);
    EXPECT_EQ(Call(kOpDelete, block_).status, kStatusRecordLocked);
    if (killIt) {
      child.Kill();
    } else {
      child.Tell();
      EXPECT_EQ(child.Wait(), 0);
    }
    EXPECT_EQ(Read(kOpGetEqual + kBiasSingleNoWait, 2), kStatusOk) << killIt;
    EXPECT_EQ(Call(kOpUnlock, block_, "", "", 0).status, kStatusOk);
  }
}

TEST_F(MultiProcessTest, MultipleRecordLocksAreReleasedOneByOneOrAllAtOnce) {
  ASSERT_EQ(Read(kOpGetEqual + kBiasMultipleNoWait, 1), kStatusOk);
  ASSERT_EQ(Read(kOpGetEqual + kBiasMultipleNoWait, 2), kStatusOk);
  ASSERT_EQ(Read(kOpGetEqual + kBiasMultipleNoWait, 3), kStatusOk);
  // What another client meets, as one digit per record: 1 locked, 0 free.
  auto othersSee = [&]() {
    Child child([&](Child&) {
      uint8_t block[128] = {};
      if (ChildOpen(block) != kStatusOk) return 99;
      int seen = 0;
      for (uint32_t id = 1; id <= 3; ++id) {
        const int16_t s =
            Call(kOpGetEqual + kBiasSingleNoWait, block, "", U32(id), 0, kLength).status;
        seen = seen * 10 + (s == kStatusRecordLocked ? 1 : 0);
      }
      return seen;
    });
    return child.Wait();
  };
  EXPECT_EQ(othersSee(), 111);
  ASSERT_EQ(Call(kOpUnlock, block_, U32(2), "", -1).status, kStatusOk);  // positions are ids here
  EXPECT_EQ(othersSee(), 101);
  ASSERT_EQ(Call(kOpUnlock, block_, "", "", -2).status, kStatusOk);
  EXPECT_EQ(othersSee(), 0);
}

TEST_F(MultiProcessTest, WaitingLockIsGrantedWhenTheHolderUnlocks) {
  Child child([&](Child& c) {
    uint8_t block[128] = {};
    if (ChildOpen(block) != kStatusOk) return 10;
    if (Call(kOpGetEqual + kBiasSingleNoWait, block, "", U32(1), 0, kLength).status != 0) return 11;
    c.Signal();
    usleep(200000);
    // The next locked read of the same block releases the first lock.
    if (Call(kOpGetEqual + kBiasSingleNoWait, block, "", U32(3), 0, kLength).status != 0) return 12;
    c.Signal();
    c.AwaitParent();
    return 0;
  });
  ASSERT_EQ(child.AwaitChild(), '!');
  EXPECT_EQ(Read(kOpGetEqual + kBiasSingleWait, 1), kStatusOk);  // waits about 200 ms
  ASSERT_EQ(child.AwaitChild(), '!');
  EXPECT_EQ(Read(kOpGetEqual + kBiasSingleNoWait, 3), kStatusRecordLocked);
  child.Tell();
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(MultiProcessTest, ExclusiveOpenLocksOthersOut) {
  ASSERT_EQ(Call(kOpClose, block_).status, kStatusOk);
  {
    Child child([&](Child& c) {
      uint8_t block[128] = {};
      if (ChildOpen(block, -4) != kStatusOk) return 10;
      c.Signal();
      c.AwaitParent();
      return 0;
    });
    ASSERT_EQ(child.AwaitChild(), '!');
    uint8_t block[128] = {};
    EXPECT_EQ(Call(kOpOpen, block, "", file_, 0).status, kStatusFileLocked);
    EXPECT_EQ(Call(kOpOpen, block, "", file_, -4).status, kStatusFileLocked);
    child.Tell();
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(Call(kOpOpen, block, "", file_, 0).status, kStatusOk);
  }
  // While this client has it open, an exclusive open elsewhere cannot be granted.
  Child other([&](Child&) {
    uint8_t block[128] = {};
    return ChildOpen(block, -4);
  });
  EXPECT_EQ(other.Wait(), kStatusIncompatibleMode);
}

TEST_F(MultiProcessTest, UpdateOfARecordChangedByAnotherClientAnswers80) {
  ASSERT_EQ(Read(kOpGetEqual, 1), kStatusOk);
  Child child([&](Child&) {
    uint8_t block[128] = {};
    if (ChildOpen(block) != kStatusOk) return 10;
    if (Call(kOpGetEqual, block, "", U32(1), 0, kLength).status != kStatusOk) return 11;
    return static_cast<int>(Call(kOpUpdate, block, Rec(1, "THEM")).status);
  });
  ASSERT_EQ(child.Wait(), kStatusOk);
  EXPECT_EQ(Call(kOpUpdate, block_, Rec(1, "MINE")).status, kStatusConflict);
  std::string data;
  ASSERT_EQ(Read(kOpGetEqual, 1, &data), kStatusOk);
  EXPECT_EQ(data, Rec(1, "THEM"));
  EXPECT_EQ(Call(kOpUpdate, block_, Rec(1, "MINE")).status, kStatusOk);
}

TEST_F(MultiProcessTest, SteppingSeesWhatAnotherClientCommittedMeanwhile) {
  ASSERT_EQ(Read(kOpGetEqual, 1), kStatusOk);
  ASSERT_EQ(Call(kOpGetNext, block_, "", "", 0, kLength).status, kStatusOk);  // at 2
  Child child([&](Child&) {
    uint8_t block[128] = {};
    if (ChildOpen(block) != kStatusOk) return 10;
    if (Call(kOpGetEqual, block, "", U32(3), 0, kLength).status != kStatusOk) return 11;
    if (Call(kOpUpdate, block, Rec(3, "NEW!")).status != kStatusOk) return 12;
    return static_cast<int>(Call(kOpInsert, block, Rec(4)).status);
  });
  ASSERT_EQ(child.Wait(), kStatusOk);
  EXPECT_EQ(Call(kOpGetNext, block_, "", "", 0, kLength).data, Rec(3, "NEW!"));
  EXPECT_EQ(Call(kOpGetNext, block_, "", "", 0, kLength).data, Rec(4));
  EXPECT_EQ(Call(kOpGetNext, block_, "", "", 0, kLength).status, kStatusEndOfFile);
}

TEST_F(MultiProcessTest, TransactionKilledMidwayLeavesNoTraceAndNeverBlocksReaders) {
  Child child([&](Child& c) {
    uint8_t block[128] = {};
    if (ChildOpen(block) != kStatusOk) return 10;
    if (Call(kOpBeginTransaction, nullptr).status != kStatusOk) return 11;
    for (uint32_t id = 100; id < 150; ++id) {
      if (Call(kOpInsert, block, Rec(id)).status != kStatusOk) return 12;
    }
    if (Call(kOpGetEqual, block, "", U32(1), 0, kLength).status != kStatusOk) return 13;
    if (Call(kOpUpdate, block, Rec(1, "TXN!")).status != kStatusOk) return 14;
    c.Signal();
    c.AwaitParent();
    pause();
    return 0;
  });
  ASSERT_EQ(child.AwaitChild(), '!');
  // Readers see the last committed state at once.
  std::string data;
  EXPECT_EQ(Read(kOpGetEqual, 1, &data), kStatusOk);
  EXPECT_EQ(data, Rec(1));
  EXPECT_EQ(Read(kOpGetEqual, 100), kStatusKeyNotFound);
  // Writers and locked readers meet the transaction's file lock.
  EXPECT_EQ(Call(kOpInsert, block_, Rec(9)).status, kStatusFileLocked);
  EXPECT_EQ(Read(kOpGetEqual + kBiasSingleNoWait, 2), kStatusFileLocked);
  child.Kill();

  Answer stat = Call(kOpStat, block_, "", "", 0, 1536);
  ASSERT_EQ(stat.status, kStatusOk);
  EXPECT_EQ(ReadU32(stat.data, 6), 3u);
  EXPECT_EQ(Read(kOpGetEqual, 1, &data), kStatusOk);
  EXPECT_EQ(data, Rec(1));
  EXPECT_EQ(Call(kOpInsert, block_, Rec(9)).status, kStatusOk);
}

TEST_F(MultiProcessTest, CommittedTransactionIsSeenWhole) {
  Child child([&](Child&) {
    uint8_t block[128] = {};
    if (ChildOpen(block) != kStatusOk) return 10;
    Call(kOpBeginTransaction, nullptr);
    for (uint32_t id = 10; id < 20; ++id) Call(kOpInsert, block, Rec(id));
    return static_cast<int>(Call(kOpEndTransaction, nullptr).status);
  });
  ASSERT_EQ(child.Wait(), kStatusOk);
  EXPECT_EQ(ReadU32(Call(kOpStat, block_, "", "", 0, 1536).data, 6), 13u);
}

TEST_F(MultiProcessTest, ConcurrentCreatesMakeOneWholeFile) {
  const std::string description = CreateBuffer(kLength, {{{1, 4, 0, kTypeUnsignedBinary}}});
  for (int round = 0; round < 3; ++round) {
    const std::string path = PathKey(Path("race" + std::to_string(round) + ".dat"));
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 4; ++i) {
      children.push_back(std::make_unique<Child>([&](Child& c) {
        c.AwaitParent();  // all start together
        const int16_t status = Call(kOpCreate, nullptr, description, path, -1).status;
        uint8_t block[128] = {};
        if (Call(kOpOpen, block, "", path, 0).status != kStatusOk) return 99;
        return static_cast<int>(status);
      }));
    }
    for (auto& child : children) child->Tell();
    int created = 0;
    for (auto& child : children) {
      const int code = child->Wait();
      EXPECT_TRUE(code == kStatusOk || code == kStatusFileExists) << code;
      created += code == kStatusOk;
    }
    EXPECT_EQ(created, 1);
  }
}

}  // namespace
}  // namespace kestrova::rmtest

// Backups taken while another client moves amounts between two files in
// two-file transactions: every backup must hold the same total, whole
// transactions only.  Restores refuse a file in use and put back the copy.
#include "recordmanager/backup.h"

#include <chrono>

#include "child_process.h"
#include "recordmanager/store.h"
#include "rm_test_support.h"

namespace kestrova::rmtest {
namespace {

constexpr int kAccounts = 4;
constexpr int32_t kOpening = 1000;

// An account: 4-byte key, 4-byte balance.
std::string Account(int id, int32_t balance) {
  return U32(static_cast<uint32_t>(id)) + U32(static_cast<uint32_t>(balance));
}

class BackupTest : public RecordManagerTest {
 protected:
  bool DiskStoreOnly() const override { return true; }
  void SetUp() override {
    RecordManagerTest::SetUp();
    if (IsSkipped()) return;
    for (const char* name : {"a.dat", "b.dat"}) {
      uint8_t block[128] = {};
      CreateAndOpen(name, CreateBuffer(8, {{{1, 4}}}), block);
      for (int id = 0; id < kAccounts; ++id) {
        ASSERT_EQ(Call(kOpInsert, block, Account(id, kOpening)).status, kStatusOk);
      }
    }
    BTRCALL(kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
  }

  // The sum of the balances of a file, read as a client.
  int64_t Total(const std::string& path) {
    uint8_t block[128] = {};
    EXPECT_EQ(Call(kOpOpen, block, "", PathKey(path), 0).status, kStatusOk) << path;
    int64_t total = 0;
    for (uint16_t op = kOpGetFirst;; op = kOpGetNext) {
      const Answer a = Call(op, block, "", "", 0, 8);
      if (a.status != kStatusOk) break;
      total += static_cast<int32_t>(ReadU32(a.data, 4));
    }
    Call(kOpClose, block);
    return total;
  }
};

// Moves `amount` from account `from` of a.dat to account `to` of b.dat (or
// within a.dat) in one transaction; false when another client was in the way.
bool Move(uint8_t* a, uint8_t* b, int from, int to, int32_t amount, bool twoFiles) {
  if (Call(kOpBeginTransaction, nullptr).status != kStatusOk) return false;
  auto change = [&](uint8_t* block, int id, int32_t delta) {
    Answer got = Call(kOpGetEqual, block, "", U32(static_cast<uint32_t>(id)), 0, 8);
    if (got.status != kStatusOk) return false;
    const int32_t balance = static_cast<int32_t>(ReadU32(got.data, 4)) + delta;
    return Call(kOpUpdate, block, Account(id, balance), U32(static_cast<uint32_t>(id))).status ==
           kStatusOk;
  };
  if (!change(a, from, -amount) || !change(twoFiles ? b : a, to, amount)) {
    Call(kOpAbortTransaction, nullptr);
    return false;
  }
  return Call(kOpEndTransaction, nullptr).status == kStatusOk;
}

TEST_F(BackupTest, BackupsTakenWhileTwoFileTransactionsRunHoldWholeTransactions) {
  const std::string a = Path("a.dat"), b = Path("b.dat");
  Child mover([&](Child& self) {
    uint8_t blockA[128] = {}, blockB[128] = {};
    if (Call(kOpOpen, blockA, "", PathKey(a), 0).status != kStatusOk) return 1;
    if (Call(kOpOpen, blockB, "", PathKey(b), 0).status != kStatusOk) return 2;
    self.Signal();
    int moved = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    for (int n = 0; std::chrono::steady_clock::now() < until; ++n) {
      if (Move(blockA, blockB, n % kAccounts, (n * 7) % kAccounts, 1 + n % 13, n % 3 != 0)) ++moved;
    }
    return moved > 0 ? 0 : 3;
  });
  ASSERT_EQ(mover.AwaitChild(), '!');
  int backups = 0;
  for (int round = 0; round < 12; ++round) {
    const std::string dir = Path("backup" + std::to_string(round));
    ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
    std::string error;
    ASSERT_EQ(BackupRecordFiles({a, b}, {dir + "/a.dat", dir + "/b.dat"}, 20000, error), kStatusOk)
        << error;
    EXPECT_TRUE(IsRecordFileHeader(dir + "/a.dat"));
    EXPECT_EQ(Total(dir + "/a.dat") + Total(dir + "/b.dat"), 2 * kAccounts * kOpening)
        << "backup " << round << " holds half a transaction";
    ++backups;
    usleep(100000);
  }
  EXPECT_EQ(mover.Wait(), 0);
  EXPECT_EQ(backups, 12);
  EXPECT_EQ(Total(a) + Total(b), 2 * kAccounts * kOpening);
}

TEST_F(BackupTest, RestorePutsTheCopyBackOnlyWhenNoClientHasTheFile) {
  const std::string a = Path("a.dat");
  std::string error;
  ASSERT_EQ(BackupRecordFiles({a}, {Path("copy.dat")}, 1000, error), kStatusOk) << error;
  EXPECT_EQ(BackupRecordFiles({a}, {Path("copy.dat")}, 1000, error), kStatusFileExists);

  // The file changes after the backup.
  uint8_t block[128] = {};
  ASSERT_EQ(Call(kOpOpen, block, "", PathKey(a), 0).status, kStatusOk);
  ASSERT_EQ(Call(kOpInsert, block, Account(99, 5)).status, kStatusOk);

  const struct {
    const char* name;
    bool replace;
    bool fileOpen;
    int16_t status;
  } cases[] = {
      {"an existing file without replace", false, false, kStatusFileExists},
      {"a file a client has open", true, true, kStatusFileLocked},
      {"a closed file with replace", true, false, kStatusOk},
  };
  bool open = true;
  for (const auto& c : cases) {
    if (c.fileOpen && !open) {
      ASSERT_EQ(Call(kOpOpen, block, "", PathKey(a), 0).status, kStatusOk);
    }
    if (!c.fileOpen && open) Call(kOpClose, block);
    open = c.fileOpen;
    EXPECT_EQ(RestoreRecordFile(Path("copy.dat"), a, c.replace, error), c.status) << c.name;
  }
  if (open) Call(kOpClose, block);
  EXPECT_EQ(Total(a), kAccounts * kOpening) << "the record inserted after the backup is gone";
  EXPECT_EQ(RestoreRecordFile(Path("nothing.dat"), Path("new.dat"), false, error), kStatusIoError);
}

}  // namespace
}  // namespace kestrova::rmtest

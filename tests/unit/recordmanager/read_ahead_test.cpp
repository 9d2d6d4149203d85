// Stepping with read-ahead beside another client's commits: a reader that
// has read records ahead and then meets changes made by another process
// must go on exactly as a reader that starts afresh from the same place,
// whichever records were changed, moved into or out of its stretch, and
// however many changes there were.
#include <functional>
#include <random>

#include "child_process.h"
#include "rm_test_support.h"

namespace kestrova::rmtest {
namespace {

constexpr uint16_t kLength = 8;  // 4-byte id (key 0, unique), 4-byte text (key 1, duplicates)

std::string Rec(uint32_t id, const std::string& text) { return U32(id) + text; }
std::string TextOf(uint32_t id) { return std::string(4, static_cast<char>('A' + id / 10 % 3)); }

std::string Description() {
  return CreateBuffer(kLength, {{{1, 4, kKeyModifiable, kTypeUnsignedBinary}},
                                {{5, 4, kKeyDuplicates | kKeyModifiable}}});
}

// What the other client does, through its own position block.
using Change = std::function<int(uint8_t* block)>;

int Rewrite(uint8_t* block, uint32_t id, const std::string& record) {
  if (Call(kOpGetEqual, block, "", U32(id), 0, kLength).status != kStatusOk) return 20;
  return Call(kOpUpdate, block, record).status;
}
Change UpdateText(uint32_t id, const std::string& text) {
  return [=](uint8_t* b) { return Rewrite(b, id, Rec(id, text)); };
}
Change MoveId(uint32_t id, uint32_t to) {
  return [=](uint8_t* b) { return Rewrite(b, id, Rec(to, TextOf(id))); };
}
Change Remove(uint32_t id) {
  return [=](uint8_t* b) {
    if (Call(kOpGetEqual, b, "", U32(id), 0, kLength).status != kStatusOk) return 20;
    return static_cast<int>(Call(kOpDelete, b).status);
  };
}
Change Add(uint32_t id, const std::string& text) {
  return [=](uint8_t* b) { return static_cast<int>(Call(kOpInsert, b, Rec(id, text)).status); };
}
// Many updates of records ahead, more than the change journal keeps, in
// one transaction.
Change ManyUpdates(int rounds) {
  return [=](uint8_t* b) {
    if (Call(kOpBeginTransaction, nullptr).status != kStatusOk) return 21;
    for (int i = 0; i < rounds; ++i) {
      const uint32_t id = 10 * (100 + i % 20);
      if (int rc = Rewrite(b, id, Rec(id, "R" + std::to_string(1000 + i).substr(1))); rc != 0) {
        return rc;
      }
    }
    return static_cast<int>(Call(kOpEndTransaction, nullptr).status);
  };
}

class ReadAheadTest : public RecordManagerTest {
 protected:
  // Ids 10, 20, ... 3000; their texts cycle through AAAA, BBBB, CCCC.
  void SetUp() override {
    RecordManagerTest::SetUp();
    if (IsSkipped()) return;
    CreateAndOpen("f.dat", Description());
    ASSERT_EQ(Call(kOpBeginTransaction, nullptr).status, kStatusOk);
    for (uint32_t id = 10; id <= 3000; id += 10) {
      ASSERT_EQ(Call(kOpInsert, block_, Rec(id, TextOf(id))).status, kStatusOk);
    }
    ASSERT_EQ(Call(kOpEndTransaction, nullptr).status, kStatusOk);
  }
  // The records from the position of `block` on, to the end.
  static std::vector<std::string> Rest(uint8_t* block, int key, bool forward) {
    std::vector<std::string> records;
    const uint16_t op = forward ? kOpGetNext : kOpGetPrevious;
    for (Answer a = Call(op, block, "", "", key, kLength); a.status == kStatusOk;
         a = Call(op, block, "", "", key, kLength)) {
      records.push_back(a.data);
    }
    return records;
  }
};

TEST_F(ReadAheadTest, ReaderGoesOnAsAFreshReaderWouldAfterAnotherClientsChanges) {
  struct Case {
    const char* what;
    int key;
    bool forward;
    std::vector<Change> changes;
    int walk = 5;  // steps before the change
  };
  // The reader stands on the 6th record along its key (id 60 forward, id
  // 2950 backward on key 0) with a batch read ahead; after a walk of 150
  // (id 1510) its batch has grown past 64 records.
  const Case cases[] = {
      {"a record ahead changed in place", 0, true, {UpdateText(90, "NEW!")}},
      {"a record ahead deleted", 0, true, {Remove(80)}},
      {"a record inserted inside the batch", 0, true, {Add(85, "INS!")}},
      {"a record inserted past the batch", 0, true, {Add(2005, "FAR!")}},
      {"a record inserted behind the reader", 0, true, {Add(15, "OLD!")}},
      {"a record ahead moved behind the reader", 0, true, {MoveId(100, 5)}},
      {"a record behind moved ahead", 0, true, {MoveId(20, 105)}},
      {"a record ahead moved far ahead", 0, true, {MoveId(110, 5000)}},
      {"several changes at once", 0, true, {Remove(70), UpdateText(130, "UPD!"), Add(135, "ADD!")}},
      {"two records in a row ahead deleted", 0, true, {Remove(80), Remove(90)}},
      {"a record ahead changed twice, then moved behind the reader", 0, true,
       {UpdateText(120, "ONE!"), UpdateText(120, "TWO!"), MoveId(120, 5)}},
      {"more changes than the journal keeps", 0, true, {ManyUpdates(600)}},
      {"backward: a record ahead deleted", 0, false, {Remove(2900)}},
      {"backward: a record inserted inside the batch", 0, false, {Add(2905, "INS!")}},
      {"duplicates: a text changed in place", 1, true, {UpdateText(300, "AAAA")}},
      {"duplicates: a record moved to the end of its text", 1, true, {UpdateText(40, "BBBB")}},
      {"duplicates: a record moved to another text", 1, true, {UpdateText(30, "CCCC")}},
      {"duplicates: a record added to the reader's text", 1, true, {Add(3005, "AAAA")}},
      {"a long walk: records changed, deleted and added far inside its batch", 0, true,
       {UpdateText(1600, "UPD!"), Remove(1700), Add(1805, "ADD!")}, 150},
      {"a long walk: a record moved from behind far into its batch", 0, true,
       {MoveId(500, 1905)}, 150},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BTRCALL(kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
    std::filesystem::remove_all(Path("f.dat"));
    std::filesystem::remove_all(Path("f.dat-lock"));
    SetUp();
    const uint16_t first = c.forward ? kOpGetFirst : kOpGetLast;
    const uint16_t step = c.forward ? kOpGetNext : kOpGetPrevious;
    ASSERT_EQ(Call(first, block_, "", "", c.key, kLength).status, kStatusOk);
    for (int i = 0; i < c.walk; ++i) {
      ASSERT_EQ(Call(step, block_, "", "", c.key, kLength).status, kStatusOk);
    }
    const Answer here = Call(kOpGetPosition, block_, "", "", 0, 4);

    Child writer([&](Child&) {
      uint8_t block[128] = {};
      if (Call(kOpOpen, block, "", PathKey(Path("f.dat")), 0).status != kStatusOk) return 10;
      for (const Change& change : c.changes) {
        if (const int rc = change(block); rc != 0) return rc;
      }
      return 0;
    });
    ASSERT_EQ(writer.Wait(30000), 0);

    uint8_t fresh[128] = {};
    ASSERT_EQ(Call(kOpOpen, fresh, "", PathKey(Path("f.dat")), 0).status, kStatusOk);
    ASSERT_EQ(Call(kOpGetDirect, fresh, here.data, "", c.key, kLength).status, kStatusOk);
    const auto expected = Rest(fresh, c.key, c.forward);
    Call(kOpClose, fresh);
    EXPECT_EQ(Rest(block_, c.key, c.forward), expected);
  }
}

// Steps taken the moment another client's commit returns: on the disk
// store its change journal is written before the commit; a server's notice
// of a commit reaches the reader a moment after it.
class ReadAheadOnDiskTest : public ReadAheadTest {
 protected:
  bool DiskStoreOnly() const override { return true; }
};

TEST_F(ReadAheadOnDiskTest, EveryStepSeesWhatWasCommittedBeforeIt) {
  // Before each step of the reader another client changes a record just
  // ahead of it (in place, deleted, a new one inserted just ahead, one
  // ahead moved behind): each step must give what a fresh search for the
  // next key gives at that moment.
  ASSERT_EQ(Call(kOpGetFirst, block_, "", "", 0, kLength).status, kStatusOk);
  Child writer([&](Child& c) {
    uint8_t block[128] = {};
    if (Call(kOpOpen, block, "", PathKey(Path("f.dat")), 0).status != kStatusOk) return 10;
    for (uint32_t round = 0; round < 40; ++round) {
      if (!c.AwaitParent()) return 11;
      const uint32_t id = 10 * (2 * round + 3);
      const Change changes[] = {UpdateText(id, "NEW!"), Remove(id), Add(id + 5, "INS!"),
                                MoveId(id, round)};
      if (changes[round % 4](block) != 0) return 12;
      c.Signal();
    }
    return 0;
  });
  uint8_t fresh[128] = {};
  ASSERT_EQ(Call(kOpOpen, fresh, "", PathKey(Path("f.dat")), 0).status, kStatusOk);
  uint32_t last = 10;
  for (uint32_t round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    writer.Tell();
    ASSERT_EQ(writer.AwaitChild(), '!');
    const Answer a = Call(kOpGetNext, block_, "", "", 0, kLength);
    const Answer b = Call(kOpGetGreater, fresh, "", U32(last), 0, kLength);
    ASSERT_EQ(a.status, kStatusOk);
    EXPECT_EQ(a.data, b.data);
    last = ReadU32(a.data);
  }
  ASSERT_EQ(writer.Wait(), 0);
}

TEST_F(ReadAheadOnDiskTest, RandomChangesAnywhereMatchAFreshSearchAtEveryStep) {
  // Before each step another client makes one to three changes of random
  // kinds at random places (ahead of the reader, inside or past its batch,
  // behind it); a change that does not apply (a key already there, a record
  // already gone) is no change.  The walk is long enough for its batches to
  // grow.  Each step must give what a fresh search gives at that moment.
  Child writer([&](Child& c) {
    uint8_t block[128] = {};
    if (Call(kOpOpen, block, "", PathKey(Path("f.dat")), 0).status != kStatusOk) return 10;
    std::mt19937 random(20261208);
    while (c.AwaitParent()) {
      for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) {
        const uint32_t id = 10 * (1 + random() % 320);
        // Mostly changes in place and deletes, which a reader keeps its
        // batch through; an insert or a move into its stretch gives it up.
        const Change changes[] = {UpdateText(id, "UPD!"), UpdateText(id, "UPD?"), UpdateText(id, "UPD+"),
                                  Remove(id), Remove(id), Add(id + 5, "ADD!"),
                                  MoveId(id, 10 * (1 + random() % 320) + 5)};
        changes[random() % 7](block);
      }
      c.Signal();
    }
    return 0;
  });
  uint8_t fresh[128] = {};
  ASSERT_EQ(Call(kOpOpen, fresh, "", PathKey(Path("f.dat")), 0).status, kStatusOk);
  Answer a = Call(kOpGetFirst, block_, "", "", 0, kLength);
  ASSERT_EQ(a.status, kStatusOk);
  int round = 0;
  for (; a.status == kStatusOk; ++round) {
    SCOPED_TRACE(round);
    const uint32_t last = ReadU32(a.data);
    writer.Tell();
    ASSERT_EQ(writer.AwaitChild(), '!');
    a = Call(kOpGetNext, block_, "", "", 0, kLength);
    const Answer b = Call(kOpGetGreater, fresh, "", U32(last), 0, kLength);
    ASSERT_EQ(a.status, b.status);
    if (a.status == kStatusOk) {
      ASSERT_EQ(a.data, b.data);
    }
  }
  EXPECT_GT(round, 200);  // a walk long enough for batches past 64
  writer.Kill();
}

TEST_F(ReadAheadTest, ChangesOfATransactionInFlightWhileTheBatchIsReadAreSeenOnceCommitted) {
  struct Case {
    const char* what;
    Change change;
    bool end;  // End (else Abort)
  };
  const Case cases[] = {
      {"an update ahead, committed", UpdateText(90, "TXN!"), true},
      {"a delete ahead, committed", Remove(100), true},
      {"an insert ahead, committed", Add(95, "TXN!"), true},
      {"an update ahead, aborted", UpdateText(90, "TXN!"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Call(kOpGetFirst, block_, "", "", 0, kLength).status, kStatusOk);
    Child writer([&](Child& w) {
      uint8_t block[128] = {};
      if (Call(kOpOpen, block, "", PathKey(Path("f.dat")), 0).status != kStatusOk) return 10;
      if (Call(kOpBeginTransaction, nullptr).status != kStatusOk) return 11;
      if (c.change(block) != 0) return 12;
      w.Signal();
      w.AwaitParent();
      return static_cast<int>(
          Call(c.end ? kOpEndTransaction : kOpAbortTransaction, nullptr).status);
    });
    ASSERT_EQ(writer.AwaitChild(), '!');
    // The batch is read, and walked on, while the change is noted but not
    // committed.
    for (uint32_t id = 20; id <= 50; id += 10) {
      ASSERT_EQ(Call(kOpGetNext, block_, "", "", 0, kLength).data, Rec(id, TextOf(id)));
    }
    writer.Tell();
    ASSERT_EQ(writer.Wait(), 0);
    const Answer here = Call(kOpGetPosition, block_, "", "", 0, 4);
    uint8_t fresh[128] = {};
    ASSERT_EQ(Call(kOpOpen, fresh, "", PathKey(Path("f.dat")), 0).status, kStatusOk);
    ASSERT_EQ(Call(kOpGetDirect, fresh, here.data, "", 0, kLength).status, kStatusOk);
    const auto expected = Rest(fresh, 0, true);
    Call(kOpClose, fresh);
    EXPECT_EQ(Rest(block_, 0, true), expected);
  }
}

}  // namespace
}  // namespace kestrova::rmtest

#include <fcntl.h>
#include <sqlite3.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "recordmanager/client_state.h"
#include "recordmanager/store.h"
#include "rm_test_support.h"

namespace kestrova::rmtest {
namespace {

// People file: 24-byte records.
//   0..3   id, signed 32-bit      key 0 (unique, not modifiable)
//   4..13  name                   key 1 (duplicates, modifiable, case-insensitive)
//   14..15 group, unsigned 16-bit key 2 = group descending + name (duplicates)
constexpr uint16_t kLength = 24;

std::string PeopleDescription() {
  return CreateBuffer(kLength,
                      {{{1, 4, 0, kTypeInteger}},
                       {{5, 10, kKeyDuplicates | kKeyModifiable | kKeyCaseInsensitive}},
                       {{15, 2, kKeyDuplicates | kKeyModifiable | kKeyBinary | kKeyDescending},
                        {5, 10, kKeyDuplicates | kKeyModifiable}}});
}

std::string Person(int32_t id, const std::string& name, uint16_t group = 0) {
  std::string r = U32(static_cast<uint32_t>(id));
  std::string padded = name;
  padded.resize(10, ' ');
  r += padded + U16(group);
  r.resize(kLength, '.');
  return r;
}

int32_t IdOf(const std::string& record) { return static_cast<int32_t>(ReadU32(record)); }
std::string NameOf(const std::string& record) {
  std::string n = record.substr(4, 10);
  while (!n.empty() && n.back() == ' ') n.pop_back();
  return n;
}
std::string IdKey(int32_t id) { return U32(static_cast<uint32_t>(id)); }

class BtrcallTest : public RecordManagerTest {
 protected:
  void SetUp() override {
    RecordManagerTest::SetUp();
    if (IsSkipped()) return;
    CreateAndOpen("people.dat", PeopleDescription());
  }
  void Insert(const std::string& record, int8_t key = 0) {
    ASSERT_EQ(Call(kOpInsert, block_, record, "", key).status, kStatusOk) << NameOf(record);
  }
  // Walks a whole key from `first` with `step`, returning the ids met.
  std::vector<int32_t> Walk(uint16_t first, uint16_t step, int8_t key) {
    std::vector<int32_t> ids;
    Answer a = Call(first, block_, "", "", key, kLength);
    while (a.status == kStatusOk) {
      ids.push_back(IdOf(a.data));
      a = Call(step, block_, "", "", key, kLength);
    }
    EXPECT_EQ(a.status, kStatusEndOfFile);
    return ids;
  }
};

TEST_F(BtrcallTest, SignedIntegerKeyOrdersAcrossByteBoundariesBothWays) {
  for (int32_t id : {5, -3, 256, 255, 1, 70000, -256}) Insert(Person(id, "X"));
  const std::vector<int32_t> ascending = {-256, -3, 1, 5, 255, 256, 70000};
  EXPECT_EQ(Walk(kOpGetFirst, kOpGetNext, 0), ascending);
  EXPECT_EQ(Walk(kOpGetLast, kOpGetPrevious, 0),
            std::vector<int32_t>(ascending.rbegin(), ascending.rend()));
}

TEST_F(BtrcallTest, KeySearchOperations) {
  for (int32_t id : {5, -3, 256, 255, 1}) Insert(Person(id, "X"));
  struct Case {
    uint16_t op;
    int32_t key;
    int16_t status;
    int32_t found;
  } cases[] = {
      {kOpGetEqual, 255, kStatusOk, 255},
      {kOpGetEqual, 7, kStatusKeyNotFound, 0},
      {kOpGetGreater, 255, kStatusOk, 256},
      {kOpGetGreater, 256, kStatusEndOfFile, 0},
      {kOpGetGreaterOrEqual, 254, kStatusOk, 255},
      {kOpGetGreaterOrEqual, 256, kStatusOk, 256},
      {kOpGetLess, 255, kStatusOk, 5},
      {kOpGetLess, -3, kStatusEndOfFile, 0},
      {kOpGetLessOrEqual, 2, kStatusOk, 1},
      {kOpGetLessOrEqual, -4, kStatusEndOfFile, 0},
  };
  for (const Case& c : cases) {
    Answer a = Call(c.op, block_, "", IdKey(c.key), 0, kLength);
    EXPECT_EQ(a.status, c.status) << c.op << " " << c.key;
    if (c.status == kStatusOk) {
      EXPECT_EQ(IdOf(a.data), c.found) << c.op << " " << c.key;
      EXPECT_EQ(a.key.substr(0, 4), IdKey(c.found));  // the key of the record reached
    }
  }
}

TEST_F(BtrcallTest, DuplicatesKeepInsertionOrderAndAnUpdatedKeyGoesLast) {
  Insert(Person(1, "anna"));
  Insert(Person(2, "BERT"));
  Insert(Person(3, "Anna"));
  Insert(Person(4, "ANNA"));
  EXPECT_EQ(Walk(kOpGetFirst, kOpGetNext, 1), (std::vector<int32_t>{1, 3, 4, 2}));
  // Equal and Greater-or-equal find the first duplicate, Less-or-equal the last.
  EXPECT_EQ(IdOf(Call(kOpGetEqual, block_, "", "ANNA      ", 1, kLength).data), 1);
  EXPECT_EQ(IdOf(Call(kOpGetLessOrEqual, block_, "", "anna      ", 1, kLength).data), 4);
  EXPECT_EQ(IdOf(Call(kOpGetLess, block_, "", "BERT      ", 1, kLength).data), 4);

  // Record 1 changes its name to another spelling of the same key: it keeps
  // its place; record 2 becomes an Anna: it goes after the others.
  ASSERT_EQ(Call(kOpGetEqual, block_, "", IdKey(1), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpUpdate, block_, Person(1, "aNNa")).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetEqual, block_, "", IdKey(2), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpUpdate, block_, Person(2, "Anna")).status, kStatusOk);
  EXPECT_EQ(Walk(kOpGetFirst, kOpGetNext, 1), (std::vector<int32_t>{1, 3, 4, 2}));
  EXPECT_EQ(Walk(kOpGetLast, kOpGetPrevious, 1), (std::vector<int32_t>{2, 4, 3, 1}));
}

TEST_F(BtrcallTest, MultiSegmentKeyWithDescendingBinarySegment) {
  Insert(Person(1, "B", 1));
  Insert(Person(2, "A", 256));
  Insert(Person(3, "C", 255));
  Insert(Person(4, "A", 1));
  // Group descending (256, 255, 1), then name ascending.
  EXPECT_EQ(Walk(kOpGetFirst, kOpGetNext, 2), (std::vector<int32_t>{2, 3, 4, 1}));
}

TEST_F(BtrcallTest, StepsContinueFromTheCurrentRecordNotFromTheKeyBuffer) {
  for (int32_t id : {10, 20, 30}) Insert(Person(id, "X"));
  ASSERT_EQ(Call(kOpGetEqual, block_, "", IdKey(20), 0, kLength).status, kStatusOk);
  Answer a = Call(kOpGetNext, block_, "", IdKey(-99), 0, kLength);
  EXPECT_EQ(a.status, kStatusOk);
  EXPECT_EQ(IdOf(a.data), 30);
  // A deleted current record still leads to its neighbours.
  ASSERT_EQ(Call(kOpGetEqual, block_, "", IdKey(20), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpDelete, block_).status, kStatusOk);
  EXPECT_EQ(Call(kOpGetPosition, block_, "", "", 0, 4).status, kStatusInvalidPositioning);
  EXPECT_EQ(IdOf(Call(kOpGetPrevious, block_, "", "", 0, kLength).data), 10);
}

TEST_F(BtrcallTest, SteppingSeesChangesMadeAheadOfIt) {
  for (int32_t id = 1; id <= 200; ++id) Insert(Person(id, "X"));
  uint8_t other[128] = {};
  ASSERT_EQ(Call(kOpOpen, other, "", PathKey(Path("people.dat")), 0).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetFirst, block_, "", "", 0, kLength).status, kStatusOk);
  ASSERT_EQ(IdOf(Call(kOpGetNext, block_, "", "", 0, kLength).data), 2);
  // Another position block changes records the first one will reach next.
  ASSERT_EQ(Call(kOpGetEqual, other, "", IdKey(3), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpUpdate, other, Person(3, "CHANGED")).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetEqual, other, "", IdKey(4), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpDelete, other).status, kStatusOk);
  Answer three = Call(kOpGetNext, block_, "", "", 0, kLength);
  EXPECT_EQ(NameOf(three.data), "CHANGED");
  EXPECT_EQ(IdOf(Call(kOpGetNext, block_, "", "", 0, kLength).data), 5);
  EXPECT_EQ(IdOf(Call(kOpGetPrevious, block_, "", "", 0, kLength).data), 3);
  std::vector<int32_t> ids = Walk(kOpGetFirst, kOpGetNext, 0);
  EXPECT_EQ(ids.size(), 199u);
}

TEST_F(BtrcallTest, GetDirectWithAKeyNumberReestablishesThatPath) {
  Insert(Person(1, "CARL"));
  Insert(Person(2, "ANNA"));
  Insert(Person(3, "BERT"));
  ASSERT_EQ(Call(kOpGetEqual, block_, "", IdKey(2), 0, kLength).status, kStatusOk);
  Answer position = Call(kOpGetPosition, block_, "", "", 0, 4);
  ASSERT_EQ(position.status, kStatusOk);
  ASSERT_EQ(position.data.size(), 4u);
  ASSERT_EQ(Call(kOpGetLast, block_, "", "", 0, kLength).status, kStatusOk);

  Answer direct = Call(kOpGetDirect, block_, position.data, "", 1, kLength);
  ASSERT_EQ(direct.status, kStatusOk);
  EXPECT_EQ(IdOf(direct.data), 2);
  EXPECT_EQ(direct.key.substr(0, 10), "ANNA      ");
  EXPECT_EQ(IdOf(Call(kOpGetNext, block_, "", "", 1, kLength).data), 3);  // BERT follows ANNA
  EXPECT_EQ(Call(kOpGetNext, block_, "", "", 0, kLength).status, kStatusDifferentKeyNumber);

  // Invalid positions answer 43 and leave the position where it was.
  for (uint32_t bad : {0u, 999u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Call(kOpGetDirect, block_, U32(bad), "", 1, kLength).status, kStatusInvalidPosition);
  }
  EXPECT_EQ(IdOf(Call(kOpGetNext, block_, "", "", 1, kLength).data), 1);  // CARL after BERT
}

TEST_F(BtrcallTest, StatusesOfRecordOperations) {
  Insert(Person(1, "ANNA"));
  EXPECT_EQ(Call(kOpInsert, block_, Person(1, "OTHER")).status, kStatusDuplicateKey);
  EXPECT_EQ(Call(kOpInsert, block_, Person(9, "SHORT").substr(0, kLength - 1)).status,
            kStatusDataBufferTooShort);
  EXPECT_EQ(Call(kOpInsert, block_, Person(9, "BADKEY"), "", 3).status, kStatusInvalidKeyNumber);

  uint8_t other[128] = {};
  ASSERT_EQ(Call(kOpOpen, other, "", PathKey(Path("people.dat")), 0).status, kStatusOk);
  EXPECT_EQ(Call(kOpUpdate, other, Person(1, "X")).status, kStatusInvalidPositioning);
  EXPECT_EQ(Call(kOpDelete, other).status, kStatusInvalidPositioning);
  EXPECT_EQ(Call(kOpGetNext, other, "", "", 0, kLength).status, kStatusInvalidPositioning);
  EXPECT_EQ(Call(kOpGetPosition, other, "", "", 0, 4).status, kStatusInvalidPositioning);
  EXPECT_EQ(Call(kOpGetFirst, other, "", "", 3, kLength).status, kStatusInvalidKeyNumber);
  EXPECT_EQ(Call(kOpGetFirst, other, "", "", -1, kLength).status, kStatusInvalidKeyNumber);

  ASSERT_EQ(Call(kOpGetFirst, other, "", "", 0, kLength).status, kStatusOk);
  EXPECT_EQ(Call(kOpUpdate, other, Person(2, "ANNA")).status, kStatusKeyNotModifiable);
  EXPECT_EQ(Call(kOpUpdate, other, Person(1, "ANNA").substr(0, 10)).status,
            kStatusDataBufferTooShort);
  // A short data buffer on a Get: what fits is copied and counts as read.
  Answer partial = Call(kOpGetFirst, other, "", "", 0, 6);
  EXPECT_EQ(partial.status, kStatusDataBufferTooShort);
  EXPECT_EQ(partial.data, Person(1, "ANNA").substr(0, 6));
  EXPECT_EQ(Call(kOpGetPosition, other, "", "", 0, 3).status, kStatusDataBufferTooShort);
  EXPECT_EQ(Call(kOpUpdate + kBiasSingleNoWait, other, Person(1, "ANNA")).status,
            kStatusInvalidOperation);
  EXPECT_EQ(Call(kOpGetFirst + 500, other, "", "", 0, kLength).status, kStatusInvalidOperation);
  EXPECT_EQ(Call(kOpGetPosition + kBiasSingleNoWait, other, "", "", 0, 4).status, kStatusOk);
  EXPECT_EQ(Call(99, other).status, kStatusInvalidOperation);
}

TEST_F(BtrcallTest, DuplicateFoundByALaterKeyLeavesNothingBehind) {
  // Key 0 unique: the insert fails on it after nothing else; with a unique
  // second key the failure comes after key 0 was written.
  BTRCALL(kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
  CreateAndOpen("two.dat", CreateBuffer(8, {{{1, 4, 0, kTypeUnsignedBinary}}, {{5, 4}}}));
  ASSERT_EQ(Call(kOpInsert, block_, U32(1) + "AAAA").status, kStatusOk);
  EXPECT_EQ(Call(kOpInsert, block_, U32(2) + "AAAA").status, kStatusDuplicateKey);
  EXPECT_EQ(Call(kOpGetEqual, block_, "", U32(2), 0, 8).status, kStatusKeyNotFound);
  EXPECT_EQ(ReadU32(Call(kOpStat, block_, "", "", 0, 1536).data, 6), 1u);
}

TEST_F(BtrcallTest, OptimisticReadOfAnotherHandleAnswersConflict) {
  Insert(Person(1, "ANNA"));
  uint8_t other[128] = {};
  ASSERT_EQ(Call(kOpOpen, other, "", PathKey(Path("people.dat")), 0).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetEqual, block_, "", IdKey(1), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetEqual, other, "", IdKey(1), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpUpdate, other, Person(1, "BEA")).status, kStatusOk);
  EXPECT_EQ(Call(kOpUpdate, block_, Person(1, "CLARA")).status, kStatusConflict);
  EXPECT_EQ(Call(kOpDelete, block_).status, kStatusConflict);
  // After reading again the update goes through.
  ASSERT_EQ(Call(kOpGetEqual, block_, "", IdKey(1), 0, kLength).status, kStatusOk);
  EXPECT_EQ(Call(kOpUpdate, block_, Person(1, "CLARA")).status, kStatusOk);
  EXPECT_EQ(NameOf(Call(kOpGetFirst, other, "", "", 0, kLength).data), "CLARA");
}

TEST_F(BtrcallTest, ReadOnlyOpenRefusesWrites) {
  Insert(Person(1, "ANNA"));
  uint8_t readOnly[128] = {};
  ASSERT_EQ(Call(kOpOpen, readOnly, "", PathKey(Path("people.dat")), -2).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetFirst, readOnly, "", "", 0, kLength).status, kStatusOk);
  EXPECT_EQ(Call(kOpInsert, readOnly, Person(2, "B")).status, kStatusReadOnly);
  EXPECT_EQ(Call(kOpUpdate, readOnly, Person(1, "B")).status, kStatusReadOnly);
  EXPECT_EQ(Call(kOpDelete, readOnly).status, kStatusReadOnly);
}

TEST_F(BtrcallTest, StatDescribesTheFileAsCreatedWithCounts) {
  Insert(Person(1, "ANNA"));
  Insert(Person(2, "anna"));
  Insert(Person(3, "BERT"));
  Answer a = Call(kOpStat, block_, "", "", 0, 1536);
  ASSERT_EQ(a.status, kStatusOk);
  const std::string created = PeopleDescription();
  ASSERT_EQ(a.data.size(), created.size());
  EXPECT_EQ(a.data.substr(0, 4), created.substr(0, 4));  // record length, page size
  EXPECT_EQ(a.data.substr(4, 2), U16(3));                // keys
  EXPECT_EQ(ReadU32(a.data, 6), 3u);                     // records
  EXPECT_EQ(ReadU32(a.data, 16 + 6), 3u);                // distinct ids
  EXPECT_EQ(ReadU32(a.data, 32 + 6), 2u);                // distinct names
  for (std::size_t seg = 0; seg < 4; ++seg) {            // positions, lengths and flags as created
    EXPECT_EQ(a.data.substr(16 + 16 * seg, 6), created.substr(16 + 16 * seg, 6)) << seg;
  }
  EXPECT_EQ(Call(kOpStat, block_, "", "", 0, 20).status, kStatusDataBufferTooShort);
}

TEST_F(BtrcallTest, CollatingTableFollowsTheSegmentsInStat) {
  std::string table(256, '\0');
  for (int c = 0; c < 256; ++c) table[c] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  const std::string description =
      CreateBuffer(10, {{{1, 10, kKeyDuplicates | kKeyCollated}}}, table);
  CreateAndOpen("coll.dat", description, block_);
  Answer a = Call(kOpStat, block_, "", "", 0, 1536);
  ASSERT_EQ(a.status, kStatusOk);
  ASSERT_EQ(a.data.size(), 16u + 16u + 265u);
  EXPECT_EQ(static_cast<uint8_t>(a.data[32]), kCollationSignature);
  EXPECT_EQ(a.data.substr(32 + 9), table);
  ASSERT_EQ(Call(kOpInsert, block_, "zeta      ").status, kStatusOk);
  ASSERT_EQ(Call(kOpInsert, block_, "ALPHA     ").status, kStatusOk);
  ASSERT_EQ(Call(kOpInsert, block_, "beta      ").status, kStatusOk);
  EXPECT_EQ(Call(kOpGetFirst, block_, "", "", 0, 10).data, "ALPHA     ");
  EXPECT_EQ(Call(kOpGetNext, block_, "", "", 0, 10).data, "beta      ");
  EXPECT_EQ(Call(kOpGetEqual, block_, "", "ZETA      ", 0, 10).data, "zeta      ");
}

TEST_F(BtrcallTest, PositionBlocksThatAreNotOpenAnswerFileNotOpen) {
  uint8_t never[128] = {};
  EXPECT_EQ(Call(kOpGetFirst, never, "", "", 0, kLength).status, kStatusFileNotOpen);
  EXPECT_EQ(Call(kOpClose, nullptr).status, kStatusFileNotOpen);

  uint8_t copy[128];
  std::memcpy(copy, block_, 128);
  block_[9] ^= 0x40;  // overwritten by the caller
  EXPECT_EQ(Call(kOpGetFirst, block_, "", "", 0, kLength).status, kStatusFileNotOpen);
  std::memcpy(block_, copy, 128);
  ASSERT_EQ(Call(kOpClose, block_).status, kStatusOk);
  EXPECT_EQ(Call(kOpGetFirst, copy, "", "", 0, kLength).status, kStatusFileNotOpen);
  EXPECT_EQ(Call(kOpStat, copy, "", "", 0, 1536).status, kStatusFileNotOpen);
}

TEST_F(BtrcallTest, PathsMustEndWithinTheKeyBuffer) {
  uint8_t block[128] = {};
  std::string noEnd(255, 'x');
  EXPECT_EQ(Call(kOpOpen, block, "", noEnd, 0).status, kStatusInvalidFileName);
  EXPECT_EQ(Call(kOpOpen, block, "", "", 0).status, kStatusInvalidFileName);
  EXPECT_EQ(Call(kOpOpen, block, "", PathKey(Path("people.dat")), 0, 0, 5).status,
            kStatusInvalidFileName);  // key buffer too short for the path
  // A blank ends the path as well as a NUL (the buffer is blank-padded).
  std::string blankEnded = Path("people.dat") + std::string(255, ' ');
  EXPECT_EQ(Call(kOpOpen, block, "", blankEnded.substr(0, 255), 0).status, kStatusOk);
  EXPECT_EQ(Call(kOpOpen, block, "", PathKey(Path("missing.dat")), 0).status, kStatusFileNotFound);
  EXPECT_EQ(Call(kOpOpen, block, "", PathKey(Path("people.dat")), 5).status,
            kStatusIncompatibleMode);
}

TEST_F(BtrcallTest, FilesThatAreNotOursAreRefusedAndLeftUntouched) {
  if (PgTestMode()) GTEST_SKIP() << "files on disk (a table that is not ours: pg_store_test)";
  const std::string text = Path("text.dat"), empty = Path("empty.dat"), other = Path("other.dat");
  std::ofstream(text) << "just some text\n";
  std::ofstream(empty).close();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  std::ofstream(Path("wal.dat")).close();
  ASSERT_EQ(sqlite3_open(Path("wal.dat").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE records(x);", nullptr, nullptr, nullptr);
  sqlite3_close(db);

  for (const std::string& path : {text, empty, other, Path("wal.dat"), dir_}) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream before;
    before << in.rdbuf();
    uint8_t block[128] = {};
    const int16_t status = Call(kOpOpen, block, "", PathKey(path), 0).status;
    EXPECT_EQ(status, kStatusIoError) << path;
    std::ifstream again(path, std::ios::binary);
    std::stringstream after;
    after << again.rdbuf();
    EXPECT_EQ(before.str(), after.str()) << path;
    // Only a WAL-mode SQLite database gets as far as the lock file.
    if (path != Path("wal.dat")) {
      EXPECT_FALSE(std::filesystem::exists(path + "-lock")) << path;
    }
  }
}

TEST_F(BtrcallTest, CreateRefusesAnExistingFileOrReplacesIt) {
  Insert(Person(1, "ANNA"));
  ASSERT_EQ(Call(kOpClose, block_).status, kStatusOk);
  EXPECT_EQ(Call(kOpCreate, nullptr, PeopleDescription(), PathKey(Path("people.dat")), -1).status,
            kStatusFileExists);
  // Replacing a file this client still has open is refused.
  uint8_t open[128] = {};
  ASSERT_EQ(Call(kOpOpen, open, "", PathKey(Path("people.dat")), 0).status, kStatusOk);
  EXPECT_EQ(Call(kOpCreate, nullptr, PeopleDescription(), PathKey(Path("people.dat")), 0).status,
            kStatusFileLocked);
  ASSERT_EQ(Call(kOpClose, open).status, kStatusOk);
  EXPECT_EQ(Call(kOpCreate, nullptr, PeopleDescription(), PathKey(Path("people.dat")), 0).status,
            kStatusOk);
  ASSERT_EQ(Call(kOpOpen, open, "", PathKey(Path("people.dat")), 0).status, kStatusOk);
  EXPECT_EQ(Call(kOpGetFirst, open, "", "", 0, kLength).status, kStatusEndOfFile);
}

TEST_F(BtrcallTest, TransactionsCommitOrRollBackEveryFileTouched) {
  uint8_t second[128] = {};
  CreateAndOpen("second.dat", PeopleDescription(), second);
  Insert(Person(1, "KEPT"));
  ASSERT_EQ(Call(kOpBeginTransaction, nullptr).status, kStatusOk);
  EXPECT_EQ(Call(kOpBeginTransaction, nullptr).status, kStatusTransactionActive);
  Insert(Person(2, "GONE"));
  ASSERT_EQ(Call(kOpInsert, second, Person(3, "GONE")).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetEqual, block_, "", IdKey(1), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpDelete, block_).status, kStatusOk);
  ASSERT_EQ(Call(kOpAbortTransaction, nullptr).status, kStatusOk);
  EXPECT_EQ(Walk(kOpGetFirst, kOpGetNext, 0), std::vector<int32_t>{1});
  EXPECT_EQ(Call(kOpGetFirst, second, "", "", 0, kLength).status, kStatusEndOfFile);

  ASSERT_EQ(Call(kOpBeginTransaction, nullptr).status, kStatusOk);
  Insert(Person(4, "NEW"));
  ASSERT_EQ(Call(kOpInsert, second, Person(5, "NEW")).status, kStatusOk);
  ASSERT_EQ(Call(kOpEndTransaction, nullptr).status, kStatusOk);
  EXPECT_EQ(Call(kOpEndTransaction, nullptr).status, kStatusNoTransaction);
  EXPECT_EQ(Call(kOpAbortTransaction, nullptr).status, kStatusNoTransaction);
  EXPECT_EQ(Walk(kOpGetFirst, kOpGetNext, 0), (std::vector<int32_t>{1, 4}));
  EXPECT_EQ(IdOf(Call(kOpGetFirst, second, "", "", 0, kLength).data), 5);

  // Reset rolls back an open transaction too (begun with the lock bias some
  // callers add: it changes nothing).
  ASSERT_EQ(Call(kOpBeginTransaction + kBiasSingleNoWait, nullptr).status, kStatusOk);
  Insert(Person(6, "RESET"));
  ASSERT_EQ(Call(kOpReset, nullptr).status, kStatusOk);
  EXPECT_EQ(Call(kOpGetFirst, block_, "", "", 0, kLength).status, kStatusFileNotOpen);
  ASSERT_EQ(Call(kOpOpen, block_, "", PathKey(Path("people.dat")), 0).status, kStatusOk);
  EXPECT_EQ(Walk(kOpGetFirst, kOpGetNext, 0), (std::vector<int32_t>{1, 4}));
}

TEST_F(BtrcallTest, OwnerNameIsCheckedWhenTheFileHasOne) {
  FileDescription description;
  const std::string buffer = PeopleDescription();
  ASSERT_EQ(ParseFileDescription(reinterpret_cast<const uint8_t*>(buffer.data()), buffer.size(),
                                 description),
            kStatusOk);
  ASSERT_EQ(CreateRecordFile(Path("owned.dat"), description, "1234", false), kStatusOk);
  uint8_t block[128] = {};
  EXPECT_EQ(Call(kOpOpen, block, std::string("9999\0", 5), PathKey(Path("owned.dat")), 0).status,
            kStatusOwnerMismatch);
  EXPECT_EQ(Call(kOpOpen, block, std::string("1234\0", 5), PathKey(Path("owned.dat")), 0).status,
            kStatusOk);
  // A file without owner takes whatever name the job passes.
  uint8_t plain[128] = {};
  EXPECT_EQ(Call(kOpOpen, plain, std::string("1234\0", 5), PathKey(Path("people.dat")), 0).status,
            kStatusOk);
}

TEST_F(BtrcallTest, SingleRecordLocksOfOneClientDoNotBlockItself) {
  Insert(Person(1, "ANNA"));
  uint8_t other[128] = {};
  ASSERT_EQ(Call(kOpOpen, other, "", PathKey(Path("people.dat")), 0).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetFirst + kBiasSingleNoWait, block_, "", "", 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetFirst + kBiasSingleNoWait, other, "", "", 0, kLength).status, kStatusOk);
  EXPECT_EQ(Call(kOpUpdate, other, Person(1, "BEA")).status, kStatusOk);
  EXPECT_EQ(Call(kOpUnlock, block_, "", "", 0).status, kStatusOk);
  EXPECT_EQ(Call(kOpUnlock, block_, "", "", -7).status, kStatusInvalidKeyNumber);
}

// Full-table steps and sorts made by the statements of the file open on
// `block` since the last call (which sets the counters back to 0).
int ScansAndSorts(const uint8_t* block) {
  sqlite3* db = HandleOf(block)->file->store.db;
  int total = 0;
  for (sqlite3_stmt* s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s)) {
    total += sqlite3_stmt_status(s, SQLITE_STMTSTATUS_FULLSCAN_STEP, 1);
    total += sqlite3_stmt_status(s, SQLITE_STMTSTATUS_SORT, 1);
  }
  return total;
}

class BtrcallOnDiskTest : public BtrcallTest {
 protected:
  bool DiskStoreOnly() const override { return true; }
};

// Each step searches the key's index: no step reads the whole table or
// sorts it, whether plain (read ahead) or locked (one record per call), on
// a key with duplicates or a unique one, either way.
TEST_F(BtrcallOnDiskTest, StepsSearchTheKeysIndexInsteadOfScanningTheTable) {
  constexpr int kRecords = 30;
  for (int id = 0; id < kRecords; ++id) {
    Insert(Person(id, "name" + std::to_string(id % 4), static_cast<uint16_t>(id % 3)));
  }
  struct Case {
    uint16_t first, step;
    int8_t key;
  };
  const Case cases[] = {
      {kOpGetFirst, kOpGetNext, 0},
      {kOpGetLast, kOpGetPrevious, 0},
      {kOpGetFirst, kOpGetNext, 1},
      {kOpGetLast, kOpGetPrevious, 1},
      {kOpGetFirst, kOpGetNext, 2},
      {kOpGetLast, kOpGetPrevious, 2},
      {kOpGetFirst, kOpGetNext + kBiasSingleNoWait, 1},
      {kOpGetLast, kOpGetPrevious + kBiasSingleNoWait, 2},
  };
  for (const Case& c : cases) {
    ScansAndSorts(block_);
    EXPECT_EQ(Walk(c.first, c.step, c.key).size(), static_cast<std::size_t>(kRecords))
        << "key " << int(c.key) << ", step " << c.step;
    EXPECT_EQ(ScansAndSorts(block_), 0) << "key " << int(c.key) << ", step " << c.step;
  }
}

}  // namespace
}  // namespace kestrova::rmtest

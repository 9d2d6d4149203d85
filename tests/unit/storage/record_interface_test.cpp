// The record layer over a real record manager on temporary files, with the
// entry point replaced by a double that counts (and sometimes answers) the
// calls.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "storage/stat_description.h"
#include "storage_test_support.h"

namespace kestrova::storagetest {
namespace {

constexpr int16_t kFile = 507;

class RecordInterfaceTest : public StorageTest {
 protected:
  void OpenFourRecords() {
    OpenTestFile(kFile, {TestRecord("A001", 0x0201, 'a'), TestRecord("A002", 0x0102, 'b'),
                         TestRecord("B001", 0x0300, 'c'), TestRecord("B002", 0x0003, 'd')});
  }
  std::string ReadLog() const {
    std::ifstream in(dir_.Path() + "db.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(RecordInterfaceTest, FindSlotReportsTheHighestFreeSlotOrAFullTable) {
  for (int16_t i = 1; i <= kLastSlot; ++i)
    FileSlots()[static_cast<std::size_t>(i)].fileNumber = static_cast<int16_t>(100 + i);
  EXPECT_EQ(FindSlot(0), 0) << "a full table";
  EXPECT_EQ(FindSlot(999), 0);
  EXPECT_EQ(FindSlot(105), 5);
  FileSlots()[3].fileNumber = 0;
  FileSlots()[7].fileNumber = 0;
  EXPECT_EQ(FindSlot(999), -7);
  EXPECT_EQ(FindSlot(140), 40);
  // A free slot holds number 0: FindSlot(0) finds the first of them.
  EXPECT_EQ(FindSlot(0), 3);
  for (int16_t i = 1; i <= kLastSlot; ++i) FileSlots()[static_cast<std::size_t>(i)].fileNumber = 0;
  EXPECT_EQ(FindSlot(0), 1) << "an empty table";
  EXPECT_EQ(FindSlot(999), -40);
  EXPECT_EQ(OpenSlot(0), 0) << "number 0 names no open file";
}

TEST_F(RecordInterfaceTest, PositionZeroOnlyAsksForTheCurrentPosition) {
  OpenFourRecords();
  ASSERT_EQ(FindByKey(kFile, 0, "B001", 0), 0);
  Double().calls.clear();
  std::memset(record_, 'x', sizeof record_);
  EXPECT_EQ(GoToRecordPosition(kFile, 0), 0);
  EXPECT_EQ(Operations(), (std::vector<uint16_t>{22})) << "Get Position, never Get Direct";
  EXPECT_EQ(Record(4), "xxxx") << "the record variable is left alone";
  EXPECT_EQ(FileSlots()[kSlot].keyValue, "B001");
  EXPECT_EQ(StepRecords(kFile, 1), 0) << "still on the record the walk reached";
  EXPECT_EQ(Record(4), "B002");

  // An update whose position cannot be read goes back to position 0, that
  // is nowhere: the record stays where it was.
  ASSERT_EQ(FindByKey(kFile, 0, "A002", 0), 0);
  Double().calls.clear();
  Double().answer = [](uint16_t operation, char*, uint32_t*, char*, uint8_t) -> int16_t {
    return operation == 22 ? 8 : -1;
  };
  EXPECT_EQ(UpdateCurrentRecord(kFile), 0);
  EXPECT_EQ(Operations(), (std::vector<uint16_t>{22, 3, 22}));
}

TEST_F(RecordInterfaceTest, AFileNotOpenIsAnsweredWithoutTheRecordManager) {
  int16_t lockStatus = 0;
  SetLockMode(kFile, "A", lockStatus);
  EXPECT_EQ(lockStatus, 3);
  EXPECT_EQ(FindByKey(kFile, 0, "A001", 0), 3);
  int16_t status = 0;
  FindByKey(kFile, 0, "A001", 0, status);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(StepRecords(kFile, 1), 3);
  EXPECT_EQ(GoToRecordPosition(kFile, 5), 3);
  EXPECT_EQ(UpdateCurrentRecord(kFile), 3);
  EXPECT_EQ(GetRecordPosition(kFile), 0);
  EXPECT_FALSE(PeekWithinBound(kFile, 1, "Z"));
  EXPECT_EQ(ComparableKey("\x01\x02", kFile), "\x01\x02");
  EXPECT_EQ(CurrentComparableKey(kFile), "");
  EXPECT_EQ(KeyAndRecordLength(kFile, 0).keyLength, 0);
  EXPECT_EQ(KeyAndRecordLength(kFile, 0).recordLength, 0);
  EXPECT_TRUE(Double().calls.empty());
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "db.log"));
}

TEST_F(RecordInterfaceTest, FindByKeyPadsOrCutsTheValueToTheKeyLength) {
  OpenFourRecords();
  struct Case {
    std::string value;
    int16_t mode;
    std::string sent;
    std::string found;
  };
  const Case cases[] = {
      {"A001", 0, "A001", "A001"},
      {"A00123456", 0, "A001", "A001"},             // cut
      {"B", 1, std::string("B\0\0\0", 4), "B001"},  // padded with NULs
      {"A", 0, std::string("A\0\0\0", 4), ""},      // no such key
      {"B", -1, std::string("B\0\0\0", 4), "A002"},
      {"", 1, std::string(4, '\0'), "A001"},
  };
  for (const Case& c : cases) {
    Double().calls.clear();
    const int16_t status = FindByKey(kFile, 0, c.value, c.mode);
    ASSERT_FALSE(Double().calls.empty());
    const SeenCall& read = Double().calls.back();
    EXPECT_EQ(read.key, c.sent) << c.value;
    EXPECT_EQ(read.keyLength, 4);
    if (c.found.empty()) {
      EXPECT_EQ(status, 4) << c.value;
    } else {
      EXPECT_EQ(status, 0) << c.value;
      EXPECT_EQ(Record(4), c.found) << c.value;
      EXPECT_EQ(FileSlots()[kSlot].keyValue, c.found) << "the key reached comes back";
    }
  }
}

TEST_F(RecordInterfaceTest, FindByKeyOnAMissingKeyNumberChangesNothing) {
  OpenFourRecords();
  ASSERT_EQ(FindByKey(kFile, 1, std::string("\x02\x01", 2), 0), 0);
  Double().calls.clear();
  EXPECT_EQ(FindByKey(kFile, 2, "A001", 0), kStatusNoSuchKey);
  EXPECT_EQ(FileSlots()[kSlot].keyNumber, 1);
  EXPECT_TRUE(Operations().empty()) << "the keys are known since the opening";
}

// The keys of an open file are read once: a search sends only the read, and
// a file opened again (after a Reset) reads its description again.
TEST_F(RecordInterfaceTest, KeyDescriptionIsReadOncePerOpenFile) {
  OpenFourRecords();
  Double().calls.clear();
  for (const char* key : {"A001", "B002", "A002"}) ASSERT_EQ(FindByKey(kFile, 0, key, 0), 0) << key;
  EXPECT_EQ(ComparableKey("A001", kFile), "A001");
  EXPECT_EQ(Operations(), (std::vector<uint16_t>{5, 5, 5}));
  EXPECT_EQ(RecordCount(kFile), 4) << "the record count is asked for each time";
  EXPECT_EQ(ResetFiles(), 0);
  EXPECT_EQ(FileSlots()[kSlot].description, nullptr);
}

TEST_F(RecordInterfaceTest, StepRecordsReadsOnlyTheLastRecordReached) {
  OpenFourRecords();
  ASSERT_EQ(FindByKey(kFile, 0, "B002", 0), 0);
  Double().calls.clear();
  std::memset(record_, 'x', sizeof record_);
  EXPECT_EQ(StepRecords(kFile, -3), 0);
  ASSERT_EQ(Operations(), (std::vector<uint16_t>{7, 7, 7}));
  EXPECT_EQ(Double().calls[0].dataLength, 1536u) << "plain steps offer the whole buffer";
  EXPECT_EQ(Double().calls[1].dataLength, 1536u);
  EXPECT_EQ(Double().calls[2].dataLength, 20u) << "the last step goes with the record";
  EXPECT_EQ(Record(), TestRecord("A001", 0x0201, 'a'));
  EXPECT_EQ(record_[20], 'x') << "nothing beyond the record length";
  EXPECT_EQ(FileSlots()[kSlot].keyValue, "A001");

  // A step that fails stops the walk with its status.
  Double().calls.clear();
  EXPECT_EQ(StepRecords(kFile, -3), 9);
  EXPECT_EQ(Operations(), (std::vector<uint16_t>{7}));
  EXPECT_EQ(StepRecords(kFile, 0), 0);
}

TEST_F(RecordInterfaceTest, PositionsLeadBackToTheRecord) {
  OpenFourRecords();
  ASSERT_EQ(FindByKey(kFile, 0, "A002", 0), 0);
  const int32_t position = GetRecordPosition(kFile);
  EXPECT_NE(position, 0);
  ASSERT_EQ(StepRecords(kFile, 2), 0);
  EXPECT_EQ(Record(4), "B002");
  EXPECT_EQ(GoToRecordPosition(kFile, position), 0);
  EXPECT_EQ(Record(4), "A002");
  EXPECT_EQ(FileSlots()[kSlot].keyValue, "A002");
  EXPECT_EQ(StepRecords(kFile, 1), 0) << "the key path is current again";
  EXPECT_EQ(Record(4), "B001");
}

TEST_F(RecordInterfaceTest, PeekWithinBoundLooksAheadAndComesBack) {
  OpenFourRecords();
  ASSERT_EQ(FindByKey(kFile, 0, "A001", 0), 0);
  struct Case {
    int32_t count;
    std::string bound;
    bool within;
  };
  const Case cases[] = {
      {0, "A001", true}, {0, "A000", false}, {1, "A", true},   {2, "A", false},
      {2, "B", true},    {9, "Z", false},    {-1, "A", false},  // no record before A001
  };
  for (const Case& c : cases) {
    Double().calls.clear();
    std::memset(record_, 'x', 20);
    EXPECT_EQ(PeekWithinBound(kFile, c.count, c.bound), c.within) << c.count << " " << c.bound;
    EXPECT_EQ(Double().calls.back().operation, 23) << "always back to the record";
    EXPECT_EQ(Record(4), "A001");
    EXPECT_EQ(FileSlots()[kSlot].keyValue, "A001");
  }
  ASSERT_EQ(FindByKey(kFile, 0, "B002", 0), 0);
  EXPECT_TRUE(PeekWithinBound(kFile, -3, "A"));
  EXPECT_FALSE(PeekWithinBound(kFile, -3, "B"));
}

TEST_F(RecordInterfaceTest, ComparableKeysSortAsTheKey) {
  // Key 0: 2 collated bytes then a 2-byte binary number; key 1: 2 plain bytes.
  std::string table(256, '\0');
  for (int i = 0; i < 256; ++i)
    table[static_cast<std::size_t>(i)] = static_cast<char>(i >= 'a' && i <= 'z' ? i - 32 : i);
  WriteDictionary("Coll", Description(20, {{{1, 2, 0x20}, {3, 2, 0x04}}, {{5, 2}}}, table));
  std::filesystem::create_directories(dir_.Path() + "DADES");
  ASSERT_EQ(OpenDataFile(kFile, dir_.Path() + "DADES\\Coll", Variable()), 0);
  struct Case {
    std::string value;
    std::string comparable;
  };
  const Case cases[] = {
      {std::string("ab\x01\x02", 4), std::string("AB\x02\x01", 4)},
      {"a", std::string("A\0\0\0", 4)},  // the binary segment is padded first
      {std::string("Zz\xff\x00", 4), std::string("ZZ\x00\xff", 4)},
  };
  for (const Case& c : cases) EXPECT_EQ(ComparableKey(c.value, kFile), c.comparable) << c.value;
  // Only the current key's segments change.
  ASSERT_EQ(FindByKey(kFile, 1, "ab", 1), 9);
  EXPECT_EQ(ComparableKey("ab", kFile), "ab");
  EXPECT_EQ(KeyAndRecordLength(kFile, 0).keyLength, 4);
  EXPECT_EQ(KeyAndRecordLength(kFile, 1).keyLength, 2);
  EXPECT_EQ(KeyAndRecordLength(kFile, 1).recordLength, 20);
}

TEST_F(RecordInterfaceTest, AShortBufferCountsAsARecordCutToTheRecordLength) {
  OpenFourRecords();
  Double().answer = [](uint16_t operation, char* data, uint32_t* length, char* key, uint8_t) {
    if (operation != 5) return int16_t{-1};
    std::memset(data, 'L', 30);  // a record longer than the file says
    std::memcpy(key, "A001", 4);
    *length = 30;
    return int16_t{22};
  };
  std::memset(record_, 'x', sizeof record_);
  EXPECT_EQ(FindByKey(kFile, 0, "A001", 0), 0);
  EXPECT_EQ(Record(20), std::string(20, 'L'));
  EXPECT_EQ(record_[20], 'x');
}

TEST_F(RecordInterfaceTest, EveryUpdateWritesOneLogLine) {
  OpenTestFile(kFile, {TestRecord("A001", 1), TestRecord("A002", 2)});
  ASSERT_EQ(FindByKey(kFile, 0, "A001", 0), 0);
  record_[10] = 'U';
  EXPECT_EQ(UpdateCurrentRecord(kFile), 0);
  EXPECT_EQ(Record(4), "A001");
  EXPECT_EQ(record_[10], 'U');
  // A change of a key that may not change is refused: the stored record
  // stays, and the record variable holds it again.
  std::memcpy(record_, "A002", 4);
  EXPECT_EQ(UpdateCurrentRecord(kFile), 10);
  EXPECT_EQ(Record(4), "A001");
  EXPECT_EQ(FileSlots()[kSlot].keyValue, "A001");
  EXPECT_EQ(ReadLog(),
            "507           3             0\r\n"
            "507           3             10\r\n");
  EXPECT_TRUE(SavedStack().empty()) << "the saved position was taken back";
}

TEST_F(RecordInterfaceTest, AFailedUpdateBlanksTheKeyBeforeGoingBack) {
  OpenTestFile(kFile, {TestRecord("A001", 1)});
  ASSERT_EQ(FindByKey(kFile, 0, "A001", 0), 0);
  std::string keyAtGoBack;
  Double().answer = [&keyAtGoBack](uint16_t operation, char*, uint32_t*, char* key, uint8_t) {
    if (operation == 22) return int16_t{-1};  // the record manager's own position
    if (operation == 23) keyAtGoBack.assign(key, 4);
    return static_cast<int16_t>(operation == 3 ? 80 : 43);
  };
  EXPECT_EQ(UpdateCurrentRecord(kFile), 80);
  EXPECT_EQ(keyAtGoBack, std::string(4, '\0'));
  EXPECT_EQ(ReadLog(), "507           3             80\r\n");
}

TEST_F(RecordInterfaceTest, ALogHeldByAnotherWorkstationIsWaitedForAndTheLineNeverLost) {
  OpenTestFile(kFile, {TestRecord("A001", 1)});
  ASSERT_EQ(FindByKey(kFile, 0, "A001", 0), 0);
  // Another open of the log holds it exclusively, as another job appending
  // its line would.
  const int other = ::open((dir_.Path() + "db.log").c_str(), O_WRONLY | O_CREAT, 0666);
  ASSERT_GE(other, 0);
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);
  SetSleepHookForTesting([&](int32_t ms) {
    pauses_.push_back(ms);
    if (pauses_.size() == 3) ::close(other);  // the other job is done
  });
  EXPECT_EQ(UpdateCurrentRecord(kFile), 0);
  EXPECT_EQ(pauses_.size(), 3u);
  for (int32_t ms : pauses_) EXPECT_LE(ms, 101);
  EXPECT_EQ(ReadLog(), "507           3             0\r\n");

  // Held for good: after a bounded wait the line is appended all the same.
  const int stuck = ::open((dir_.Path() + "db.log").c_str(), O_WRONLY, 0666);
  ASSERT_EQ(::fcntl(stuck, F_OFD_SETLK, &lock), 0);
  pauses_.clear();
  SetSleepHookForTesting([this](int32_t ms) { pauses_.push_back(ms); });
  EXPECT_EQ(UpdateCurrentRecord(kFile), 0);
  EXPECT_EQ(pauses_.size(), 50u);
  EXPECT_EQ(ReadLog(), "507           3             0\r\n507           3             0\r\n");
  ::close(stuck);
}

TEST_F(RecordInterfaceTest, ResetClearsTheTableOnlyWhenItSucceeds) {
  OpenTestFile(kFile, {TestRecord("A001", 1)});
  Double().answer = [](uint16_t, char*, uint32_t*, char*, uint8_t) { return int16_t{2}; };
  EXPECT_EQ(ResetFiles(), 2);
  EXPECT_EQ(FileSlots()[kSlot].fileNumber, kFile);
  Double().answer = nullptr;
  EXPECT_EQ(ResetFiles(), 0);
  EXPECT_EQ(FileSlots()[kSlot].fileNumber, 0);
  EXPECT_EQ(FileSlots()[kSlot].keyValue, "");
  EXPECT_EQ(Double().calls.back().dataLength, 0u);
}

TEST(StatDescriptionTest, ADescriptionCutShortKeepsOnlyItsWholeKeys) {
  const std::string full = Description(20, {{{1, 2}, {3, 2}}, {{5, 4}}});
  struct Case {
    std::size_t size;
    std::size_t keys;
    int32_t key1Length;
  };
  const Case cases[] = {
      {full.size(), 2, 4}, {full.size() - 1, 1, 0}, {20, 0, 0}, {3, 0, 0}, {0, 0, 0}};
  for (const Case& c : cases) {
    const StatDescription d = ParseStatDescription(std::string_view(full).substr(0, c.size));
    EXPECT_EQ(d.keys.size(), c.keys) << c.size;
    EXPECT_EQ(StatKeyLength(d, 1), c.key1Length) << c.size;
    EXPECT_FALSE(d.hasCollation);
  }
  EXPECT_EQ(StatKeyLength(ParseStatDescription(full), 0), 4);
  EXPECT_EQ(StatKeyLength(ParseStatDescription(full), -1), 0);
}

}  // namespace
}  // namespace kestrova::storagetest

// The PostgreSQL store's own cases: the setting that chooses it, tables
// that are not ours, a server that is down or drops a client, and
// transactions over several tables.  The record manager's other tests run
// against it too (KESTROVA_TEST_BACKEND=postgresql, see pg_cluster.h).
#include <fstream>

#include "child_process.h"
#include "recordmanager/file_copy.h"
#include "recordmanager/store_setting.h"
#include "rm_test_support.h"

namespace kestrova::rmtest {
namespace {

TEST(StoreSetting, TableNamesFollowThePathUnderTheRoot) {
  struct Case {
    std::string relative;
    std::string table;
  } cases[] = {
      {"DADES/FinquesV.dat", "dades/finquesv.dat"},
      {"DADES\\Inquilins.DAT", "dades/inquilins.dat"},
      {"people.dat", "people.dat"},
      {std::string(63, 'a'), std::string(63, 'a')},
  };
  for (const Case& c : cases) EXPECT_EQ(TableNameOfRelativePath(c.relative), c.table) << c.relative;
  // Longer names keep their start and end in a hash of the whole path.
  const std::string a = TableNameOfRelativePath("arxius/" + std::string(80, 'x') + "/a.dat");
  const std::string b = TableNameOfRelativePath("arxius/" + std::string(80, 'x') + "/b.dat");
  EXPECT_EQ(a.size(), 63u);
  EXPECT_EQ(a.substr(0, 10), "arxius/xxx");
  EXPECT_NE(a, b);
}

class StoreSettingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/kestrova-setting-XXXXXX";
    dir_ = mkdtemp(templ);
    std::filesystem::create_directories(dir_ + "/root/DADES/local");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Write(const std::string& relative, const std::string& text) {
    std::ofstream(dir_ + "/" + relative) << text;
  }
  std::string dir_;
};

TEST_F(StoreSettingTest, TheNearestSettingFileDecides) {
  Write("root/recordstore.conf",
        "# server\nbackend = postgresql\nconnection = host=/x dbname=tarn\nschema = finques\n");
  Write("root/DADES/local/recordstore.conf", "backend = sqlite\n");
  struct Case {
    std::string path;
    bool postgres;
    std::string table;
  } cases[] = {
      {"root/DADES/FinquesV.dat", true, "dades/finquesv.dat"},
      {"root/Other.dat", true, "other.dat"},
      {"root/DADES/local/Temp.dat", false, ""},
      {"elsewhere.dat", false, ""},
  };
  for (const Case& c : cases) {
    const StoreRoute route = RouteOfPath(dir_ + "/" + c.path);
    EXPECT_TRUE(route.valid) << c.path;
    EXPECT_EQ(route.postgres, c.postgres) << c.path;
    EXPECT_EQ(route.table, c.table) << c.path;
    if (c.postgres) {
      EXPECT_EQ(route.connection, "host=/x dbname=tarn");
      EXPECT_EQ(route.schema, "finques");
    }
  }
}

TEST_F(StoreSettingTest, AWrongSettingRefusesTheFilesInsteadOfGuessing) {
  for (const std::string text : {"backend = oracle\n", "colour = blue\n", "backend postgresql\n",
                                 "backend = postgresql\nschema =\n"}) {
    Write("root/recordstore.conf", text);
    EXPECT_FALSE(RouteOfPath(dir_ + "/root/DADES/x.dat").valid) << text;
    uint8_t block[128] = {};
    EXPECT_EQ(Call(kOpOpen, block, "", PathKey(dir_ + "/root/DADES/x.dat"), 0).status, kStatusIoError)
        << text;
  }
}

// A server that cannot be reached answers at once, whatever the mode.
TEST_F(StoreSettingTest, AServerThatIsDownAnswersIoErrorWithoutWaiting) {
  Write("root/recordstore.conf",
        "backend = postgresql\nconnection = host=" + dir_ + "/no-server connect_timeout=2\n");
  const std::string path = PathKey(dir_ + "/root/DADES/x.dat");
  uint8_t block[128] = {};
  EXPECT_EQ(Call(kOpOpen, block, "", path, 0).status, kStatusIoError);
  EXPECT_EQ(Call(kOpCreate, nullptr, CreateBuffer(8, {{{1, 4}}}), path, -1).status, kStatusIoError);
  EXPECT_EQ(Call(kOpGetFirst, block, "", "", 0, 8).status, kStatusFileNotOpen);
}

constexpr uint16_t kLength = 8;
std::string Rec(uint32_t id, const std::string& text = "DATA") { return U32(id) + text.substr(0, 4); }

class PgStoreTest : public RecordManagerTest {
 protected:
  void SetUp() override {
    if (!PgTestMode()) GTEST_SKIP() << "runs in the PostgreSQL half (KESTROVA_TEST_BACKEND=postgresql)";
    RecordManagerTest::SetUp();
    if (IsSkipped()) return;
    for (const char* name : {"a.dat", "b.dat"}) {
      ASSERT_EQ(Call(kOpCreate, nullptr, CreateBuffer(kLength, {{{1, 4, 0, kTypeUnsignedBinary}}}),
                     PathKey(Path(name)), -1)
                    .status,
                kStatusOk);
    }
  }
  std::string Table(const std::string& name) const { return "\"" + schema_ + "\".\"" + name + "\""; }
  std::string Count(const std::string& name) const {
    return PgAdminValue("SELECT count(*) FROM " + Table(name));
  }
};

TEST_F(PgStoreTest, ATableThatIsNotOursIsRefusedAndLeftUntouched) {
  ASSERT_TRUE(PgAdminExec("CREATE TABLE " + Table("foreign.dat") + "(x int); INSERT INTO " +
                          Table("foreign.dat") + " VALUES (1)"));
  const std::string path = PathKey(Path("foreign.dat"));
  uint8_t block[128] = {};
  EXPECT_EQ(Call(kOpOpen, block, "", path, 0).status, kStatusIoError);
  for (int8_t mode : {-1, 0}) {
    EXPECT_EQ(Call(kOpCreate, nullptr, CreateBuffer(kLength, {{{1, 4}}}), path, mode).status,
              kStatusIoError);
  }
  EXPECT_EQ(Count("foreign.dat"), "1");
  EXPECT_EQ(PgAdminValue("SELECT count(*) FROM information_schema.columns WHERE table_name = "
                         "'foreign.dat'"),
            "1");
}

TEST_F(PgStoreTest, RecordsKeepTheirPositionsAndVersionsInTheTable) {
  ASSERT_EQ(Call(kOpOpen, block_, "", PathKey(Path("a.dat")), 0).status, kStatusOk);
  for (uint32_t id : {7, 3, 5}) ASSERT_EQ(Call(kOpInsert, block_, Rec(id)).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetEqual, block_, "", U32(3), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpUpdate, block_, Rec(3, "NEW!")).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetEqual, block_, "", U32(5), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpDelete, block_).status, kStatusOk);
  // Position = order of insertion, never reused; version = updates + 1.
  EXPECT_EQ(PgAdminValue("SELECT string_agg(pos || ':' || ver, ',' ORDER BY pos) FROM " + Table("a.dat")),
            "1:1,2:2");
  ASSERT_EQ(Call(kOpInsert, block_, Rec(9)).status, kStatusOk);
  EXPECT_EQ(Call(kOpGetPosition, block_, "", "", 0, 4).data, U32(4));
}

// Begins a transaction over both tables, writes to each, then signals and
// waits to be killed or told to end it.
int TwoTableTransaction(Child& c, const std::string& a, const std::string& b) {
  uint8_t ba[128] = {}, bb[128] = {};
  if (Call(kOpOpen, ba, "", a, 0).status != kStatusOk) return 10;
  if (Call(kOpOpen, bb, "", b, 0).status != kStatusOk) return 11;
  if (Call(kOpBeginTransaction, nullptr).status != kStatusOk) return 12;
  for (uint32_t id = 1; id <= 20; ++id) {
    if (Call(kOpInsert, ba, Rec(id)).status != kStatusOk) return 13;
    if (Call(kOpInsert, bb, Rec(id)).status != kStatusOk) return 14;
  }
  c.Signal();
  if (!c.AwaitParent()) return 15;
  return Call(kOpEndTransaction, nullptr).status;
}

TEST_F(PgStoreTest, ATransactionOverTwoTablesIsCommittedWholeOrNotAtAll) {
  const std::string a = PathKey(Path("a.dat")), b = PathKey(Path("b.dat"));
  for (const bool killIt : {true, false}) {
    Child child([&](Child& c) { return TwoTableTransaction(c, a, b); });
    ASSERT_EQ(child.AwaitChild(), '!');
    // Meanwhile readers see neither table changed and are not held up.
    uint8_t block[128] = {};
    ASSERT_EQ(Call(kOpOpen, block, "", a, 0).status, kStatusOk);
    EXPECT_EQ(Call(kOpGetFirst, block, "", "", 0, kLength).status, kStatusEndOfFile);
    EXPECT_EQ(Call(kOpInsert, block, Rec(99)).status, kStatusFileLocked);
    ASSERT_EQ(Call(kOpClose, block).status, kStatusOk);
    if (killIt) {
      child.Kill();
    } else {
      child.Tell();
      ASSERT_EQ(child.Wait(), kStatusOk);
    }
    const std::string expected = killIt ? "0" : "20";
    EXPECT_EQ(Count("a.dat"), expected) << killIt;
    EXPECT_EQ(Count("b.dat"), expected) << killIt;
  }
}

// An unplugged workstation: the server ends its session (here at once; on
// a network when its keepalives go unanswered) and its locks go with it.
TEST_F(PgStoreTest, LocksOfAClientWhoseSessionTheServerEndedAreGone) {
  const std::string a = PathKey(Path("a.dat"));
  ASSERT_EQ(Call(kOpOpen, block_, "", a, 0).status, kStatusOk);
  ASSERT_EQ(Call(kOpInsert, block_, Rec(1)).status, kStatusOk);
  Child child([&](Child& c) {
    uint8_t block[128] = {};
    if (Call(kOpOpen, block, "", a, 0).status != kStatusOk) return 10;
    if (Call(kOpGetEqual + kBiasSingleNoWait, block, "", U32(1), 0, kLength).status != 0) return 11;
    c.Signal();
    if (!c.AwaitParent()) return 12;
    // The session is gone: the client is told, it does not hang.
    return static_cast<int>(Call(kOpGetFirst, block, "", "", 0, kLength).status);
  });
  ASSERT_EQ(child.AwaitChild(), '!');
  EXPECT_EQ(Call(kOpGetEqual + kBiasSingleNoWait, block_, "", U32(1), 0, kLength).status,
            kStatusRecordLocked);
  ASSERT_TRUE(PgAdminExec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                          "application_name = 'kestrova " + std::to_string(child.Pid()) + "'"));
  for (int i = 0; i < 500 && Call(kOpGetEqual + kBiasSingleNoWait, block_, "", U32(1), 0, kLength).status !=
                                 kStatusOk;
       ++i) {
    usleep(10000);
  }
  EXPECT_EQ(Call(kOpGetEqual + kBiasSingleNoWait, block_, "", U32(1), 0, kLength).status, kStatusOk);
  child.Tell();
  EXPECT_EQ(child.Wait(), kStatusIoError);
}

// Every record along key `key` as "position:record", in key order.
std::vector<std::string> WalkWithPositions(uint8_t* block, int8_t key) {
  std::vector<std::string> seen;
  for (Answer a = Call(kOpGetFirst, block, "", "", key, kLength); a.status == kStatusOk;
       a = Call(kOpGetNext, block, "", "", key, kLength)) {
    seen.push_back(std::to_string(ReadU32(Call(kOpGetPosition, block, "", "", 0, 4).data)) + ":" + a.data);
  }
  return seen;
}

TEST_F(PgStoreTest, CopyMovesAFileToTheDiskAndBackWithPositionsAndDuplicateOrder) {
  std::filesystem::create_directories(Path("disk"));
  std::ofstream(Path("disk/recordstore.conf")) << "backend = sqlite\n";
  const std::string description =
      CreateBuffer(kLength, {{{1, 4, 0, kTypeUnsignedBinary}}, {{5, 4, kKeyDuplicates | kKeyModifiable}}});
  ASSERT_EQ(Call(kOpCreate, nullptr, description, PathKey(Path("dups.dat")), -1).status, kStatusOk);
  ASSERT_EQ(Call(kOpOpen, block_, "", PathKey(Path("dups.dat")), 0).status, kStatusOk);
  for (uint32_t id = 1; id <= 6; ++id) {
    ASSERT_EQ(Call(kOpInsert, block_, Rec(id, id % 2 ? "ODD " : "EVEN")).status, kStatusOk);
  }
  // Record 1 goes to the end of the EVENs, record 4 leaves a gap in the positions.
  ASSERT_EQ(Call(kOpGetEqual, block_, "", U32(1), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpUpdate, block_, Rec(1, "EVEN")).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetEqual, block_, "", U32(4), 0, kLength).status, kStatusOk);
  ASSERT_EQ(Call(kOpDelete, block_).status, kStatusOk);
  const std::vector<std::string> byKey0 = WalkWithPositions(block_, 0);
  const std::vector<std::string> byKey1 = WalkWithPositions(block_, 1);
  ASSERT_EQ(byKey1.front(), "2:" + Rec(2, "EVEN"));
  ASSERT_EQ(Call(kOpClose, block_).status, kStatusOk);

  struct Step {
    std::string from, to;
  } steps[] = {{"dups.dat", "disk/dups.dat"}, {"disk/dups.dat", "back.dat"}};
  for (const Step& step : steps) {
    ASSERT_EQ(CopyRecordFile(Path(step.from), Path(step.to), false), kStatusOk) << step.to;
    EXPECT_EQ(CopyRecordFile(Path(step.from), Path(step.to), false), kStatusFileExists) << step.to;
    uint8_t block[128] = {};
    ASSERT_EQ(Call(kOpOpen, block, "", PathKey(Path(step.to)), 0).status, kStatusOk) << step.to;
    EXPECT_EQ(WalkWithPositions(block, 0), byKey0) << step.to;
    EXPECT_EQ(WalkWithPositions(block, 1), byKey1) << step.to;
    // New records take new positions and go after the copied duplicates.
    ASSERT_EQ(Call(kOpInsert, block, Rec(9, "EVEN")).status, kStatusOk);
    EXPECT_EQ(ReadU32(Call(kOpGetPosition, block, "", "", 0, 4).data), 7u) << step.to;
    EXPECT_EQ(WalkWithPositions(block, 1)[3], "7:" + Rec(9, "EVEN")) << step.to;
    ASSERT_EQ(Call(kOpGetEqual, block, "", U32(9), 0, kLength).status, kStatusOk);
    ASSERT_EQ(Call(kOpDelete, block).status, kStatusOk);
    ASSERT_EQ(Call(kOpClose, block).status, kStatusOk);
  }
  EXPECT_TRUE(std::filesystem::exists(Path("disk/dups.dat")));
  // A file in use by another client is not copied over.
  uint8_t held[128] = {};
  ASSERT_EQ(Call(kOpOpen, held, "", PathKey(Path("back.dat")), 0).status, kStatusOk);
  Child other([&](Child&) {
    return static_cast<int>(CopyRecordFile(Path("dups.dat"), Path("back.dat"), true));
  });
  EXPECT_EQ(other.Wait(), kStatusFileLocked);
}

}  // namespace
}  // namespace kestrova::rmtest

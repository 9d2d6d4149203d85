// End of a transaction that wrote to several files: a client killed at any
// point of it leaves every other client seeing all of the transaction or
// none of it, in every file.  The crash points are reached through the End
// hook, in forked clients that end there with _exit (no clean-up runs, as
// with SIGKILL or a power cut after what reached the disk); a point inside
// SQLite's own commit through a VFS that ends the client at a WAL sync.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

#include "child_process.h"
#include "recordmanager/client_state.h"
#include "rm_test_support.h"

namespace kestrova::rmtest {
namespace {

constexpr uint16_t kLength = 8;  // 4-byte id (key 0, unique), 4-byte text (key 1, duplicates)
constexpr int kCrashExit = 42;

std::string Rec(uint32_t id, const char* text) { return U32(id) + std::string(text, 4); }

std::string Description() {
  return CreateBuffer(kLength, {{{1, 4, 0, kTypeUnsignedBinary}},
                                {{5, 4, kKeyDuplicates | kKeyModifiable}}});
}

// Where a forked client stops: set before the fork, read by the hook.
EndStep g_stopStep = EndStep::kLogWritten;
int g_stopCount = 0;
Child* g_pausing = nullptr;  // set: signal the parent and wait instead of ending

void StopAt(EndStep step, int count) {
  if (step != g_stopStep || count != g_stopCount) return;
  if (g_pausing == nullptr) _exit(kCrashExit);
  g_pausing->Signal();
  g_pausing->AwaitParent();
}

// A client killed inside SQLite's commit of a file, after the commit frame
// reached the WAL but before the shared WAL index names it: the commit is
// durable, yet clients that have the file open do not see it until the
// next WAL recovery (the first open after every connection has gone).  A
// VFS that forwards everything to the default one and ends the process at
// the sync of a commit frame of the WAL whose name ends with `g_trapWal`.
const char* g_trapWal = nullptr;

struct TrapFile {
  sqlite3_file base;
  sqlite3_file* real;
  bool watched;
  bool commitFrameWritten;
};

sqlite3_vfs* RealVfs() {
  static sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
  return real;
}
sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<TrapFile*>(f)->real; }

int TrapWrite(sqlite3_file* f, const void* data, int n, sqlite3_int64 offset) {
  auto* t = reinterpret_cast<TrapFile*>(f);
  // A frame header is written on its own (24 bytes); bytes 4..7 hold the
  // database size after a commit, 0 in frames that commit nothing.
  const auto* b = static_cast<const uint8_t*>(data);
  if (t->watched && n == 24 && (b[4] | b[5] | b[6] | b[7]) != 0) t->commitFrameWritten = true;
  return Real(f)->pMethods->xWrite(Real(f), data, n, offset);
}
int TrapSync(sqlite3_file* f, int flags) {
  if (reinterpret_cast<TrapFile*>(f)->commitFrameWritten) _exit(kCrashExit);
  return Real(f)->pMethods->xSync(Real(f), flags);
}
int TrapClose(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
int TrapRead(sqlite3_file* f, void* p, int n, sqlite3_int64 o) {
  return Real(f)->pMethods->xRead(Real(f), p, n, o);
}
int TrapTruncate(sqlite3_file* f, sqlite3_int64 size) {
  return Real(f)->pMethods->xTruncate(Real(f), size);
}
int TrapFileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Real(f)->pMethods->xFileSize(Real(f), size);
}
int TrapLock(sqlite3_file* f, int lock) { return Real(f)->pMethods->xLock(Real(f), lock); }
int TrapUnlock(sqlite3_file* f, int lock) { return Real(f)->pMethods->xUnlock(Real(f), lock); }
int TrapCheckReservedLock(sqlite3_file* f, int* out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int TrapFileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int TrapSectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int TrapDeviceCharacteristics(sqlite3_file* f) {
  return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int TrapShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** p) {
  return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, p);
}
int TrapShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void TrapShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int TrapShmUnmap(sqlite3_file* f, int deleteFlag) {
  return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
}
int TrapFetch(sqlite3_file* f, sqlite3_int64 o, int n, void** p) {
  return Real(f)->pMethods->xFetch(Real(f), o, n, p);
}
int TrapUnfetch(sqlite3_file* f, sqlite3_int64 o, void* p) {
  return Real(f)->pMethods->xUnfetch(Real(f), o, p);
}

const sqlite3_io_methods kTrapMethods = {
    3,         TrapClose,    TrapRead,        TrapWrite,        TrapTruncate,
    TrapSync,  TrapFileSize, TrapLock,        TrapUnlock,       TrapCheckReservedLock,
    TrapFileControl,         TrapSectorSize,  TrapDeviceCharacteristics,
    TrapShmMap, TrapShmLock, TrapShmBarrier,  TrapShmUnmap,     TrapFetch,
    TrapUnfetch};

int TrapOpen(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  auto* t = reinterpret_cast<TrapFile*>(f);
  t->real = reinterpret_cast<sqlite3_file*>(t + 1);
  const std::string path = name ? name : "";
  const std::string suffix = g_trapWal ? g_trapWal : "";
  t->watched = (flags & SQLITE_OPEN_WAL) && !suffix.empty() && path.size() >= suffix.size() &&
               path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
  t->commitFrameWritten = false;
  const int rc = RealVfs()->xOpen(RealVfs(), name, t->real, flags, outFlags);
  t->base.pMethods = t->real->pMethods ? &kTrapMethods : nullptr;
  return rc;
}

// Makes the trapping VFS the default for connections opened from now on
// (call in a forked child before it opens anything).
void TrapCommitOfWal(const char* walSuffix) {
  static sqlite3_vfs trap = [] {
    sqlite3_vfs v = *RealVfs();
    v.szOsFile = static_cast<int>(sizeof(TrapFile)) + RealVfs()->szOsFile;
    v.zName = "kestrova-commit-trap";
    v.xOpen = &TrapOpen;
    v.pNext = nullptr;
    return v;
  }();
  g_trapWal = walSuffix;
  sqlite3_vfs_register(&trap, 1);
}

// The transaction of these tests, the same in every file: every kind of
// change, a record changed twice, one inserted and deleted again, and a
// duplicate key moved (its place among duplicates must come back too).
// Returns the status of End (or Abort), or 100+ for a step that failed.
int RunTransaction(const std::vector<std::string>& files, bool end) {
  std::vector<std::array<uint8_t, 128>> blocks(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (Call(kOpOpen, blocks[i].data(), "", files[i], 0).status != kStatusOk) return 100;
  }
  if (Call(kOpBeginTransaction, nullptr).status != kStatusOk) return 101;
  for (auto& block : blocks) {
    uint8_t* b = block.data();
    if (Call(kOpGetEqual, b, "", U32(1), 0, kLength).status != kStatusOk) return 102;
    if (Call(kOpUpdate, b, Rec(1, "CCCC")).status != kStatusOk) return 103;
    if (Call(kOpGetEqual, b, "", U32(3), 0, kLength).status != kStatusOk) return 104;
    if (Call(kOpUpdate, b, Rec(3, "DDDD")).status != kStatusOk) return 105;
    if (Call(kOpUpdate, b, Rec(3, "AAAA")).status != kStatusOk) return 106;
    if (Call(kOpGetEqual, b, "", U32(2), 0, kLength).status != kStatusOk) return 107;
    if (Call(kOpDelete, b).status != kStatusOk) return 108;
    if (Call(kOpInsert, b, Rec(10, "EEEE")).status != kStatusOk) return 109;
    if (Call(kOpDelete, b).status != kStatusOk) return 110;
    if (Call(kOpInsert, b, Rec(11, "AAAA")).status != kStatusOk) return 111;
  }
  return Call(end ? kOpEndTransaction : kOpAbortTransaction, nullptr).status;
}

class AtomicEndTest : public RecordManagerTest {
 protected:
  bool DiskStoreOnly() const override { return true; }
  void TearDown() override {
    SetEndTransactionHook(nullptr);
    RecordManagerTest::TearDown();
  }
  std::vector<std::string> MakeFiles(const std::string& prefix, int n) {
    std::vector<std::string> files;
    for (int i = 0; i < n; ++i) {
      files.push_back(PathKey(Path(prefix + std::to_string(i) + ".dat")));
      uint8_t block[128] = {};
      EXPECT_EQ(Call(kOpCreate, nullptr, Description(), files.back(), -1).status, kStatusOk);
      EXPECT_EQ(Call(kOpOpen, block, "", files.back(), 0).status, kStatusOk);
      for (auto [id, text] : {std::pair{1u, "AAAA"}, {2u, "BBBB"}, {3u, "AAAA"}, {4u, "CCCC"}}) {
        EXPECT_EQ(Call(kOpInsert, block, Rec(id, text)).status, kStatusOk);
      }
      EXPECT_EQ(Call(kOpClose, block).status, kStatusOk);
    }
    return files;
  }
  // What a client opening the file sees: every record with its position,
  // along key 0 and then along key 1 (the duplicates' order).
  static std::string Dump(const std::string& file) {
    uint8_t block[128] = {};
    if (Call(kOpOpen, block, "", file, 0).status != kStatusOk) return "open failed";
    std::string out;
    for (int8_t key : {0, 1}) {
      Answer a = Call(kOpGetFirst, block, "", "", key, kLength);
      while (a.status == kStatusOk) {
        out += a.data + "@" + std::to_string(ReadU32(Call(kOpGetPosition, block, "", "", 0, 4).data)) + ";";
        a = Call(kOpGetNext, block, "", "", key, kLength);
      }
      out += "|" + std::to_string(a.status) + "|";
    }
    Call(kOpClose, block);
    return out;
  }
  static std::vector<std::string> DumpAll(const std::vector<std::string>& files) {
    std::vector<std::string> dumps;
    for (const auto& file : files) dumps.push_back(Dump(file));
    return dumps;
  }
  // Undo images stored in the file, read with SQLite alone.
  static int UndoRows(const std::string& fileKey) {
    const std::string path = fileKey.substr(0, fileKey.size() - 1);
    sqlite3* db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* stmt = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT count(*) FROM kestrova_undo", -1, &stmt, nullptr) ==
          SQLITE_OK) {
        rows = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -2;
      } else {
        rows = -1;  // no table at all
      }
      sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
  }
  int LogFiles() const {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      n += entry.path().filename().string().rfind(".kestrova-tx-", 0) == 0;
    }
    return n;
  }
  // A forked client runs the transaction and is stopped by the hook.
  static int CrashedClient(const std::vector<std::string>& files, EndStep step, int count) {
    g_stopStep = step;
    g_stopCount = count;
    g_pausing = nullptr;
    Child child([&](Child&) {
      SetEndTransactionHook(&StopAt);
      return RunTransaction(files, true);
    });
    return child.Wait();
  }
};

TEST_F(AtomicEndTest, ClientKilledAtAnyPointOfEndLeavesAllOrNothing) {
  struct Case {
    int files;
    EndStep step;
    int count;
    bool changed;  // what every other client must see afterwards
  };
  const Case cases[] = {
      {2, EndStep::kLogWritten, 0, false},    {2, EndStep::kFileCommitted, 1, false},
      {2, EndStep::kFileCommitted, 2, false}, {2, EndStep::kLogCommitted, 0, true},
      {2, EndStep::kImagesCleared, 1, true},  {3, EndStep::kLogWritten, 0, false},
      {3, EndStep::kFileCommitted, 1, false}, {3, EndStep::kFileCommitted, 2, false},
      {3, EndStep::kFileCommitted, 3, false}, {3, EndStep::kLogCommitted, 0, true},
      {3, EndStep::kImagesCleared, 1, true},  {3, EndStep::kImagesCleared, 2, true},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("files " + std::to_string(c.files) + " step " +
                 std::to_string(static_cast<int>(c.step)) + " count " + std::to_string(c.count));
    const std::string tag = std::to_string(round++) + "_";
    // The transaction ended normally on files made the same way gives the
    // "all" picture, positions included.
    const auto reference = MakeFiles("ref" + tag, c.files);
    ASSERT_EQ(RunTransaction(reference, true), kStatusOk);
    const auto all = DumpAll(reference);
    const auto files = MakeFiles("f" + tag, c.files);
    const auto none = DumpAll(files);
    ASSERT_NE(all, none);

    ASSERT_EQ(CrashedClient(files, c.step, c.count), kCrashExit);

    EXPECT_EQ(DumpAll(files), c.changed ? all : none);
    for (const auto& file : files) {
      EXPECT_LE(UndoRows(file), 0) << "images left after recovery";
      // Nothing of the dead client blocks writers.
      uint8_t block[128] = {};
      ASSERT_EQ(Call(kOpOpen, block, "", file, 0).status, kStatusOk);
      EXPECT_EQ(Call(kOpInsert, block, Rec(99, "ZZZZ")).status, kStatusOk);
      Call(kOpClose, block);
    }
    // Settled everywhere: the dead client's log is gone too.
    EXPECT_EQ(LogFiles(), 0);
  }
}

TEST_F(AtomicEndTest, AWriteSettlesADeadEndWhateverTheChangeCounterSays) {
  const auto files = MakeFiles("f", 2);
  const auto none = DumpAll(files);
  uint8_t block[128] = {};
  ASSERT_EQ(Call(kOpOpen, block, "", files[0], 0).status, kStatusOk);
  ASSERT_EQ(CrashedClient(files, EndStep::kFileCommitted, 1), kCrashExit);
  ASSERT_GT(UndoRows(files[0]), 0);
  // The change counter even, as a plain writer that marked its commit done
  // late would have left it: the counter is only a hint for read-ahead.
  const std::string lock = files[0].substr(0, files[0].size() - 1) + "-lock";
  const int fd = open(lock.c_str(), O_RDWR | O_CLOEXEC);
  uint64_t counter = 0;
  ASSERT_EQ(pread(fd, &counter, 8, 0), 8);
  counter = (counter | 1) + 1;
  ASSERT_EQ(pwrite(fd, &counter, 8, 0), 8);
  close(fd);

  ASSERT_EQ(Call(kOpInsert, block, Rec(50, "WWWW")).status, kStatusOk);
  Call(kOpClose, block);
  EXPECT_EQ(UndoRows(files[0]), 0);
  EXPECT_EQ(LogFiles(), 0);
  // Every later client sees the insert that answered 0, and none of the
  // dead transaction.
  uint8_t fresh[128] = {};
  ASSERT_EQ(Call(kOpOpen, fresh, "", files[0], 0).status, kStatusOk);
  EXPECT_EQ(Call(kOpGetEqual, fresh, "", U32(50), 0, kLength).data, Rec(50, "WWWW"));
  EXPECT_EQ(Call(kOpGetEqual, fresh, "", U32(11), 0, kLength).status, kStatusKeyNotFound);
  EXPECT_EQ(Call(kOpGetEqual, fresh, "", U32(1), 0, kLength).data, Rec(1, "AAAA"));
  Call(kOpClose, fresh);
  EXPECT_EQ(DumpAll(files)[1], none[1]);
}

TEST_F(AtomicEndTest, AClientThatReadTheUndoneStateCannotWriteOverTheRecordPutBack) {
  // A client that had the file open reads the dead transaction's version
  // of record 1; recovery puts the old one back and another client updates
  // it once (as many updates as the dead transaction made).  The first
  // client's Update must meet 80, not write over that update.
  const auto files = MakeFiles("f", 2);
  Child reader([&](Child& c) {
    uint8_t b[128] = {};
    if (Call(kOpOpen, b, "", files[0], 0).status != kStatusOk) return 10;
    c.Signal();
    c.AwaitParent();
    const Answer a = Call(kOpGetEqual, b, "", U32(1), 0, kLength);
    if (a.status != kStatusOk || a.data != Rec(1, "CCCC")) return 11;
    c.Signal();
    c.AwaitParent();
    return static_cast<int>(Call(kOpUpdate, b, Rec(1, "RRRR")).status);
  });
  ASSERT_EQ(reader.AwaitChild(), '!');
  ASSERT_EQ(CrashedClient(files, EndStep::kFileCommitted, 1), kCrashExit);
  reader.Tell();
  ASSERT_EQ(reader.AwaitChild(), '!');
  uint8_t block[128] = {};
  ASSERT_EQ(Call(kOpOpen, block, "", files[0], 0).status, kStatusOk);
  ASSERT_EQ(Call(kOpGetEqual, block, "", U32(1), 0, kLength).data, Rec(1, "AAAA"));
  ASSERT_EQ(Call(kOpUpdate, block, Rec(1, "OOOO")).status, kStatusOk);
  reader.Tell();
  EXPECT_EQ(reader.Wait(), kStatusConflict);
  Call(kOpClose, block);
}

TEST_F(AtomicEndTest, HalfCommittedEndOfADeadClientIsUndoneAtTheNextOpen) {
  const auto files = MakeFiles("f", 2);
  const auto none = DumpAll(files);
  ASSERT_EQ(CrashedClient(files, EndStep::kFileCommitted, 1), kCrashExit);
  // On disk the first file holds the transaction, the second does not.
  EXPECT_GT(UndoRows(files[0]), 0);
  EXPECT_LE(UndoRows(files[1]), 0);

  // Another client opens only the first file and reads it as it was.
  Child reader([&](Child&) {
    uint8_t block[128] = {};
    if (Call(kOpOpen, block, "", files[0], 0).status != kStatusOk) return 10;
    Answer a = Call(kOpGetEqual, block, "", U32(1), 0, kLength);
    if (a.status != kStatusOk || a.data != Rec(1, "AAAA")) return 11;
    if (Call(kOpGetEqual, block, "", U32(11), 0, kLength).status != kStatusKeyNotFound) return 12;
    return 0;
  });
  ASSERT_EQ(reader.Wait(), 0);
  EXPECT_EQ(UndoRows(files[0]), 0);  // settled by that open, not by ours below
  EXPECT_EQ(DumpAll(files), none);
}

TEST_F(AtomicEndTest, WriterThatHadTheFileOpenSettlesTheDeadEndBeforeWriting) {
  const auto files = MakeFiles("f", 2);
  uint8_t block[128] = {};
  ASSERT_EQ(Call(kOpOpen, block, "", files[0], 0).status, kStatusOk);
  ASSERT_EQ(CrashedClient(files, EndStep::kFileCommitted, 1), kCrashExit);
  ASSERT_GT(UndoRows(files[0]), 0);

  ASSERT_EQ(Call(kOpInsert, block, Rec(50, "WWWW")).status, kStatusOk);
  EXPECT_EQ(UndoRows(files[0]), 0);
  Answer a = Call(kOpGetEqual, block, "", U32(1), 0, kLength);
  EXPECT_EQ(a.data, Rec(1, "AAAA"));  // put back, under the new write
  EXPECT_EQ(Call(kOpGetEqual, block, "", U32(50), 0, kLength).status, kStatusOk);
  EXPECT_EQ(Call(kOpGetEqual, block, "", U32(11), 0, kLength).status, kStatusKeyNotFound);
}

TEST_F(AtomicEndTest, InsertsIntoAFileThatWasEmptyAreTakenBackToo) {
  const auto files = MakeFiles("f", 1);
  const std::string empty = PathKey(Path("empty.dat"));
  ASSERT_EQ(Call(kOpCreate, nullptr, Description(), empty, -1).status, kStatusOk);
  const auto none = DumpAll({files[0], empty});
  g_stopStep = EndStep::kFileCommitted;
  g_stopCount = 2;
  g_pausing = nullptr;
  Child child([&](Child&) {
    SetEndTransactionHook(&StopAt);
    uint8_t a[128] = {}, b[128] = {};
    if (Call(kOpOpen, a, "", files[0], 0).status != kStatusOk) return 10;
    if (Call(kOpOpen, b, "", empty, 0).status != kStatusOk) return 11;
    Call(kOpBeginTransaction, nullptr);
    for (uint32_t id = 20; id < 25; ++id) {
      if (Call(kOpInsert, b, Rec(id, "NEW!")).status != kStatusOk) return 12;
    }
    if (Call(kOpInsert, a, Rec(20, "NEW!")).status != kStatusOk) return 13;
    return static_cast<int>(Call(kOpEndTransaction, nullptr).status);
  });
  ASSERT_EQ(child.Wait(), kCrashExit);
  EXPECT_EQ(DumpAll({files[0], empty}), none);
}

TEST_F(AtomicEndTest, OpenDuringAnotherClientsEndLeavesItsImagesAlone) {
  const auto reference = MakeFiles("ref", 2);
  ASSERT_EQ(RunTransaction(reference, true), kStatusOk);
  const auto all = DumpAll(reference);
  const auto files = MakeFiles("f", 2);
  g_stopStep = EndStep::kFileCommitted;
  g_stopCount = 1;
  Child owner([&](Child& c) {
    g_pausing = &c;
    SetEndTransactionHook(&StopAt);
    return RunTransaction(files, true);
  });
  ASSERT_EQ(owner.AwaitChild(), '!');
  // The owner is alive in the middle of End: an open must not undo it, and
  // a plain write meets the transaction's lock.
  uint8_t block[128] = {};
  ASSERT_EQ(Call(kOpOpen, block, "", files[0], 0).status, kStatusOk);
  EXPECT_GT(UndoRows(files[0]), 0);
  EXPECT_EQ(Call(kOpInsert, block, Rec(60, "XXXX")).status, kStatusFileLocked);
  Call(kOpClose, block);
  owner.Tell();
  ASSERT_EQ(owner.Wait(), kStatusOk);
  EXPECT_EQ(DumpAll(files), all);
}

TEST_F(AtomicEndTest, ACommitThatOnlyWalRecoveryBringsBackIsPutBackToo) {
  // The owner dies inside the commit of the second file: the first file
  // carries its images, the second a commit that the client holding it
  // open does not see.  A writer settles the first file; the log's files
  // then look settled and the log may go.  When every client of the
  // second file has died, the next open recovers the WAL and the commit
  // comes back with its images: the transaction never answered 0, so it
  // must be put back there as well.
  const auto files = MakeFiles("f", 2);
  const auto none = DumpAll(files);
  Child holder([&](Child& c) {
    uint8_t b[128] = {};
    if (Call(kOpOpen, b, "", files[1], 0).status != kStatusOk) return 10;
    c.Signal();
    c.AwaitParent();
    return 0;
  });
  ASSERT_EQ(holder.AwaitChild(), '!');
  Child owner([&](Child&) {
    TrapCommitOfWal("f1.dat-wal");
    return RunTransaction(files, true);
  });
  ASSERT_EQ(owner.Wait(), kCrashExit);
  ASSERT_GT(UndoRows(files[0]), 0);
  ASSERT_LE(UndoRows(files[1]), 0);  // the holder keeps the commit out of sight

  uint8_t block[128] = {};
  ASSERT_EQ(Call(kOpOpen, block, "", files[0], 0).status, kStatusOk);
  ASSERT_EQ(Call(kOpInsert, block, Rec(50, "WWWW")).status, kStatusOk);
  ASSERT_EQ(Call(kOpDelete, block).status, kStatusOk);
  Call(kOpClose, block);
  holder.Kill();  // no clean close: the WAL stays as the owner left it

  EXPECT_EQ(DumpAll(files), none);
  for (const auto& file : files) EXPECT_LE(UndoRows(file), 0);
  EXPECT_EQ(LogFiles(), 0);
}

TEST_F(AtomicEndTest, EndAndAbortLeaveNoImagesOrLogBehind) {
  struct Case {
    int files;
    bool end;
    int undoRows;  // -1: the file never got an image table
  };
  // One file needs neither images nor a log: its commit is the one SQLite
  // commit it always was.
  const Case cases[] = {{1, true, -1}, {1, false, -1}, {2, true, 0}, {2, false, -1}, {3, true, 0}};
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("files " + std::to_string(c.files) + (c.end ? " end" : " abort"));
    const std::string tag = std::to_string(round++) + "_";
    const auto reference = MakeFiles("ref" + tag, c.files);
    const auto before = DumpAll(reference);
    const auto files = MakeFiles("f" + tag, c.files);
    ASSERT_EQ(RunTransaction(files, c.end), kStatusOk);
    if (c.end) {
      EXPECT_NE(DumpAll(files), before);
    } else {
      EXPECT_EQ(DumpAll(files), before);
    }
    for (const auto& file : files) EXPECT_EQ(UndoRows(file), c.undoRows);
    EXPECT_EQ(LogFiles(), 0);
  }
  // A later single-file transaction does not carry images captured by an
  // earlier one into anything it stores.
  const auto files = MakeFiles("again", 2);
  ASSERT_EQ(RunTransaction(files, false), kStatusOk);
  ASSERT_EQ(RunTransaction({files[0]}, true), kStatusOk);
  EXPECT_EQ(UndoRows(files[0]), -1);
}

}  // namespace
}  // namespace kestrova::rmtest

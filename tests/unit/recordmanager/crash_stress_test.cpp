// Crash stress: forked clients insert, update and delete records of their
// own, increment shared counters under record locks and move amounts
// between two files in two-file transactions, while the parent kills
// random clients with SIGKILL and starts them again.  Every client writes
// what it is about to do and what answered 0 to a log of its own before
// and after each call (a write() of a killed process stays in the file).
// Afterwards a fresh client checks the files against the logs:
//   - every change that answered 0 is present, or superseded by a later
//     change of the same record (a call cut short may or may not be there);
//   - a transaction is in both files or in neither; one that answered 0 is
//     in both, an aborted one in neither; balances match the transactions
//     present, so the sums are preserved;
//   - counters hold every confirmed increment and no more than the calls
//     cut short could add;
//   - SQLite's integrity check passes, every record and the transaction
//     lock can be had at once, and no transaction log is left over.
// KESTROVA_STRESS_SECONDS and KESTROVA_STRESS_CLIENTS make the run longer
// (scripts/soak); the default is a short run for every test run.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "rm_test_support.h"

namespace kestrova::rmtest {
namespace {

constexpr uint16_t kLength = 64;
constexpr int kAccounts = 8;     // ids 1..8 in both files
constexpr int kCounters = 4;     // ids 101..104 in file A
constexpr int64_t kOpening = 1000;
constexpr uint32_t kGroupAccount = 1000;
constexpr uint32_t kGroupCounter = 1001;
constexpr uint32_t kGroupMarker = 1002;  // one per transfer, in both files
constexpr uint64_t kMarkerBit = uint64_t{1} << 62;

// A record: id (key 0, unique), value, group (key 1, duplicates), the
// operation that wrote it last, and for a transfer marker its two accounts.
struct Rec {
  uint64_t id = 0;
  int64_t value = 0;
  uint32_t group = 0;
  uint64_t op = 0;
  uint64_t from = 0;
  uint64_t to = 0;
};

std::string U64(uint64_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}
uint64_t ReadU64(const std::string& s, std::size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}

std::string Encode(const Rec& r) {
  std::string s = U64(r.id) + U64(static_cast<uint64_t>(r.value)) + U32(r.group) + U32(0) +
                  U64(r.op) + U64(r.from) + U64(r.to);
  s.resize(kLength, '\0');
  return s;
}
Rec Decode(const std::string& s) {
  Rec r;
  r.id = ReadU64(s, 0);
  r.value = static_cast<int64_t>(ReadU64(s, 8));
  r.group = ReadU32(s, 16);
  r.op = ReadU64(s, 24);
  r.from = ReadU64(s, 32);
  r.to = ReadU64(s, 40);
  return r;
}

std::string Description() {
  return CreateBuffer(kLength, {{{1, 8, 0, kTypeUnsignedBinary}},
                                {{17, 4, kKeyDuplicates | kKeyModifiable, kTypeUnsignedBinary}}});
}

// One entry of a client's log.  Intents: 'I' insert, 'U' update, 'D'
// delete (of `id` in `file`), 'R' counter increment, 'T' transfer of `amount`
// from account `id` of A to account `other` of B.  Outcomes: 'C' the call
// answered 0, 'F' it failed and changed nothing.
struct LogEntry {
  char kind = 0;
  char file = 0;  // 'A' or 'B'
  uint64_t op = 0;
  uint64_t id = 0;
  uint64_t other = 0;
  int64_t amount = 0;
};

struct Settings {
  int seconds = 4;
  int clients = 4;
};

Settings FromEnvironment() {
  Settings s;
  if (const char* v = getenv("KESTROVA_STRESS_SECONDS")) s.seconds = std::max(1, atoi(v));
  if (const char* v = getenv("KESTROVA_STRESS_CLIENTS")) s.clients = std::clamp(atoi(v), 2, 32);
  return s;
}

// Per client, shared with the parent: set while the client is inside End,
// where a kill hurts most, so the parent can aim some kills there.
volatile uint8_t* g_inEnd = nullptr;

class Client {
 public:
  Client(const std::string& dir, int slot, uint32_t incarnation)
      : slot_(slot), incarnation_(incarnation), rng_(getpid() ^ time(nullptr)) {
    paths_[0] = PathKey(dir + "/A.dat");
    paths_[1] = PathKey(dir + "/B.dat");
    log_ = open((dir + "/log-" + std::to_string(slot)).c_str(),
                O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }

  int Run() {
    for (int f = 0; f < 2; ++f) {
      if (Call(kOpOpen, blocks_[f].data(), "", paths_[f], 0).status != kStatusOk) return 2;
    }
    FindOwnRecords();
    for (;;) {
      const int choice = static_cast<int>(rng_() % 100);
      if (choice < 25) {
        Insert();
      } else if (choice < 45) {
        Update(false);
      } else if (choice < 55) {
        Update(true);
      } else if (choice < 75) {
        IncrementCounter();
      } else {
        Transfer();
      }
    }
  }

 private:
  uint64_t NextOp() {
    return (uint64_t(slot_ + 1) << 48) | (uint64_t(incarnation_) << 24) | ++sequence_;
  }
  void Log(const LogEntry& e) {
    if (write(log_, &e, sizeof e) != static_cast<ssize_t>(sizeof e)) _exit(3);
  }
  void Outcome(uint64_t op, bool ok) { Log({ok ? 'C' : 'F', 0, op, 0, 0, 0}); }
  uint8_t* Block(int f) { return blocks_[f].data(); }

  // The records this client owns, as the files hold them now (a call cut
  // short by the last kill may or may not have happened).
  void FindOwnRecords() {
    for (int f = 0; f < 2; ++f) {
      Answer a = Call(kOpGetEqual, Block(f), "", U32(slot_), 1, kLength);
      while (a.status == kStatusOk && Decode(a.data).group == static_cast<uint32_t>(slot_)) {
        own_.push_back({f, Decode(a.data).id});
        a = Call(kOpGetNext, Block(f), "", "", 1, kLength);
      }
    }
  }

  void Insert() {
    const int f = static_cast<int>(rng_() % 2);
    const uint64_t op = NextOp();
    Rec r{op, static_cast<int64_t>(op), static_cast<uint32_t>(slot_), op, 0, 0};
    Log({'I', static_cast<char>('A' + f), op, r.id, 0, 0});
    const bool ok = Call(kOpInsert, Block(f), Encode(r)).status == kStatusOk;
    Outcome(op, ok);
    if (ok) own_.push_back({f, r.id});
  }

  void Update(bool remove) {
    if (own_.empty()) return;
    const std::size_t i = rng_() % own_.size();
    const auto [f, id] = own_[i];
    Answer a = Call(kOpGetEqual, Block(f), "", U64(id), 0, kLength);
    if (a.status != kStatusOk) {
      own_.erase(own_.begin() + static_cast<long>(i));
      return;
    }
    const uint64_t op = NextOp();
    Log({remove ? 'D' : 'U', static_cast<char>('A' + f), op, id, 0, 0});
    bool ok;
    if (remove) {
      ok = Call(kOpDelete, Block(f)).status == kStatusOk;
      if (ok) own_.erase(own_.begin() + static_cast<long>(i));
    } else {
      Rec r = Decode(a.data);
      r.value = static_cast<int64_t>(op);
      r.op = op;
      ok = Call(kOpUpdate, Block(f), Encode(r)).status == kStatusOk;
    }
    Outcome(op, ok);
  }

  void IncrementCounter() {
    const uint64_t id = 101 + rng_() % kCounters;
    const uint16_t bias = rng_() % 2 ? kBiasSingleWait : kBiasSingleNoWait;
    Answer a = Call(kOpGetEqual + bias, Block(0), "", U64(id), 0, kLength);
    if (a.status != kStatusOk) return;
    const uint64_t op = NextOp();
    Log({'R', 'A', op, id, 0, 0});
    Rec r = Decode(a.data);
    ++r.value;
    r.op = op;
    Outcome(op, Call(kOpUpdate, Block(0), Encode(r)).status == kStatusOk);
  }

  // Moves an amount from an account of A to one of B and leaves a marker
  // in both files, in one transaction.
  void Transfer() {
    const uint64_t from = 1 + rng_() % kAccounts;
    const uint64_t to = 1 + rng_() % kAccounts;
    const int64_t amount = 1 + static_cast<int64_t>(rng_() % 50);
    const uint64_t op = NextOp();
    Log({'T', 0, op, from, to, amount});
    if (Call(kOpBeginTransaction, nullptr).status != kStatusOk) _exit(4);
    auto step = [&]() -> bool {
      const uint64_t ids[2] = {from, to};
      const int64_t deltas[2] = {-amount, amount};
      for (int f = 0; f < 2; ++f) {
        Answer a = Call(kOpGetEqual + kBiasSingleNoWait, Block(f), "", U64(ids[f]), 0, kLength);
        if (a.status != kStatusOk) return false;
        Rec r = Decode(a.data);
        r.value += deltas[f];
        r.op = op;
        if (Call(kOpUpdate, Block(f), Encode(r)).status != kStatusOk) return false;
        Rec marker{op | kMarkerBit, amount, kGroupMarker, op, from, to};
        if (Call(kOpInsert, Block(f), Encode(marker)).status != kStatusOk) return false;
      }
      return true;
    };
    if (!step()) {
      const bool aborted = Call(kOpAbortTransaction, nullptr).status == kStatusOk;
      if (aborted) Outcome(op, false);
      return;
    }
    // An End that fails may have been put back only partly by itself and
    // left the rest to recovery: its outcome is left open.
    g_inEnd[slot_] = 1;
    const bool ended = Call(kOpEndTransaction, nullptr).status == kStatusOk;
    g_inEnd[slot_] = 0;
    if (ended) Outcome(op, true);
  }

  int slot_;
  uint32_t incarnation_;
  std::mt19937_64 rng_;
  std::array<std::string, 2> paths_;
  std::array<std::array<uint8_t, 128>, 2> blocks_{};
  int log_ = -1;
  uint64_t sequence_ = 0;
  std::vector<std::pair<int, uint64_t>> own_;
};

pid_t StartClient(const std::string& dir, int slot, uint32_t incarnation, int seconds) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(static_cast<unsigned>(seconds) + 30);  // never outlives a lost parent for long
    _exit(Client(dir, slot, incarnation).Run());
  }
  return pid;
}

// What the logs say one record may look like now: as the last confirmed
// change left it, or as a later change cut short would have.
struct Expectation {
  bool present = false;  // after the last confirmed change
  int64_t value = 0;
  std::vector<std::pair<bool, int64_t>> alternatives;
};

class CrashStressTest : public RecordManagerTest {
 protected:
  bool DiskStoreOnly() const override { return true; }
  using Files = std::array<std::map<uint64_t, Rec>, 2>;

  void Populate() {
    for (const char* name : {"A.dat", "B.dat"}) {
      uint8_t block[128] = {};
      ASSERT_EQ(Call(kOpCreate, nullptr, Description(), PathKey(Path(name)), -1).status, kStatusOk);
      ASSERT_EQ(Call(kOpOpen, block, "", PathKey(Path(name)), 0).status, kStatusOk);
      for (uint64_t id = 1; id <= kAccounts; ++id) {
        ASSERT_EQ(Call(kOpInsert, block, Encode({id, kOpening, kGroupAccount, 0, 0, 0})).status,
                  kStatusOk);
      }
      if (name[0] == 'A') {
        for (uint64_t id = 101; id < 101 + kCounters; ++id) {
          ASSERT_EQ(Call(kOpInsert, block, Encode({id, 0, kGroupCounter, 0, 0, 0})).status,
                    kStatusOk);
        }
      }
      ASSERT_EQ(Call(kOpClose, block).status, kStatusOk);
    }
  }

  // Runs the clients, killing and restarting them.  Returns the kills.
  int RunClients(const Settings& settings) {
    g_inEnd = static_cast<uint8_t*>(
        mmap(nullptr, 64, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    std::vector<pid_t> pids(settings.clients);
    std::vector<uint32_t> incarnations(settings.clients, 0);
    for (int slot = 0; slot < settings.clients; ++slot) {
      pids[slot] = StartClient(dir_, slot, 0, settings.seconds);
    }
    std::mt19937 rng(static_cast<unsigned>(time(nullptr)));
    timespec start{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    int kills = 0;
    for (int tick = 0;; ++tick) {
      // Every few milliseconds a look for a client inside End; about every
      // tenth of a second a client picked at random.
      usleep(1000 + rng() % 4000);
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (now.tv_sec - start.tv_sec >= settings.seconds) break;
      int slot = -1;
      if (rng() % 40 == 0) {
        slot = static_cast<int>(rng() % settings.clients);
      } else {
        for (int i = 0; i < settings.clients && slot < 0; ++i) {
          if (g_inEnd[i] && rng() % 8 == 0) slot = i;
        }
      }
      if (slot < 0) continue;
      g_inEnd[slot] = 0;
      kill(pids[slot], SIGKILL);
      int status = 0;
      waitpid(pids[slot], &status, 0);
      // A client that ended by itself has found a fault of its own.
      EXPECT_TRUE(WIFSIGNALED(status)) << "client " << slot << " exited with "
                                       << WEXITSTATUS(status);
      ++kills;
      pids[slot] = StartClient(dir_, slot, ++incarnations[slot], settings.seconds);
    }
    for (pid_t pid : pids) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    munmap(const_cast<uint8_t*>(g_inEnd), 64);
    return kills;
  }

  Files ReadFiles() {
    Files files;
    const char* names[2] = {"A.dat", "B.dat"};
    for (int f = 0; f < 2; ++f) {
      uint8_t block[128] = {};
      EXPECT_EQ(Call(kOpOpen, block, "", PathKey(Path(names[f])), 0).status, kStatusOk);
      for (Answer a = Call(kOpGetFirst, block, "", "", 0, kLength); a.status == kStatusOk;
           a = Call(kOpGetNext, block, "", "", 0, kLength)) {
        const Rec r = Decode(a.data);
        files[f][r.id] = r;
      }
      Call(kOpClose, block);
    }
    return files;
  }

  static std::vector<LogEntry> ReadLog(const std::string& path) {
    std::vector<LogEntry> entries;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    LogEntry e;
    while (fd >= 0 && read(fd, &e, sizeof e) == static_cast<ssize_t>(sizeof e)) {
      entries.push_back(e);
    }
    if (fd >= 0) close(fd);
    return entries;
  }

  // Checks the files against the logs; returns the number of faults found
  // (each reported) and counts the confirmed calls.
  int Verify(const Settings& settings, const Files& files, long& confirmed) {
    int faults = 0;
    auto fault = [&](const std::string& what) {
      if (++faults <= 20) ADD_FAILURE() << what;
    };
    std::map<std::pair<int, uint64_t>, Expectation> own;  // (file, id)
    std::map<uint64_t, std::pair<long, long>> counters;   // confirmed, cut short
    std::map<uint64_t, std::pair<char, LogEntry>> transfers;  // op -> outcome, intent
    for (int slot = 0; slot < settings.clients; ++slot) {
      const std::vector<LogEntry> log = ReadLog(Path("log-" + std::to_string(slot)));
      for (std::size_t i = 0; i < log.size(); ++i) {
        const LogEntry& e = log[i];
        if (e.kind == 'C' || e.kind == 'F') continue;
        const bool closed = i + 1 < log.size() && log[i + 1].op == e.op &&
                            (log[i + 1].kind == 'C' || log[i + 1].kind == 'F');
        const char outcome = closed ? log[i + 1].kind : '?';
        if (outcome == 'C') ++confirmed;
        if (e.kind == 'T') {
          transfers[e.op] = {outcome, e};
          continue;
        }
        if (e.kind == 'R') {
          if (outcome == 'C') ++counters[e.id].first;
          if (outcome == '?') ++counters[e.id].second;
          continue;
        }
        Expectation& x = own[{e.file - 'A', e.id}];
        const bool present = e.kind != 'D';
        const int64_t value = static_cast<int64_t>(e.op);
        if (outcome == 'C') {
          x = Expectation{present, value, {}};
        } else if (outcome == '?') {
          x.alternatives.emplace_back(present, value);
        }
      }
    }

    // Records of the clients.
    for (const auto& [where, x] : own) {
      const auto& file = files[where.first];
      const auto it = file.find(where.second);
      const bool present = it != file.end();
      const int64_t value = present ? it->second.value : 0;
      bool ok = present == x.present && (!present || value == x.value);
      for (const auto& [p, v] : x.alternatives) ok = ok || (present == p && (!p || value == v));
      if (!ok) {
        fault("record " + std::to_string(where.second) + " of file " +
              std::string(1, char('A' + where.first)) + (present ? " holds " : " is missing") +
              (present ? std::to_string(value) : "") + ", the log says " +
              (x.present ? "present with " + std::to_string(x.value) : "deleted"));
      }
    }
    for (int f = 0; f < 2; ++f) {
      for (const auto& [id, r] : files[f]) {
        if (r.group < kGroupAccount && !own.count({f, id})) {
          fault("record " + std::to_string(id) + " of file " + std::string(1, char('A' + f)) +
                " was never written by anyone");
        }
      }
    }

    // Counters.
    for (uint64_t id = 101; id < 101 + kCounters; ++id) {
      const auto it = files[0].find(id);
      const auto [sure, maybe] = counters[id];
      const long value = it == files[0].end() ? -1 : static_cast<long>(it->second.value);
      if (value < sure || value > sure + maybe) {
        fault("counter " + std::to_string(id) + " holds " + std::to_string(value) + ", expected " +
              std::to_string(sure) + ".." + std::to_string(sure + maybe));
      }
    }

    // Transfers: all or nothing, and the balances they explain.
    std::array<std::map<uint64_t, int64_t>, 2> balances;
    for (uint64_t id = 1; id <= kAccounts; ++id) balances[0][id] = balances[1][id] = kOpening;
    for (const auto& [op, entry] : transfers) {
      const auto& [outcome, intent] = entry;
      const bool inA = files[0].count(op | kMarkerBit) > 0;
      const bool inB = files[1].count(op | kMarkerBit) > 0;
      if (inA != inB) fault("transfer " + std::to_string(op) + " is in one file only");
      if (outcome == 'C' && !(inA && inB)) fault("confirmed transfer " + std::to_string(op) + " lost");
      if (outcome == 'F' && (inA || inB)) fault("aborted transfer " + std::to_string(op) + " visible");
      if (inA) balances[0][intent.id] -= intent.amount;
      if (inB) balances[1][intent.other] += intent.amount;
    }
    for (int f = 0; f < 2; ++f) {
      for (const auto& [id, r] : files[f]) {
        if (r.group == kGroupMarker && !transfers.count(r.op)) {
          fault("marker of unknown transfer " + std::to_string(r.op));
        }
      }
      int64_t sum = 0;
      for (uint64_t id = 1; id <= kAccounts; ++id) {
        const auto it = files[f].find(id);
        const int64_t value = it == files[f].end() ? 0 : it->second.value;
        sum += value;
        if (value != balances[f][id]) {
          fault("account " + std::to_string(id) + " of file " + std::string(1, char('A' + f)) +
                " holds " + std::to_string(value) + ", its transfers make " +
                std::to_string(balances[f][id]));
        }
      }
      if (f == 1) {
        int64_t sumA = 0;
        for (uint64_t id = 1; id <= kAccounts; ++id) sumA += files[0].count(id) ? files[0].at(id).value : 0;
        if (sumA + sum != 2 * kAccounts * kOpening) fault("the balances of both files do not add up");
      }
    }
    return faults;
  }

  // A new client gets every record lock and the transaction lock at once.
  int CheckLocksFree() {
    int faults = 0;
    uint8_t blocks[2][128] = {};
    const char* names[2] = {"A.dat", "B.dat"};
    for (int f = 0; f < 2; ++f) {
      EXPECT_EQ(Call(kOpOpen, blocks[f], "", PathKey(Path(names[f])), 0).status, kStatusOk);
      Answer a = Call(kOpGetFirst + kBiasMultipleNoWait, blocks[f], "", "", 0, kLength);
      for (; a.status == kStatusOk;
           a = Call(kOpGetNext + kBiasMultipleNoWait, blocks[f], "", "", 0, kLength)) {
      }
      if (a.status != kStatusEndOfFile) {
        ++faults;
        ADD_FAILURE() << "locking every record of " << names[f] << " stopped with " << a.status;
      }
      Call(kOpUnlock, blocks[f], "", "", -2);
    }
    EXPECT_EQ(Call(kOpBeginTransaction, nullptr).status, kStatusOk);
    for (int f = 0; f < 2; ++f) {
      const Answer a = Call(kOpGetEqual + kBiasSingleNoWait, blocks[f], "", U64(1), 0, kLength);
      if (a.status != kStatusOk || Call(kOpUpdate, blocks[f], a.data).status != kStatusOk) {
        ++faults;
        ADD_FAILURE() << "no transaction could write to " << names[f];
      }
    }
    EXPECT_EQ(Call(kOpAbortTransaction, nullptr).status, kStatusOk);
    for (auto& block : blocks) Call(kOpClose, block);
    return faults;
  }

  int CheckIntegrity() {
    int faults = 0;
    for (const char* name : {"A.dat", "B.dat"}) {
      sqlite3* db = nullptr;
      std::string result;
      if (sqlite3_open_v2(Path(name).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
          result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        }
        sqlite3_finalize(stmt);
      }
      sqlite3_close(db);
      if (result != "ok") {
        ++faults;
        ADD_FAILURE() << name << ": integrity check says " << result;
      }
    }
    return faults;
  }

  int LeftoverLogs() {
    int logs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      if (entry.path().filename().string().rfind(".kestrova-tx-", 0) == 0) ++logs;
    }
    return logs;
  }
};

TEST_F(CrashStressTest, ConfirmedWorkSurvivesClientsKilledAtRandom) {
  const Settings settings = FromEnvironment();
  Populate();
  BTRCALL(kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
  const int kills = RunClients(settings);

  const Files files = ReadFiles();  // the first open settles what the dead left
  long confirmed = 0;
  int faults = Verify(settings, files, confirmed);
  faults += CheckLocksFree();
  faults += CheckIntegrity();
  const int logs = LeftoverLogs();
  EXPECT_EQ(logs, 0) << "transaction logs left over";
  std::printf("crash stress: %d clients, %d s, %ld confirmed calls, %d kills, %d faults, %d logs left\n",
              settings.clients, settings.seconds, confirmed, kills, faults, logs);
  EXPECT_GT(confirmed, 0);
}

}  // namespace
}  // namespace kestrova::rmtest

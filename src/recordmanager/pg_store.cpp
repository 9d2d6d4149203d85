#include "recordmanager/pg_store.h"

#include <libpq-fe.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/host.h"
#include "recordmanager/file_copy.h"
#include "recordmanager/key_encoding.h"
#include "recordmanager/position_block.h"
#include "recordmanager/read_ahead_batch.h"
#include "recordmanager/store.h"

namespace kestrova {
namespace {

constexpr char kFormatMarker[] = "kestrova-records 1";
// The position blocks of tables on a server.
constexpr uint8_t kBlockMarker[4] = {'K', 's', 'R', 'p'};
// Read-ahead of a plain Get Next/Previous: the first batch, and the largest
// one a long walk grows to (each batch is one round trip to the server).
constexpr int kFirstBatch = 64;
constexpr int kLargestBatch = 1024;
// The commit notices a table keeps, for readers that bring their batches up
// to date: a reader further behind reads a fresh batch.
constexpr std::size_t kNotesKept = 1024;
// A plain open that finds the file held exclusively (a Create replacing it)
// retries for a moment, as on disk.
constexpr int kGateRetries = 15;
constexpr int kRetryMicroseconds = 20000;
// A transaction's first write waits this long for plain writes in flight.
constexpr int kTransactionLockRetries = 250;
constexpr int kLockedReadAttempts = 8;

enum OpenMode : int8_t { kModeReadOnly = -2, kModeExclusive = -4 };

// One server connection of this process.
struct Link {
  std::string connection;
  PGconn* conn = nullptr;
  bool inTransaction = false;  // a server transaction of the client's is open
  std::set<std::string> prepared;
  std::chrono::steady_clock::time_point socketRead;  // when notices were last read from the socket
};

struct PgFile {
  Link* link = nullptr;
  std::string schema;
  std::string table;
  std::string qualified;  // "schema"."table", quoted
  std::string channel;    // notified at every commit that changed the table
  std::string places;     // the sequence of places among duplicates, as a literal
  uint32_t oid = 0;
  FileDescription description;
  std::string owner;
  int refs = 0;
  int exclusiveOpens = 0;
  bool inTransaction = false;  // holds the table's transaction lock
  std::map<uint32_t, int> recordLocks;
  uint64_t notices = 0;  // commits of others (and ours) announced by the server
  // What the last notices named (the number of each is its count in
  // `notices`): a record changed with every key as it was ('k': updated in
  // place, deleted), one that may now be anywhere along a key ('m':
  // inserted, a key changed), or anything ('*': a transaction's commit).
  struct Note {
    uint64_t number;
    char kind;
    uint32_t pos;
  };
  std::deque<Note> notes;
  uint64_t localWrites = 0;
  bool countsValid = false;
  uint64_t countsNotices = 0;
  uint64_t countsWrites = 0;
  uint32_t recordCount = 0;
  std::vector<uint32_t> distinctValues;
};

struct PgHandle {
  bool used = false;
  uint64_t token = 0;
  PgFile* file = nullptr;
  bool readOnly = false;
  bool exclusive = false;
  int keyNumber = -1;
  bool hasPosition = false;
  bool hasCurrent = false;
  StoreRow row;  // the record read last: position, version, data, key place
  uint32_t singleLock = 0;
  std::set<uint32_t> multipleLocks;
  std::vector<StoreRow> ahead;
  std::size_t aheadNext = 0;
  std::vector<std::pair<uint32_t, uint32_t>> aheadPlaces;  // see read_ahead_batch.h
  std::vector<uint32_t> aheadStale;
  int aheadKey = -1;
  bool aheadForward = true;
  bool aheadValid = false;
  uint64_t aheadNotices = 0;
  uint64_t aheadWrites = 0;
  int aheadLimit = kFirstBatch;
};

struct PgClient {
  pid_t pid = 0;
  std::vector<std::unique_ptr<Link>> links;
  std::vector<std::unique_ptr<PgFile>> files;
  std::vector<PgHandle> handles;
  bool inTransaction = false;
  uint64_t nextToken = 0;
  bool exitHookRegistered = false;
};

// Connections a forked child inherited: the parent's sessions, which the
// child must neither use nor end (ending one would end the parent's).
std::vector<std::unique_ptr<Link>>& Abandoned() {
  static std::vector<std::unique_ptr<Link>> links;
  return links;
}

std::atomic<bool> g_forked{false};
void MarkForked() { g_forked.store(true); }
void ResetForExit() { PgReset(); }

PgClient& State() {
  static PgClient state;
  if (state.pid == 0) pthread_atfork(nullptr, nullptr, &MarkForked);
  if (state.pid == 0 || g_forked.exchange(false)) {
    for (auto& link : state.links) Abandoned().push_back(std::move(link));
    state.links.clear();
    state.files.clear();
    state.handles.clear();
    state.inTransaction = false;
    state.pid = getpid();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    state.nextToken = (static_cast<uint64_t>(state.pid) << 40) ^
                      static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 20);
  }
  if (!state.exitHookRegistered) {
    RegisterExitHook(&ResetForExit);
    state.exitHookRegistered = true;
  }
  return state;
}

// ---------------------------------------------------------------- queries

class Result {
 public:
  explicit Result(PGresult* r = nullptr) : r_(r) {}
  Result(Result&& other) noexcept : r_(other.r_) { other.r_ = nullptr; }
  Result& operator=(Result&& other) noexcept {
    std::swap(r_, other.r_);
    return *this;
  }
  Result(const Result&) = delete;
  ~Result() { PQclear(r_); }
  bool Ok() const {
    const ExecStatusType s = r_ ? PQresultStatus(r_) : PGRES_FATAL_ERROR;
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  int Rows() const { return r_ ? PQntuples(r_) : 0; }
  bool IsNull(int row, int col) const { return PQgetisnull(r_, row, col) != 0; }
  std::string Bytes(int row, int col) const {
    return std::string(PQgetvalue(r_, row, col), PQgetlength(r_, row, col));
  }
  // Text results.
  std::string Text(int row, int col) const { return PQgetvalue(r_, row, col); }
  bool True(int row, int col) const { return Text(row, col) == "t"; }
  // Binary int8 results.
  int64_t Int(int row, int col) const {
    const auto* p = reinterpret_cast<const uint8_t*>(PQgetvalue(r_, row, col));
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return static_cast<int64_t>(v);
  }
  // Rows an INSERT, UPDATE or DELETE changed.
  int Affected() const { return r_ ? std::atoi(PQcmdTuples(r_)) : 0; }
  std::string State() const {
    const char* s = r_ ? PQresultErrorField(r_, PG_DIAG_SQLSTATE) : nullptr;
    return s ? s : "";
  }

 private:
  PGresult* r_;
};

struct Param {
  std::string bytes;
  bool null = false;
};

Param IntParam(int64_t v) {
  Param p;
  p.bytes.resize(8);
  for (int i = 0; i < 8; ++i) p.bytes[i] = static_cast<char>(static_cast<uint64_t>(v) >> (56 - 8 * i));
  return p;
}
Param BytesParam(std::string bytes) { return Param{std::move(bytes), false}; }
Param NullParam() { return Param{{}, true}; }

Result Exec(Link& link, const std::string& sql) { return Result(PQexec(link.conn, sql.c_str())); }

// A statement with binary parameters and results, prepared on the
// connection the first time `name` is used.
Result Prepared(Link& link, const std::string& name, const std::string& sql,
                const std::vector<Param>& params) {
  if (!link.prepared.count(name)) {
    Result prepared(PQprepare(link.conn, name.c_str(), sql.c_str(), 0, nullptr));
    if (!prepared.Ok()) return prepared;
    link.prepared.insert(name);
  }
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats;
  for (const Param& p : params) {
    values.push_back(p.null ? nullptr : p.bytes.data());
    lengths.push_back(static_cast<int>(p.bytes.size()));
    formats.push_back(1);
  }
  return Result(PQexecPrepared(link.conn, name.c_str(), static_cast<int>(params.size()),
                               values.data(), lengths.data(), formats.data(), 1));
}

// One statement with binary parameters and results, not kept.
Result ExecParams(Link& link, const std::string& sql, const std::vector<Param>& params) {
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats;
  for (const Param& p : params) {
    values.push_back(p.null ? nullptr : p.bytes.data());
    lengths.push_back(static_cast<int>(p.bytes.size()));
    formats.push_back(1);
  }
  return Result(PQexecParams(link.conn, sql.c_str(), static_cast<int>(params.size()), nullptr,
                             values.data(), lengths.data(), formats.data(), 1));
}

std::string Identifier(Link& link, const std::string& name) {
  char* quoted = PQescapeIdentifier(link.conn, name.data(), name.size());
  std::string out = quoted ? quoted : "\"\"";
  PQfreemem(quoted);
  return out;
}

std::string Literal(Link& link, const std::string& text) {
  char* quoted = PQescapeLiteral(link.conn, text.data(), text.size());
  std::string out = quoted ? quoted : "''";
  PQfreemem(quoted);
  return out;
}

// What a failed statement means for the caller.
RecordStatus StatusOf(const Result& result) {
  const std::string state = result.State();
  if (state == "23505") return kStatusDuplicateKey;
  if (state == "55P03" || state == "40P01" || state == "40001") return kStatusFileLocked;
  return kStatusIoError;
}

// ---------------------------------------------------------------- locks
//
// Advisory lock keys: a table's gate (shared by every open, exclusive for an
// exclusive open) and its transaction lock are single 64-bit keys made from
// the table's oid; a record's lock is the pair (oid, position).

std::string GateKey(const PgFile& f) { return std::to_string((static_cast<int64_t>(f.oid) << 2)); }
std::string TransactionKey(const PgFile& f) {
  return std::to_string((static_cast<int64_t>(f.oid) << 2) | 1);
}
std::string RecordKey(const PgFile& f, uint32_t pos) {
  return std::to_string(static_cast<int32_t>(f.oid)) + ", " +
         std::to_string(static_cast<int32_t>(pos));
}

// Runs a query answering one boolean; false also when it failed.
bool Ask(Link& link, const std::string& sql) {
  Result r = Exec(link, sql);
  return r.Ok() && r.Rows() == 1 && r.True(0, 0);
}

// True when another client holds the key exclusively (our own hold never counts).
bool HeldExclusivelyByOther(Link& link, const std::string& key) {
  return !Ask(link, "SELECT CASE WHEN pg_try_advisory_lock_shared(" + key +
                        ") THEN pg_advisory_unlock_shared(" + key + ") ELSE false END");
}

RecordStatus LockRecord(PgFile& file, uint32_t pos, bool wait) {
  int& count = file.recordLocks[pos];
  if (count == 0) {
    const std::string key = RecordKey(file, pos);
    Result r = Exec(*file.link, wait ? "SELECT true FROM (SELECT pg_advisory_lock(" + key + ")) AS l"
                                     : "SELECT pg_try_advisory_lock(" + key + ")");
    if (!r.Ok() || r.Rows() != 1 || !r.True(0, 0)) {
      file.recordLocks.erase(pos);
      return r.Ok() || r.State() == "40P01" ? kStatusRecordLocked : kStatusIoError;
    }
  }
  ++count;
  return kStatusOk;
}

void UnlockRecord(PgFile& file, uint32_t pos) {
  auto it = file.recordLocks.find(pos);
  if (it == file.recordLocks.end()) return;
  if (--it->second <= 0) {
    Exec(*file.link, "SELECT pg_advisory_unlock(" + RecordKey(file, pos) + ")");
    file.recordLocks.erase(it);
  }
}

void ReleaseSingleLock(PgHandle& handle) {
  if (handle.singleLock != 0) UnlockRecord(*handle.file, handle.singleLock);
  handle.singleLock = 0;
}

void ReleaseAllLocks(PgHandle& handle) {
  ReleaseSingleLock(handle);
  for (uint32_t pos : handle.multipleLocks) UnlockRecord(*handle.file, pos);
  handle.multipleLocks.clear();
}

// ---------------------------------------------------------------- connections

void IgnoreNotice(void*, const char*) {}

Link* Connect(const std::string& connection) {
  PgClient& client = State();
  for (auto& link : client.links) {
    if (link->connection == connection) {
      if (PQstatus(link->conn) == CONNECTION_OK) return link.get();
      return nullptr;  // gone: its locks and transaction went with it
    }
  }
  const std::string name = "kestrova " + std::to_string(getpid());
  const char* keys[] = {"dbname", "application_name", nullptr};
  const char* values[] = {connection.c_str(), name.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keys, values, 1);
  if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
    PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, &IgnoreNotice, nullptr);
  auto link = std::make_unique<Link>();
  link->connection = connection;
  link->conn = conn;
  client.links.push_back(std::move(link));
  return client.links.back().get();
}

void Disconnect(Link& link) {
  PgClient& client = State();
  PQfinish(link.conn);
  for (auto it = client.links.begin(); it != client.links.end(); ++it) {
    if (it->get() == &link) {
      client.links.erase(it);
      return;
    }
  }
}

// A notice's text: "k" or "m" and the record's position, anything else
// (a transaction's commit sends none) is '*'.
PgFile::Note NoteOf(uint64_t number, const char* text) {
  PgFile::Note note{number, '*', 0};
  if (text == nullptr || (text[0] != 'k' && text[0] != 'm') || text[1] == '\0') return note;
  uint64_t pos = 0;
  for (const char* c = text + 1; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || pos > UINT32_MAX) return note;
    pos = pos * 10 + static_cast<uint64_t>(*c - '0');
  }
  if (pos == 0 || pos > UINT32_MAX) return note;
  note.kind = text[0];
  note.pos = static_cast<uint32_t>(pos);
  return note;
}

// While a walk goes on, the socket is read for notices at most this often:
// reading it is a system call, as dear as several steps from a batch.  A
// notice is then taken up to this much later than it arrived.
constexpr auto kSocketReadInterval = std::chrono::microseconds(200);

// Counts the server's notices of commits to the files of this connection:
// those libpq has already received (with the answer to a statement), and,
// unless `whenDue` and the socket was read less than kSocketReadInterval
// ago, those waiting on the socket.
void TakeNotices(Link& link, bool whenDue = false) {
  const auto now = std::chrono::steady_clock::now();
  if (!whenDue || now - link.socketRead >= kSocketReadInterval) {
    link.socketRead = now;
    if (!PQconsumeInput(link.conn)) return;
  }
  while (PGnotify* notify = PQnotifies(link.conn)) {
    for (auto& file : State().files) {
      if (file->link != &link || file->channel != notify->relname) continue;
      ++file->notices;
      file->notes.push_back(NoteOf(file->notices, notify->extra));
      if (file->notes.size() > kNotesKept) file->notes.pop_front();
    }
    PQfreemem(notify);
  }
}

// ---------------------------------------------------------------- statements

std::string Col(const char* prefix, int key) { return prefix + std::to_string(key); }

enum Kind {
  kFirst,
  kLast,
  kEqual,
  kGreater,
  kGreaterOrEqual,
  kLess,
  kLessOrEqual,
  kNext,
  kPrevious,
  kNextBatch,
  kPreviousBatch,
  kReadAt,
  kInsert,
  kUpdate,
  kDelete,
  kCount,
};

std::string KindSql(const PgFile& file, int kind, int key) {
  const FileDescription& d = file.description;
  const bool dups = key < static_cast<int>(d.keys.size()) && d.keys[key].duplicates;
  const std::string k = Col("k", key);
  const std::string s = dups ? Col("s", key) : std::string("0::int8");
  const std::string& t = file.qualified;
  const std::string returning = " pos, ver, data, " + k + ", " + s;
  const std::string select = "SELECT" + returning + " FROM " + t + " ";
  const std::string asc = dups ? " ORDER BY " + k + ", " + s : " ORDER BY " + k;
  const std::string desc = dups ? " ORDER BY " + k + " DESC, " + s + " DESC" : " ORDER BY " + k + " DESC";
  const std::string after = dups ? "(" + k + ", " + s + ") > ($1, $2)" : k + " > $1";
  const std::string before = dups ? "(" + k + ", " + s + ") < ($1, $2)" : k + " < $1";
  switch (kind) {
    case kFirst: return select + "WHERE " + k + " IS NOT NULL" + asc + " LIMIT 1";
    case kLast: return select + "WHERE " + k + " IS NOT NULL" + desc + " LIMIT 1";
    case kEqual: return select + "WHERE " + k + " = $1" + asc + " LIMIT 1";
    case kGreater: return select + "WHERE " + k + " > $1" + asc + " LIMIT 1";
    case kGreaterOrEqual: return select + "WHERE " + k + " >= $1" + asc + " LIMIT 1";
    case kLess: return select + "WHERE " + k + " < $1" + desc + " LIMIT 1";
    case kLessOrEqual: return select + "WHERE " + k + " <= $1" + desc + " LIMIT 1";
    case kNext: return select + "WHERE " + after + asc + " LIMIT 1";
    case kPrevious: return select + "WHERE " + before + desc + " LIMIT 1";
    case kNextBatch: return select + "WHERE " + after + asc + (dups ? " LIMIT $3" : " LIMIT $2");
    case kPreviousBatch: return select + "WHERE " + before + desc + (dups ? " LIMIT $3" : " LIMIT $2");
    case kReadAt: return select + "WHERE pos = $1";
    case kDelete: return "DELETE FROM " + t + " WHERE pos = $1 AND ver = $2";
    case kCount: {
      std::string sql = "SELECT count(*)";
      for (std::size_t i = 0; i < d.keys.size(); ++i) sql += ", count(DISTINCT " + Col("k", i) + ")";
      return sql + " FROM " + t;
    }
    default: break;
  }
  // Insert and Update: the record in $1 (insert) / $3 (update), then one
  // parameter per key.  A key gets a new place among its duplicates from the
  // schema's sequence when it gets a new value, so duplicates keep the order
  // in which they got theirs.
  const std::string sequence = "nextval(" + file.places + ")";
  if (kind == kInsert) {
    std::string cols = "ver, data";
    std::string vals = "1, $1";
    for (std::size_t i = 0; i < d.keys.size(); ++i) {
      cols += ", " + Col("k", i);
      vals += ", $" + std::to_string(i + 2);
      if (d.keys[i].duplicates) {
        cols += ", " + Col("s", i);
        vals += ", " + sequence;
      }
    }
    return "INSERT INTO " + t + "(" + cols + ") VALUES(" + vals + ") RETURNING" + returning;
  }
  std::string sets = "ver = ver + 1, data = $3";
  for (std::size_t i = 0; i < d.keys.size(); ++i) {
    const std::string ki = Col("k", i);
    const std::string param = "$" + std::to_string(i + 4);
    sets += ", " + ki + " = " + param;
    if (d.keys[i].duplicates) {
      sets += ", " + Col("s", i) + " = CASE WHEN " + ki + " IS NOT DISTINCT FROM " + param +
              " THEN " + Col("s", i) + " ELSE " + sequence + " END";
    }
  }
  return "UPDATE " + t + " SET " + sets + " WHERE pos = $1 AND ver = $2 RETURNING" + returning;
}

Result Run(PgFile& file, int kind, int key, const std::vector<Param>& params) {
  const std::string name = "k" + std::to_string(file.oid) + "_" + std::to_string(kind) + "_" +
                           std::to_string(key);
  return Prepared(*file.link, name, KindSql(file, kind, key), params);
}

StoreRow RowOf(const PgFile& file, const Result& r, int i) {
  StoreRow row;
  row.pos = static_cast<uint32_t>(r.Int(i, 0));
  row.ver = r.Int(i, 1);
  row.data = r.Bytes(i, 2);
  row.keyIsNull = r.IsNull(i, 3);
  if (!row.keyIsNull) row.encodedKey = r.Bytes(i, 3);
  row.seq = r.Int(i, 4);
  if (row.data.size() != file.description.recordLength) {
    row.data.resize(file.description.recordLength, '\0');
  }
  return row;
}

// The key parameters of a record, for Insert and Update.
void AddKeyParams(const PgFile& file, const std::string& data, std::vector<Param>& params) {
  const auto* record = reinterpret_cast<const uint8_t*>(data.data());
  for (std::size_t k = 0; k < file.description.keys.size(); ++k) {
    const std::string value = KeyValueOfRecord(file.description, k, record);
    if (IsNullKeyValue(file.description, k, value)) {
      params.push_back(NullParam());
    } else {
      params.push_back(BytesParam(EncodeKeyValue(file.description, k, value)));
    }
  }
}

// ---------------------------------------------------------------- handles

PgHandle* BlockHandle(const void* positionBlock) {
  return HandleInBlock(State().handles, kBlockMarker, positionBlock);
}

PgHandle& NewHandle(void* positionBlock, PgFile& file) {
  PgClient& client = State();
  PgHandle& handle = ClaimHandle(client.handles, client.nextToken, kBlockMarker, positionBlock);
  handle.file = &file;
  ++file.refs;
  return handle;
}

// Closes the table when no handle and no transaction uses it, and the
// connection when no table does.
void ReleaseFileIfUnused(PgFile& file) {
  if (file.refs > 0 || file.inTransaction) return;
  PgClient& client = State();
  Link& link = *file.link;
  if (PQstatus(link.conn) == CONNECTION_OK) Exec(link, "UNLISTEN " + Identifier(link, file.channel));
  for (auto it = client.files.begin(); it != client.files.end(); ++it) {
    if (it->get() == &file) {
      client.files.erase(it);
      break;
    }
  }
  bool used = link.inTransaction;
  for (auto& other : client.files) used = used || other->link == &link;
  if (!used) Disconnect(link);
}

void CloseHandle(PgHandle& handle, void* positionBlock) {
  PgFile& file = *handle.file;
  ReleaseAllLocks(handle);
  if (PQstatus(file.link->conn) == CONNECTION_OK) {
    Exec(*file.link, std::string("SELECT ") +
                         (handle.exclusive ? "pg_advisory_unlock(" : "pg_advisory_unlock_shared(") +
                         GateKey(file) + ")");
  }
  if (handle.exclusive) --file.exclusiveOpens;
  --file.refs;
  handle = PgHandle{};
  if (positionBlock) std::memset(positionBlock, 0, 128);
  ReleaseFileIfUnused(file);
}

void ForgetReadAhead(PgHandle& handle) {
  handle.ahead.clear();
  handle.aheadNext = 0;
  handle.aheadPlaces.clear();
  handle.aheadStale.clear();
  handle.aheadValid = false;
}

// ---------------------------------------------------------------- writes

// Brackets one write: outside a transaction its own server transaction,
// which first makes sure no other client's transaction holds the table
// (85) and, for a record already there, that no other client locks it (84);
// inside the client's transaction a savepoint, the first write to a table
// taking its transaction lock.
RecordStatus BeginWrite(PgFile& file, uint32_t pos) {
  Link& link = *file.link;
  ++file.localWrites;
  const std::string recordCheck =
      pos != 0 ? ", pg_try_advisory_xact_lock_shared(" + RecordKey(file, pos) + ")" : ", true";
  if (!State().inTransaction) {
    Result r = Exec(link, "BEGIN; SELECT pg_try_advisory_xact_lock_shared(" + TransactionKey(file) +
                              ")" + recordCheck);
    if (!r.Ok() || r.Rows() != 1) {
      Exec(link, "ROLLBACK");
      return StatusOf(r);
    }
    if (!r.True(0, 0) || !r.True(0, 1)) {
      Exec(link, "ROLLBACK");
      return r.True(0, 0) ? kStatusRecordLocked : kStatusFileLocked;
    }
    return kStatusOk;
  }
  if (!link.inTransaction) {
    if (!Exec(link, "BEGIN").Ok()) return kStatusIoError;
    link.inTransaction = true;
  }
  if (!file.inTransaction) {
    // Plain writes of others hold the lock shared for a moment; another
    // transaction holds it exclusively for as long as it lasts (85 at once).
    const std::string key = TransactionKey(file);
    for (int attempt = 0;; ++attempt) {
      if (Ask(link, "SELECT pg_try_advisory_lock(" + key + ")")) break;
      if (HeldExclusivelyByOther(link, key) || attempt >= kTransactionLockRetries) {
        return kStatusFileLocked;
      }
      usleep(kRetryMicroseconds / 4);
    }
    file.inTransaction = true;
  }
  Result r = Exec(link, "SAVEPOINT operation; SELECT true" + recordCheck);
  if (!r.Ok() || r.Rows() != 1) return StatusOf(r);
  if (!r.True(0, 1)) {
    Exec(link, "ROLLBACK TO operation; RELEASE operation");
    return kStatusRecordLocked;
  }
  return kStatusOk;
}

// `note` names the record written for the commit's notice ("k" or "m" and
// its position, as NoteOf reads it).
RecordStatus FinishWrite(PgFile& file, bool keep, const std::string& note = "") {
  Link& link = *file.link;
  if (State().inTransaction) {
    Result r = Exec(link, keep ? "RELEASE operation" : "ROLLBACK TO operation; RELEASE operation");
    return r.Ok() ? kStatusOk : kStatusIoError;
  }
  if (!keep) {
    Exec(link, "ROLLBACK");
    return kStatusOk;
  }
  Result r = Exec(link, "NOTIFY " + Identifier(link, file.channel) + (note.empty() ? "" : ", '" + note + "'") +
                            "; COMMIT");
  if (!r.Ok()) {
    Exec(link, "ROLLBACK");
    return StatusOf(r);
  }
  return kStatusOk;
}

// ---------------------------------------------------------------- operations

bool ValidKey(const PgHandle& handle, int key) {
  return key >= 0 && key < static_cast<int>(handle.file->description.keys.size());
}

void ReturnKeyOf(const Call& call, const FileDescription& d, int key, const std::string& data) {
  ReturnKeyValue(call, KeyValueOfRecord(d, key, reinterpret_cast<const uint8_t*>(data.data())));
}

void PositionOn(PgHandle& handle, int key, StoreRow&& row) {
  handle.keyNumber = key;
  handle.hasPosition = true;
  handle.hasCurrent = true;
  handle.row = std::move(row);
}

RecordStatus Deliver(const Call& call, PgHandle& handle, int key, StoreRow&& row) {
  const FileDescription& d = handle.file->description;
  const uint32_t n = std::min<uint32_t>(call.dataSize, d.recordLength);
  if (n > 0) std::memcpy(call.data, row.data.data(), n);
  call.SetDataLength(n);
  ReturnKeyOf(call, d, key, row.data);
  PositionOn(handle, key, std::move(row));
  return n < d.recordLength ? kStatusDataBufferTooShort : kStatusOk;
}

// Whether what this process read of the table is still what the server
// holds: no commit announced since, no write of this process.  Inside a
// server transaction announcements wait for its end, so only tables the
// transaction holds (which nobody else may write) count as unchanged.
bool Unchanged(PgFile& file, uint64_t notices, uint64_t writes) {
  Link& link = *file.link;
  if (link.inTransaction && !file.inTransaction) return false;
  TakeNotices(link, true);
  return file.notices == notices && file.localWrites == writes;
}

// Brings the batch up to date with the commits announced since it was
// read or last brought up to date: their notices name the records changed
// (read_ahead_batch.h).  A notice that names no record (a transaction's
// commit), notices no longer kept, a write of this process, or a server
// transaction that does not hold the table (notices wait for its end):
// false, read a fresh batch.
bool RefreshReadAhead(PgHandle& handle, int key, bool forward) {
  PgFile& file = *handle.file;
  Link& link = *file.link;
  if ((link.inTransaction && !file.inTransaction) || file.localWrites != handle.aheadWrites) return false;
  TakeNotices(link, true);
  const uint64_t announced = file.notices;
  std::vector<uint32_t> kept, moved;
  if (announced != handle.aheadNotices) {
    if (file.notes.empty() || file.notes.front().number > handle.aheadNotices + 1) return false;
    for (std::size_t i = handle.aheadNotices + 1 - file.notes.front().number; i < file.notes.size(); ++i) {
      const PgFile::Note& note = file.notes[i];
      if (note.kind == '*') return false;
      (note.kind == 'k' ? kept : moved).push_back(note.pos);
    }
  } else if (handle.aheadStale.empty()) {
    return true;  // nothing announced, nothing marked
  }
  auto readAgain = [&](const std::vector<uint32_t>& again, std::vector<std::pair<bool, StoreRow>>& fresh) {
    for (uint32_t pos : again) {
      Result r = Run(file, kReadAt, key, {IntParam(pos)});
      if (!r.Ok()) return false;
      fresh.emplace_back(r.Rows() == 1, r.Rows() == 1 ? RowOf(file, r, 0) : StoreRow{});
    }
    // Records read again later than the rest may only be mixed with them
    // when no other commit was announced meanwhile.
    TakeNotices(link);
    return file.notices == announced;
  };
  if (!BringBatchUpToDate(handle, handle.row.encodedKey, handle.row.seq, forward, kept, std::move(moved),
                          readAgain)) {
    return false;
  }
  handle.aheadNotices = announced;
  return true;
}

RecordStatus StepWithReadAhead(const Call& call, PgHandle& handle, int key, bool forward) {
  PgFile& file = *handle.file;
  const bool sameBatch = handle.aheadValid && key == handle.aheadKey && forward == handle.aheadForward &&
                         handle.aheadNext < handle.ahead.size();
  if (!sameBatch || !RefreshReadAhead(handle, key, forward)) {
    const bool cacheable = !file.link->inTransaction || file.inTransaction;
    // A walk that used up a whole batch reads a longer one, beside writers
    // too: the batch is kept across their commits.
    const bool continuing = handle.aheadValid && handle.aheadKey == key &&
                            handle.aheadForward == forward && handle.aheadNext == handle.ahead.size();
    handle.aheadLimit = continuing ? std::min(handle.aheadLimit * 2, kLargestBatch) : kFirstBatch;
    ForgetReadAhead(handle);
    TakeNotices(*file.link);
    const uint64_t notices = file.notices;
    std::vector<Param> params = {BytesParam(handle.row.encodedKey)};
    if (file.description.keys[key].duplicates) params.push_back(IntParam(handle.row.seq));
    params.push_back(IntParam(cacheable ? handle.aheadLimit : 1));
    Result r = Run(file, forward ? kNextBatch : kPreviousBatch, key, params);
    if (!r.Ok()) return StatusOf(r);
    if (r.Rows() == 0) return kStatusEndOfFile;
    for (int i = 0; i < r.Rows(); ++i) handle.ahead.push_back(RowOf(file, r, i));
    // A commit announced while reading is brought in at the next step with
    // every later one: the statement's snapshot came after the notices
    // counted before it.
    handle.aheadValid = cacheable;
    handle.aheadNotices = notices;
    handle.aheadWrites = file.localWrites;
    handle.aheadKey = key;
    handle.aheadForward = forward;
  }
  return Deliver(call, handle, key, std::move(handle.ahead[handle.aheadNext++]));
}

template <typename Finder>
RecordStatus ReadAndPosition(const Call& call, PgHandle& handle, int key, Finder find,
                             RecordStatus notFound) {
  PgFile& file = *handle.file;
  Link& link = *file.link;
  const bool locking = call.bias != 0;
  const bool wait = call.bias == kBiasSingleWait || call.bias == kBiasMultipleWait;
  const bool single = call.bias == kBiasSingleWait || call.bias == kBiasSingleNoWait;
  ForgetReadAhead(handle);

  if (locking) {
    if (single) ReleaseSingleLock(handle);
    if (!file.inTransaction) {
      const std::string key64 = TransactionKey(file);
      if (wait) {
        if (!Exec(link, "SELECT true FROM (SELECT pg_advisory_lock_shared(" + key64 +
                            ")) AS l WHERE pg_advisory_unlock_shared(" + key64 + ")")
                 .Ok()) {
          return kStatusIoError;
        }
      } else if (HeldExclusivelyByOther(link, key64)) {
        return kStatusFileLocked;
      }
    }
  }

  StoreRow row;
  bool heldBefore = false;
  for (int attempt = 0;; ++attempt) {
    Result r = find();
    if (!r.Ok()) return StatusOf(r);
    if (r.Rows() == 0) return notFound;
    row = RowOf(file, r, 0);
    if (!locking) break;
    heldBefore = !single && handle.multipleLocks.count(row.pos) > 0;
    if (!heldBefore) {
      const RecordStatus status = LockRecord(file, row.pos, wait);
      if (status != kStatusOk) return status;
    }
    Result again = Run(file, kReadAt, key, {IntParam(row.pos)});
    if (again.Ok() && again.Rows() == 1) {
      StoreRow fresh = RowOf(file, again, 0);
      if (fresh.keyIsNull == row.keyIsNull && fresh.encodedKey == row.encodedKey) {
        row = std::move(fresh);
        break;
      }
    }
    if (!heldBefore) UnlockRecord(file, row.pos);
    if (!again.Ok()) return StatusOf(again);
    if (attempt + 1 >= kLockedReadAttempts) return kStatusRecordLocked;
  }
  if (locking && !heldBefore) {
    if (single) {
      handle.singleLock = row.pos;
    } else {
      handle.multipleLocks.insert(row.pos);
    }
  }
  return Deliver(call, handle, key, std::move(row));
}

RecordStatus OpGet(const Call& call, PgHandle& handle) {
  const int key = call.keyNumber;
  if (!ValidKey(handle, key)) return kStatusInvalidKeyNumber;
  PgFile& file = *handle.file;
  int kind = kFirst;
  std::vector<Param> params;
  switch (call.operation) {
    case kOpGetNext:
    case kOpGetPrevious:
      if (!handle.hasPosition || handle.row.keyIsNull) return kStatusInvalidPositioning;
      if (key != handle.keyNumber) return kStatusDifferentKeyNumber;
      if (call.bias == 0) return StepWithReadAhead(call, handle, key, call.operation == kOpGetNext);
      kind = call.operation == kOpGetNext ? kNext : kPrevious;
      params = {BytesParam(handle.row.encodedKey), IntParam(handle.row.seq)};
      if (!file.description.keys[key].duplicates) params.pop_back();
      break;
    case kOpGetFirst:
      kind = kFirst;
      break;
    case kOpGetLast:
      kind = kLast;
      break;
    default: {
      const int byOperation[] = {kEqual, kNext, kPrevious, kGreater, kGreaterOrEqual, kLess, kLessOrEqual};
      kind = byOperation[call.operation - kOpGetEqual];
      const uint32_t n = std::min<uint32_t>(call.keySize, file.description.keys[key].length);
      std::string value(reinterpret_cast<const char*>(call.key), n);
      value.resize(file.description.keys[key].length, '\0');
      params = {BytesParam(EncodeKeyValue(file.description, key, value))};
    }
  }
  const RecordStatus notFound = call.operation == kOpGetEqual ? kStatusKeyNotFound : kStatusEndOfFile;
  return ReadAndPosition(call, handle, key, [&] { return Run(file, kind, key, params); }, notFound);
}

RecordStatus OpGetDirect(const Call& call, PgHandle& handle) {
  if (call.dataSize < 4) return kStatusDataBufferTooShort;
  const int key = call.keyNumber;
  if (!ValidKey(handle, key)) return kStatusInvalidKeyNumber;
  uint32_t pos = 0;
  for (int i = 3; i >= 0; --i) pos = (pos << 8) | call.data[i];
  if (pos == 0) return kStatusInvalidPosition;
  PgFile& file = *handle.file;
  return ReadAndPosition(call, handle, key, [&] { return Run(file, kReadAt, key, {IntParam(pos)}); },
                         kStatusInvalidPosition);
}

RecordStatus OpGetPosition(const Call& call, PgHandle& handle) {
  if (!handle.hasCurrent) return kStatusInvalidPositioning;
  if (call.dataSize < 4) return kStatusDataBufferTooShort;
  for (int i = 0; i < 4; ++i) call.data[i] = static_cast<uint8_t>(handle.row.pos >> (8 * i));
  call.SetDataLength(4);
  return kStatusOk;
}

RecordStatus OpInsert(const Call& call, PgHandle& handle) {
  PgFile& file = *handle.file;
  const FileDescription& d = file.description;
  if (handle.readOnly) return kStatusReadOnly;
  const int key = call.keyNumber;
  if (!ValidKey(handle, key)) return kStatusInvalidKeyNumber;
  if (call.dataSize < d.recordLength) return kStatusDataBufferTooShort;
  const std::string data(reinterpret_cast<const char*>(call.data), d.recordLength);
  RecordStatus status = BeginWrite(file, 0);
  if (status != kStatusOk) return status;
  std::vector<Param> params = {BytesParam(data)};
  AddKeyParams(file, data, params);
  Result r = Run(file, kInsert, key, params);
  const bool done = r.Ok() && r.Rows() == 1;
  status = FinishWrite(file, done, done ? "m" + std::to_string(r.Int(0, 0)) : "");
  if (!r.Ok() || r.Rows() != 1) return StatusOf(r);
  if (status != kStatusOk) return status;
  ForgetReadAhead(handle);
  PositionOn(handle, key, RowOf(file, r, 0));
  ReturnKeyOf(call, d, key, data);
  return kStatusOk;
}

// The status of a write that changed no row: the record is gone or another
// client changed it since this one read it (80).
RecordStatus OpUpdate(const Call& call, PgHandle& handle) {
  PgFile& file = *handle.file;
  const FileDescription& d = file.description;
  if (handle.readOnly) return kStatusReadOnly;
  if (!handle.hasCurrent) return kStatusInvalidPositioning;
  if (call.dataSize < d.recordLength) return kStatusDataBufferTooShort;
  const std::string data(reinterpret_cast<const char*>(call.data), d.recordLength);
  const int key = handle.keyNumber;
  RecordStatus status = BeginWrite(file, handle.row.pos);
  if (status != kStatusOk) return status;
  // Keys that may not change, against the record as read: if it changed
  // since, the answer is 80, which the server decides below.
  const auto* oldRecord = reinterpret_cast<const uint8_t*>(handle.row.data.data());
  const auto* newRecord = reinterpret_cast<const uint8_t*>(data.data());
  bool keyChanged = false;
  for (std::size_t k = 0; k < d.keys.size(); ++k) {
    if (!d.keys[k].modifiable &&
        KeyValueOfRecord(d, k, oldRecord) != KeyValueOfRecord(d, k, newRecord)) {
      keyChanged = true;
    }
  }
  if (keyChanged) {
    Result r = Run(file, kReadAt, key, {IntParam(handle.row.pos)});
    FinishWrite(file, false);
    if (!r.Ok()) return StatusOf(r);
    if (r.Rows() == 0 || RowOf(file, r, 0).ver != handle.row.ver) return kStatusConflict;
    return kStatusKeyNotModifiable;
  }
  std::vector<Param> params = {IntParam(handle.row.pos), IntParam(handle.row.ver), BytesParam(data)};
  AddKeyParams(file, data, params);
  Result r = Run(file, kUpdate, key, params);
  const bool done = r.Ok() && r.Rows() == 1;
  bool keysKept = true;
  for (std::size_t k = 0; k < d.keys.size(); ++k) {
    keysKept = keysKept && KeyValueOfRecord(d, k, oldRecord) == KeyValueOfRecord(d, k, newRecord);
  }
  status = FinishWrite(file, done, (keysKept ? "k" : "m") + std::to_string(handle.row.pos));
  if (!r.Ok()) return StatusOf(r);
  if (!done) return kStatusConflict;
  if (status != kStatusOk) return status;
  ForgetReadAhead(handle);
  PositionOn(handle, key, RowOf(file, r, 0));
  ReleaseSingleLock(handle);
  ReturnKeyOf(call, d, key, data);
  return kStatusOk;
}

RecordStatus OpDelete(PgHandle& handle) {
  PgFile& file = *handle.file;
  if (handle.readOnly) return kStatusReadOnly;
  if (!handle.hasCurrent) return kStatusInvalidPositioning;
  RecordStatus status = BeginWrite(file, handle.row.pos);
  if (status != kStatusOk) return status;
  Result r = Run(file, kDelete, 0, {IntParam(handle.row.pos), IntParam(handle.row.ver)});
  const bool done = r.Ok() && r.Affected() == 1;
  status = FinishWrite(file, done, "k" + std::to_string(handle.row.pos));
  if (!r.Ok()) return StatusOf(r);
  if (!done) return kStatusConflict;  // gone or changed since this client read it
  if (status != kStatusOk) return status;
  // The place on the key path stays, so Get Next/Previous find the
  // neighbours of the deleted record; there is no current record.
  ForgetReadAhead(handle);
  handle.hasCurrent = false;
  ReleaseSingleLock(handle);
  if (handle.multipleLocks.erase(handle.row.pos) > 0) UnlockRecord(file, handle.row.pos);
  return kStatusOk;
}

RecordStatus OpStat(const Call& call, PgHandle& handle) {
  PgFile& file = *handle.file;
  // Counting scans the table: done again only when it changed.
  if (!file.countsValid || !Unchanged(file, file.countsNotices, file.countsWrites)) {
    TakeNotices(*file.link);
    const uint64_t notices = file.notices;
    Result r = Run(file, kCount, 0, {});
    if (!r.Ok() || r.Rows() != 1) return StatusOf(r);
    file.recordCount = static_cast<uint32_t>(r.Int(0, 0));
    file.distinctValues.clear();
    for (std::size_t k = 0; k < file.description.keys.size(); ++k) {
      file.distinctValues.push_back(static_cast<uint32_t>(r.Int(0, 1 + k)));
    }
    file.countsValid = true;
    file.countsNotices = notices;
    file.countsWrites = file.localWrites;
  }
  const std::string answer = StatAnswer(file.description, file.recordCount, file.distinctValues);
  const uint32_t n = std::min<uint32_t>(call.dataSize, answer.size());
  if (n > 0) std::memcpy(call.data, answer.data(), n);
  call.SetDataLength(n);
  return n < answer.size() ? kStatusDataBufferTooShort : kStatusOk;
}

RecordStatus OpUnlock(const Call& call, PgHandle& handle) {
  if (call.keyNumber >= 0) {
    ReleaseSingleLock(handle);
    return kStatusOk;
  }
  if (call.keyNumber == -1) {
    if (call.dataSize < 4) return kStatusDataBufferTooShort;
    uint32_t pos = 0;
    for (int i = 3; i >= 0; --i) pos = (pos << 8) | call.data[i];
    if (handle.multipleLocks.erase(pos) > 0) UnlockRecord(*handle.file, pos);
    return kStatusOk;
  }
  if (call.keyNumber == -2) {
    for (uint32_t pos : handle.multipleLocks) UnlockRecord(*handle.file, pos);
    handle.multipleLocks.clear();
    return kStatusOk;
  }
  return kStatusInvalidKeyNumber;
}

// The oids of the schema's catalogue and of a table (0 when absent).
bool LookUp(Link& link, const std::string& catalog, const std::string& table, uint32_t& catalogOid,
            uint32_t& tableOid) {
  Result r = Exec(link, "SELECT coalesce(to_regclass(" + Literal(link, catalog) +
                            ")::oid, 0), coalesce(to_regclass(" + Literal(link, table) + ")::oid, 0)");
  if (!r.Ok() || r.Rows() != 1) return false;
  catalogOid = static_cast<uint32_t>(std::stoul(r.Text(0, 0)));
  tableOid = static_cast<uint32_t>(std::stoul(r.Text(0, 1)));
  return true;
}

struct Names {
  std::string schema;
  std::string catalog;
  std::string qualified;
};

Names NamesOf(Link& link, const StoreRoute& route) {
  Names n;
  n.schema = Identifier(link, route.schema);
  n.catalog = n.schema + ".kestrova_files";
  n.qualified = n.schema + "." + Identifier(link, route.table);
  return n;
}

}  // namespace

bool PgHoldsBlock(const void* positionBlock) { return BlockHandle(positionBlock) != nullptr; }

void PgCloseBlock(void* positionBlock) {
  if (PgHandle* handle = BlockHandle(positionBlock)) CloseHandle(*handle, positionBlock);
}

RecordStatus PgOpen(const Call& call, const StoreRoute& route, const std::string& owner) {
  const int8_t mode = call.keyNumber;
  const bool exclusive = mode == kModeExclusive;
  Link* link = Connect(route.connection);
  if (link == nullptr) return kStatusIoError;
  const Names names = NamesOf(*link, route);
  PgClient& client = State();

  PgFile* file = nullptr;
  for (auto& f : client.files) {
    if (f->link == link && f->qualified == names.qualified) file = f.get();
  }
  const bool alreadyOpen = file != nullptr;
  if (!alreadyOpen) {
    auto fresh = std::make_unique<PgFile>();
    fresh->link = link;
    fresh->schema = names.schema;
    fresh->table = route.table;
    fresh->qualified = names.qualified;
    RecordStatus status = kStatusOk;
    bool gateHeld = false;
    const std::string unlockGate =
        exclusive ? "SELECT pg_advisory_unlock(" : "SELECT pg_advisory_unlock_shared(";
    // The gate is taken on the table found; a table replaced meanwhile (a
    // new oid) is looked up again.
    for (int round = 0; round < 3; ++round) {
      uint32_t catalogOid = 0, tableOid = 0;
      if (!LookUp(*link, names.catalog, names.qualified, catalogOid, tableOid)) {
        status = kStatusIoError;
        break;
      }
      if (tableOid == 0) {
        status = kStatusFileNotFound;
        break;
      }
      if (catalogOid == 0) {
        status = kStatusIoError;  // a table that is not one of ours
        break;
      }
      if (fresh->oid != 0 && fresh->oid == tableOid) break;  // gate held on the right table
      if (gateHeld) Exec(*link, unlockGate + GateKey(*fresh) + ")");
      gateHeld = false;
      fresh->oid = tableOid;
      const std::string gate = GateKey(*fresh);
      if (exclusive) {
        if (!Ask(*link, "SELECT pg_try_advisory_lock(" + gate + ")")) {
          status = HeldExclusivelyByOther(*link, gate) ? kStatusFileLocked : kStatusIncompatibleMode;
          break;
        }
      } else {
        int attempt = 0;
        while (!Ask(*link, "SELECT pg_try_advisory_lock_shared(" + gate + ")")) {
          if (++attempt > kGateRetries) break;
          usleep(kRetryMicroseconds);
        }
        if (attempt > kGateRetries) {
          status = kStatusFileLocked;
          break;
        }
      }
      gateHeld = true;
      status = kStatusOk;
    }
    if (status == kStatusOk) {
      Result r = ExecParams(*link,
                            "SELECT format, description, owner FROM " + names.catalog + " WHERE name = $1",
                            {BytesParam(route.table)});
      if (!r.Ok()) {
        status = kStatusIoError;
      } else if (r.Rows() != 1 || r.Bytes(0, 0) != kFormatMarker) {
        status = kStatusIoError;  // not one of ours
      } else {
        const std::string bytes = r.Bytes(0, 1);
        if (ParseFileDescription(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                 fresh->description) != kStatusOk) {
          status = kStatusIoError;
        }
        fresh->owner = r.Bytes(0, 2);
      }
    }
    if (status != kStatusOk) {
      if (gateHeld) Exec(*link, unlockGate + GateKey(*fresh) + ")");
      bool used = link->inTransaction;
      for (auto& other : client.files) used = used || other->link == link;
      if (!used) Disconnect(*link);
      return status;
    }
    fresh->channel = "kestrova_" + std::to_string(fresh->oid);
    fresh->places = Literal(*link, names.schema + ".kestrova_places");
    Exec(*link, "LISTEN " + Identifier(*link, fresh->channel));
    file = fresh.get();
    client.files.push_back(std::move(fresh));
  } else {
    const std::string gate = GateKey(*file);
    if (exclusive) {
      if (!Ask(*link, "SELECT pg_try_advisory_lock(" + gate + ")")) return kStatusIncompatibleMode;
    } else if (!Ask(*link, "SELECT pg_try_advisory_lock_shared(" + gate + ")")) {
      return kStatusFileLocked;
    }
  }
  ++file->refs;  // held while the owner is checked
  auto undo = [&](RecordStatus why) {
    Exec(*link, std::string("SELECT ") + (exclusive ? "pg_advisory_unlock(" : "pg_advisory_unlock_shared(") +
                    GateKey(*file) + ")");
    --file->refs;
    ReleaseFileIfUnused(*file);
    return why;
  };
  if (!file->owner.empty() && owner != file->owner) return undo(kStatusOwnerMismatch);
  --file->refs;
  PgHandle& handle = NewHandle(call.positionBlock, *file);
  handle.readOnly = mode == kModeReadOnly;
  handle.exclusive = exclusive;
  if (exclusive) ++file->exclusiveOpens;
  return kStatusOk;
}

RecordStatus PgCreate(const StoreRoute& route, const FileDescription& description,
                      const std::string& owner, bool replace) {
  Link* link = Connect(route.connection);
  if (link == nullptr) return kStatusIoError;
  const Names names = NamesOf(*link, route);
  PgClient& client = State();
  auto finish = [&](RecordStatus status) {
    if (status != kStatusOk) Exec(*link, "ROLLBACK");
    bool used = link->inTransaction;
    for (auto& other : client.files) used = used || other->link == link;
    if (!used) Disconnect(*link);
    return status;
  };
  if (link->inTransaction) return kStatusTransactionActive;
  // Creates of one schema go one at a time: the catalogue is made by the
  // first, and of two creates of one file one finds the other's.
  const std::string schemaKey = std::to_string(int64_t{1} << 62 | std::hash<std::string>{}(names.schema) >> 2);
  Result r = Exec(*link, "BEGIN; SELECT pg_advisory_xact_lock(" + schemaKey +
                             "); CREATE SCHEMA IF NOT EXISTS " + names.schema +
                             "; CREATE TABLE IF NOT EXISTS " + names.catalog +
                             "(name text PRIMARY KEY, format text NOT NULL, description bytea NOT NULL, "
                             "owner bytea NOT NULL); CREATE SEQUENCE IF NOT EXISTS " + names.schema +
                             ".kestrova_places");
  if (!r.Ok()) return finish(StatusOf(r));
  uint32_t catalogOid = 0, tableOid = 0;
  if (!LookUp(*link, names.catalog, names.qualified, catalogOid, tableOid)) return finish(kStatusIoError);
  if (tableOid != 0) {
    Result ours = ExecParams(*link, "SELECT 1 FROM " + names.catalog + " WHERE name = $1",
                             {BytesParam(route.table)});
    if (!ours.Ok()) return finish(kStatusIoError);
    if (ours.Rows() == 0) return finish(kStatusIoError);  // not ours: left alone
    if (!replace) return finish(kStatusFileExists);
    // Nobody may have the old table open, this client included: its gate,
    // held until commit.
    for (auto& f : client.files) {
      if (f->link == link && f->oid == tableOid) return finish(kStatusFileLocked);
    }
    PgFile old;
    old.oid = tableOid;
    if (!Ask(*link, "SELECT pg_try_advisory_xact_lock(" + GateKey(old) + ")")) {
      return finish(kStatusFileLocked);
    }
    if (!Exec(*link, "DROP TABLE " + names.qualified).Ok()) return finish(kStatusIoError);
    if (!ExecParams(*link, "DELETE FROM " + names.catalog + " WHERE name = $1", {BytesParam(route.table)})
             .Ok()) {
      return finish(kStatusIoError);
    }
  }
  std::string sql = "CREATE TABLE " + names.qualified +
                    "(pos int8 GENERATED BY DEFAULT AS IDENTITY (MAXVALUE 4294967295) PRIMARY KEY, "
                    "ver int8 NOT NULL, data bytea NOT NULL";
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    sql += ", " + Col("k", k) + " bytea";
    if (description.keys[k].duplicates) sql += ", " + Col("s", k) + " int8";
  }
  sql += ")";
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    const std::string kc = Col("k", k);
    sql += description.keys[k].duplicates
               ? "; CREATE INDEX ON " + names.qualified + "(" + kc + ", " + Col("s", k) + ") WHERE " + kc +
                     " IS NOT NULL"
               : "; CREATE UNIQUE INDEX ON " + names.qualified + "(" + kc + ") WHERE " + kc +
                     " IS NOT NULL";
  }
  if (!Exec(*link, sql).Ok()) return finish(kStatusIoError);
  Result row = ExecParams(*link,
                          "INSERT INTO " + names.catalog +
                              "(name, format, description, owner) VALUES($1::text, $2::text, $3::bytea, $4::bytea)",
                          {BytesParam(route.table), BytesParam(kFormatMarker),
                           BytesParam(SerializeFileDescription(description)), BytesParam(owner)});
  if (!row.Ok()) return finish(kStatusIoError);
  if (!Exec(*link, "COMMIT").Ok()) return finish(kStatusIoError);
  return finish(kStatusOk);
}

RecordStatus PgOperation(const Call& call) {
  PgHandle* found = BlockHandle(call.positionBlock);
  if (found == nullptr) return kStatusFileNotOpen;
  PgHandle& handle = *found;
  if (PQstatus(handle.file->link->conn) != CONNECTION_OK) return kStatusIoError;
  switch (call.operation) {
    case kOpClose:
      CloseHandle(handle, call.positionBlock);
      return kStatusOk;
    case kOpInsert:
      return OpInsert(call, handle);
    case kOpUpdate:
      return OpUpdate(call, handle);
    case kOpDelete:
      return OpDelete(handle);
    case kOpStat:
      return OpStat(call, handle);
    case kOpGetPosition:
      return OpGetPosition(call, handle);
    case kOpGetDirect:
      return OpGetDirect(call, handle);
    case kOpUnlock:
      return OpUnlock(call, handle);
    default:
      if ((call.operation >= kOpGetEqual && call.operation <= kOpGetLast)) return OpGet(call, handle);
      return kStatusInvalidOperation;
  }
}

void PgBeginTransaction() { State().inTransaction = true; }

namespace {

// Ends the server transaction of every connection, then lets go of the
// transaction locks of the tables it wrote.
RecordStatus EndOnServer(bool commit) {
  PgClient& client = State();
  RecordStatus status = kStatusOk;
  for (auto& link : client.links) {
    if (!link->inTransaction) continue;
    std::string sql;
    std::string unlock;
    for (auto& file : client.files) {
      if (file->link != link.get() || !file->inTransaction) continue;
      if (commit) sql += "NOTIFY " + Identifier(*link, file->channel) + "; ";
      unlock += (unlock.empty() ? "SELECT " : ", ") + std::string("pg_advisory_unlock(") +
                TransactionKey(*file) + ")";
      ++file->localWrites;
    }
    sql += commit ? "COMMIT" : "ROLLBACK";
    Result r = Exec(*link, sql);
    if (!r.Ok()) {
      Exec(*link, "ROLLBACK");
      status = kStatusIoError;
    }
    if (!unlock.empty()) Exec(*link, unlock);
    link->inTransaction = false;
  }
  client.inTransaction = false;
  std::vector<PgFile*> all;
  for (auto& file : client.files) {
    file->inTransaction = false;
    all.push_back(file.get());
  }
  for (PgFile* file : all) ReleaseFileIfUnused(*file);
  return status;
}

}  // namespace

RecordStatus PgEndTransaction() { return EndOnServer(true); }

void PgAbortTransaction() {
  PgClient& client = State();
  // Locks go with an aborted transaction, as on disk.
  for (PgHandle& handle : client.handles) {
    if (handle.used) ReleaseAllLocks(handle);
  }
  EndOnServer(false);
}

void PgReset() {
  PgClient& client = State();
  if (client.inTransaction) PgAbortTransaction();
  for (PgHandle& handle : client.handles) {
    if (handle.used) CloseHandle(handle, nullptr);
  }
  client.handles.clear();
  client.files.clear();
  for (auto& link : client.links) PQfinish(link->conn);
  client.links.clear();
}

}  // namespace kestrova

namespace kestrova {
namespace {

// A connection of its own for a copy, with the table's names.
struct CopyLink {
  Link link;
  Names names;
  explicit CopyLink(const StoreRoute& route) {
    link.conn = PQconnectdb(route.connection.c_str());
    if (PQstatus(link.conn) == CONNECTION_OK) {
      PQsetNoticeProcessor(link.conn, &IgnoreNotice, nullptr);
      names = NamesOf(link, route);
    }
  }
  ~CopyLink() { PQfinish(link.conn); }
  bool Ok() const { return PQstatus(link.conn) == CONNECTION_OK; }
};

}  // namespace

RecordStatus PgReadRecords(const StoreRoute& route, FileDescription& description, std::string& owner,
                           std::vector<RawRecord>& records) {
  CopyLink copy(route);
  if (!copy.Ok()) return kStatusIoError;
  Link& link = copy.link;
  Result file = ExecParams(link, "SELECT description, owner FROM " + copy.names.catalog + " WHERE name = $1",
                           {BytesParam(route.table)});
  if (!file.Ok() || file.Rows() != 1) return file.Ok() ? kStatusFileNotFound : kStatusIoError;
  const std::string form = file.Bytes(0, 0);
  if (ParseFileDescription(reinterpret_cast<const uint8_t*>(form.data()), form.size(), description) !=
      kStatusOk) {
    return kStatusIoError;
  }
  owner = file.Bytes(0, 1);
  std::string sql = "SELECT pos, ver, data";
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    sql += description.keys[k].duplicates ? ", " + Col("s", k) : ", 0::int8";
  }
  Result rows = ExecParams(link, sql + " FROM " + copy.names.qualified + " ORDER BY pos", {});
  if (!rows.Ok()) return kStatusIoError;
  for (int i = 0; i < rows.Rows(); ++i) {
    RawRecord record;
    record.pos = static_cast<uint32_t>(rows.Int(i, 0));
    record.ver = rows.Int(i, 1);
    record.data = rows.Bytes(i, 2);
    record.data.resize(description.recordLength, '\0');
    for (std::size_t k = 0; k < description.keys.size(); ++k) {
      record.places.push_back(rows.IsNull(i, 3 + k) ? 0 : rows.Int(i, 3 + k));
    }
    records.push_back(std::move(record));
  }
  return kStatusOk;
}

RecordStatus PgWriteRecords(const StoreRoute& route, const FileDescription& description,
                            const std::vector<RawRecord>& records) {
  CopyLink copy(route);
  if (!copy.Ok()) return kStatusIoError;
  Link& link = copy.link;
  PgFile file;  // for the key parameters
  file.description = description;
  std::string cols = "pos, ver, data";
  std::string vals = "$1, $2, $3";
  int n = 4;
  std::string places = "0";
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    cols += ", " + Col("k", k);
    vals += ", $" + std::to_string(n++);
    if (description.keys[k].duplicates) {
      cols += ", " + Col("s", k);
      vals += ", $" + std::to_string(n++);
      places = "greatest(" + places + ", max(" + Col("s", k) + "))";
    }
  }
  const std::string& t = copy.names.qualified;
  if (!Exec(link, "BEGIN").Ok()) return kStatusIoError;
  const std::string insert = "INSERT INTO " + t + "(" + cols + ") VALUES(" + vals + ")";
  for (const RawRecord& record : records) {
    std::vector<Param> keys;
    AddKeyParams(file, record.data, keys);
    std::vector<Param> params = {IntParam(record.pos), IntParam(record.ver), BytesParam(record.data)};
    for (std::size_t k = 0; k < description.keys.size(); ++k) {
      params.push_back(keys[k]);
      if (description.keys[k].duplicates) params.push_back(IntParam(record.places[k]));
    }
    Result r = Prepared(link, "copy", insert, params);
    if (!r.Ok()) {
      Exec(link, "ROLLBACK");
      return StatusOf(r);
    }
  }
  // New records go after the copied ones, in position and among duplicates.
  const std::string sequence = Literal(link, copy.names.schema + ".kestrova_places");
  Result moved = Exec(link, "SELECT setval(pg_get_serial_sequence(" + Literal(link, t) +
                                ", 'pos'), greatest(max(pos), 1)), setval(" + sequence + ", greatest(" + places +
                                ", (SELECT last_value FROM " + copy.names.schema + ".kestrova_places))) FROM " + t);
  if (!moved.Ok() || !Exec(link, "COMMIT").Ok()) {
    Exec(link, "ROLLBACK");
    return kStatusIoError;
  }
  return kStatusOk;
}

}  // namespace kestrova

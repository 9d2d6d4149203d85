// The record manager's PostgreSQL store against plain libpq statements on
// the same table.
//
//   D=$(mktemp -d); export KESTROVA_BENCH_PG=$(scripts/pg-throwaway start $D)
//   build-bench/bench_record_manager_postgresql; scripts/pg-throwaway stop $D
//
// The same file as bench_record_manager (100 000 records of 100 bytes, key 0
// a 4-byte unsigned number, key 1 a 20-byte text with duplicates), made
// through BTRCALL in a schema of its own, dropped at the end.  Each
// operation is timed through BTRCALL and as the plain statements that do
// the same work:
//   step     Get First, then Get Next to the end   | one ordered SELECT of the whole table
//   equal    Get Equal on a random key             | prepared SELECT ... WHERE k0 = $1
//   update   Get Equal + Update of a random record | SELECT, then BEGIN, UPDATE, COMMIT
// The ratios (ours / plain) are printed at the end.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "ours_cases.h"
#include "ours_plain_ratios.h"
#include "recordmanager/btrcall.h"

namespace kestrova {
namespace {

using namespace bench;  // the file and the cases timed through BTRCALL

std::string g_dir;
std::string g_schema;
PGconn* g_plain = nullptr;
const char* kTable = "\"bench.dat\"";

void Plain(const std::string& sql) { PQclear(PQexec(g_plain, sql.c_str())); }

bool BuildFile(const char* connection) {
  char templ[] = "/tmp/kestrova-bench-XXXXXX";
  g_dir = mkdtemp(templ);
  g_schema = std::filesystem::path(g_dir).filename().string();
  std::ofstream(g_dir + "/recordstore.conf")
      << "backend = postgresql\nconnection = " << connection << "\nschema = " << g_schema << "\n";
  if (!CreateBenchFile(g_dir + "/bench.dat")) return false;
  g_plain = PQconnectdb(connection);
  if (PQstatus(g_plain) != CONNECTION_OK) return false;
  Plain("SET search_path = \"" + g_schema + "\"");
  Plain(std::string("VACUUM ANALYZE ") + kTable);
  return true;
}

void BM_StepPlain(benchmark::State& state) {
  uint8_t data[kLength];
  PQclear(PQprepare(g_plain, "step",
                    (std::string("SELECT pos, data FROM ") + kTable + " WHERE k0 IS NOT NULL ORDER BY k0").c_str(),
                    0, nullptr));
  for (auto _ : state) {
    PGresult* r = PQexecPrepared(g_plain, "step", 0, nullptr, nullptr, nullptr, 1);
    const int n = PQntuples(r);
    for (int i = 0; i < n; ++i) {
      std::memcpy(data, PQgetvalue(r, i, 1), kLength);
      benchmark::DoNotOptimize(PQgetvalue(r, i, 0));
    }
    PQclear(r);
    if (n != static_cast<int>(kRecords)) state.SkipWithError("not every record was reached");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

// The encoded key of a 4-byte unsigned segment is its big-endian form.
struct Key {
  explicit Key(uint32_t id)
      : bytes{static_cast<char>(id >> 24), static_cast<char>(id >> 16), static_cast<char>(id >> 8),
              static_cast<char>(id)} {}
  char bytes[4];
};

PGresult* SelectByKey(uint32_t id) {
  const Key key(id);
  const char* values[] = {key.bytes};
  const int lengths[] = {4};
  const int formats[] = {1};
  return PQexecPrepared(g_plain, "equal", 1, values, lengths, formats, 1);
}

void PrepareEqual() {
  PQclear(PQprepare(g_plain, "equal",
                    (std::string("SELECT pos, data FROM ") + kTable + " WHERE k0 = $1").c_str(), 0, nullptr));
}

void BM_EqualPlain(benchmark::State& state) {
  std::mt19937 random(42);
  uint8_t data[kLength];
  PrepareEqual();
  for (auto _ : state) {
    PGresult* r = SelectByKey(random() % kRecords);
    if (PQntuples(r) != 1) state.SkipWithError("not found");
    std::memcpy(data, PQgetvalue(r, 0, 1), kLength);
    PQclear(r);
  }
  Plain("DEALLOCATE equal");
  state.SetItemsProcessed(state.iterations());
}

void BM_UpdatePlain(benchmark::State& state) {
  std::mt19937 random(7);
  uint8_t data[kLength];
  PrepareEqual();
  PQclear(PQprepare(g_plain, "update",
                    (std::string("UPDATE ") + kTable + " SET data = $2, ver = ver + 1 WHERE pos = $1").c_str(),
                    0, nullptr));
  for (auto _ : state) {
    PGresult* r = SelectByKey(random() % kRecords);
    char pos[8];
    std::memcpy(pos, PQgetvalue(r, 0, 0), 8);
    std::memcpy(data, PQgetvalue(r, 0, 1), kLength);
    PQclear(r);
    data[50] = static_cast<uint8_t>(data[50] + 1);
    Plain("BEGIN");
    const char* values[] = {pos, reinterpret_cast<const char*>(data)};
    const int lengths[] = {8, kLength};
    const int formats[] = {1, 1};
    PGresult* u = PQexecPrepared(g_plain, "update", 2, values, lengths, formats, 1);
    if (PQresultStatus(u) != PGRES_COMMAND_OK) state.SkipWithError("update failed");
    PQclear(u);
    Plain("COMMIT");
  }
  Plain("DEALLOCATE equal");
  Plain("DEALLOCATE update");
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_StepOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StepPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StepBesideWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EqualOurs);
BENCHMARK(BM_EqualPlain);
BENCHMARK(BM_UpdateOurs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdatePlain)->Unit(benchmark::kMicrosecond);


}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const char* connection = getenv("KESTROVA_BENCH_PG");
  if (connection == nullptr || *connection == '\0') {
    std::fprintf(stderr,
                 "set KESTROVA_BENCH_PG to a libpq connection string, e.g. from scripts/pg-throwaway start DIR\n");
    return 2;
  }
  int status = 0;
  if (!kestrova::BuildFile(connection)) {
    std::fprintf(stderr, "cannot build the benchmark's table on %s\n", connection);
    status = 1;
  } else {
    kestrova::OursPlainReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios("libpq");
    std::printf("\nstepping speed beside a writer / alone (higher is better):  wall   cpu\n");
    reporter.PrintRatio("Step", "BM_StepOurs", "BM_StepBesideWriter");
  }
  kestrova::BTRCALL(kestrova::kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
  if (kestrova::g_plain) {
    kestrova::Plain("DROP SCHEMA IF EXISTS \"" + kestrova::g_schema + "\" CASCADE");
    PQfinish(kestrova::g_plain);
  }
  std::filesystem::remove_all(kestrova::g_dir);
  return status;
}

// The record manager against plain SQLite on the same data.
//
// One file of 100 000 records (100 bytes, key 0 a 4-byte unsigned number,
// key 1 a 20-byte text with duplicates) is built once.  Each operation is
// timed through BTRCALL and as the plain SQLite statements that do the same
// work on the same database file, the floor our layer adds to:
//   step     Get First, then Get Next to the end   | one ordered SELECT stepped to the end
//   equal    Get Equal on a random key             | SELECT ... WHERE k0 = ?
//   update   Get Equal + Update of a random record | SELECT + UPDATE in one write transaction
// The ratios (ours / plain) are printed at the end, and one more: the step
// through BTRCALL while another process updates random records as fast as
// it can (Get Equal + Update, each its own commit), against the same step
// with nobody writing.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
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
sqlite3* g_plain = nullptr;

void BuildFile() {
  char templ[] = "/tmp/kestrova-bench-XXXXXX";
  g_dir = mkdtemp(templ);
  CreateBenchFile(g_dir + "/bench.dat");
  sqlite3_open_v2(g_path.c_str(), &g_plain, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_busy_timeout(g_plain, 5000);
  sqlite3_exec(g_plain, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
}

void BM_StepPlain(benchmark::State& state) {
  uint8_t data[kLength];
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(g_plain, "SELECT pos, data FROM records WHERE k0 IS NOT NULL ORDER BY k0", -1,
                     &stmt, nullptr);
  for (auto _ : state) {
    uint32_t n = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::memcpy(data, sqlite3_column_blob(stmt, 1), kLength);
      benchmark::DoNotOptimize(sqlite3_column_int64(stmt, 0));
      ++n;
    }
    sqlite3_reset(stmt);
    if (n != kRecords) state.SkipWithError("not every record was reached");
  }
  sqlite3_finalize(stmt);
  state.SetItemsProcessed(state.iterations() * kRecords);
}

// The encoded key of a 4-byte unsigned segment is its big-endian form.
void BindKey(sqlite3_stmt* stmt, int index, uint32_t id) {
  const uint8_t key[4] = {static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16),
                          static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
  sqlite3_bind_blob(stmt, index, key, 4, SQLITE_TRANSIENT);
}

void BM_EqualPlain(benchmark::State& state) {
  std::mt19937 random(42);
  uint8_t data[kLength];
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(g_plain, "SELECT pos, data FROM records WHERE k0 = ?1", -1, &stmt, nullptr);
  for (auto _ : state) {
    BindKey(stmt, 1, random() % kRecords);
    if (sqlite3_step(stmt) != SQLITE_ROW) state.SkipWithError("not found");
    std::memcpy(data, sqlite3_column_blob(stmt, 1), kLength);
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  state.SetItemsProcessed(state.iterations());
}

void BM_UpdatePlain(benchmark::State& state) {
  std::mt19937 random(7);
  uint8_t data[kLength];
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* update = nullptr;
  sqlite3_prepare_v2(g_plain, "SELECT pos, data FROM records WHERE k0 = ?1", -1, &select, nullptr);
  sqlite3_prepare_v2(g_plain, "UPDATE records SET data = ?2, ver = ver + 1 WHERE pos = ?1", -1,
                     &update, nullptr);
  for (auto _ : state) {
    BindKey(select, 1, random() % kRecords);
    sqlite3_step(select);
    const sqlite3_int64 pos = sqlite3_column_int64(select, 0);
    std::memcpy(data, sqlite3_column_blob(select, 1), kLength);
    sqlite3_reset(select);
    data[50] = static_cast<uint8_t>(data[50] + 1);
    sqlite3_exec(g_plain, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_bind_int64(update, 1, pos);
    sqlite3_bind_blob(update, 2, data, kLength, SQLITE_STATIC);
    if (sqlite3_step(update) != SQLITE_DONE) state.SkipWithError("update failed");
    sqlite3_reset(update);
    sqlite3_exec(g_plain, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(select);
  sqlite3_finalize(update);
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
  kestrova::BuildFile();
  kestrova::OursPlainReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios("SQLite");
  std::printf("\nstepping speed beside a writer / alone (higher is better):  wall   cpu\n");
  reporter.PrintRatio("Step", "BM_StepOurs", "BM_StepBesideWriter");
  sqlite3_close(kestrova::g_plain);
  kestrova::BTRCALL(kestrova::kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
  std::filesystem::remove_all(kestrova::g_dir);
  return 0;
}

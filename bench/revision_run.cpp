// A list pass of the revision run over a generated installation of 100 000
// units in 2 000 estates, next to the bare walk over the same files (the
// finds and steps only), so the cost of the rules and the report shows
// apart from the record store's; a letters pass over the same units, one
// revision letter (the demo's text and its letterhead) per lease; then an
// apply pass over the same units, which writes every lease back.
//
//   cmake -B build-bench -DKESTROVA_BENCH=ON && cmake --build build-bench
//   build-bench/bench_revision_run
//
// Every lease is due on the application date (its last revision a year
// before) and is revised through the demo's price-index series, so each
// unit costs a full evaluation and two report lines.  The same pass runs
// again in Spanish, through the shipped message catalogue.  The ratios of
// each pass to the bare walk are printed at the end.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../tests/integration/installation.h"
#include "calendar/date_texts.h"
#include "calendar/picture_mask.h"
#include "documents/letter_merge.h"
#include "documents/print_channel.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "revision/apply.h"
#include "revision/lease_rules.h"
#include "revision/parameters.h"
#include "revision/report.h"
#include "revision/run.h"
#include "session/language.h"
#include "session/session.h"

namespace {

using namespace kestrova;
namespace inst = kestrova::installation;

constexpr int kEstates = 2000;
constexpr int kUnitsPerEstate = 50;
// The letters and apply passes cost far more per unit than a list pass, so
// they cover the first estates only (2 000 and 1 000 units).
constexpr int kLetterEstates = 40;
constexpr int kApplyEstates = 20;

std::string SourceDir() { return std::filesystem::path(__FILE__).parent_path().parent_path().string(); }

// The demo's consumer price index, series "I", into the price-index file.
void LoadIndexSeries() {
  std::ifstream in(SourceDir() + "/install/demo/UIpc.csv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("ES,I,", 0) != 0) continue;
    const std::string month = line.substr(5, 4) + line.substr(10, 2) + line.substr(13, 2);
    const double value = std::stod(line.substr(16));
    std::string record = "ESI" + PackDigits(month);
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &value, 8);
    record += bytes;
    inst::Insert(kPriceIndexFile, record);
  }
}

// A demo letter text, as make-root installs it: code page 850, CR LF.
void InstallLetterText(const std::string& root, const std::string& name) {
  std::ifstream in(SourceDir() + "/install/TEXTOS/" + name + ".txt", std::ios::binary);
  std::string line, text;
  while (std::getline(in, line)) text += Utf8ToCp850(line) + "\r\n";
  if (!MakeDirectories(root + "TEXTOS")) std::abort();
  if (!WriteWholeFile(root + "TEXTOS/" + name + ".txt", text)) std::abort();
}

// The shipped message catalogue, in code page 850 as an installation holds it.
void InstallCatalogue(const std::string& root) {
  std::string utf8;
  if (!ReadWholeFile(SourceDir() + "/install/LOCALE/KESTROVA.LNG", utf8)) std::abort();
  if (!MakeDirectories(root + "LOCALE")) std::abort();
  JobName() = "KESTROVA";
  if (!WriteWholeFile(CataloguePath(), Utf8ToCp850(utf8))) std::abort();
}

// Builds the installation once, in a directory removed at exit.
const std::string& Installation() {
  static std::string root;
  if (!root.empty()) return root;
  std::string pattern = (std::filesystem::temp_directory_path() / "krunbench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  root = pattern + "/";
  std::atexit([] { std::filesystem::remove_all(root); });
  Session().jobTmp = root;
  Session().language = "CAT";
  Session().output = "informe.txt";
  Session().letterhead[0] = "ADMINISTRACIO DE FINQUES";
  Separators() = {',', '.'};
  DateSettings() = {"/", "DMA"};
  if (!inst::CreateAndOpen(root)) std::abort();
  InstallLetterText(root, "REVIPC");
  InstallLetterText(root, "CAPCALER");
  InstallCatalogue(root);
  LoadIndexSeries();
  std::string rent(26, ' ');
  rent[0] = 1;
  inst::Put(rent, 1, "LLOGUER");
  inst::Put16(rent, 24, 0);
  inst::Insert(kConceptTypeFile, rent);
  for (int e = 1; e <= kEstates; ++e) {
    if (e % 40 == 1 && inst::BeginBatch() != 0) std::abort();
    inst::Insert(kEstateFile, inst::Estate(e, "CARRER " + std::to_string(e)));
    for (int u = 1; u <= kUnitsPerEstate; ++u) {
      inst::UnitFacts f;
      f.estate = e;
      f.unit = u;
      f.tenant = "LLOGATER " + std::to_string(e * 100 + u);
      f.contractDate = "20100301";
      f.lastRevisionDate = "20240301";
      f.lastIndex = 113000;
      f.rent = 50000 + u * 100;
      if (inst::Insert(kUnitFile, inst::Unit(f)) != 0) std::abort();
    }
    if ((e % 40 == 0 || e == kEstates) && inst::EndBatch() != 0) std::abort();
  }
  RevisionParameters& p = Revision();
  p.Mode = "L";
  p.Regime = 4;
  p.ApplicationDate = PackDigits("20250301");
  p.LetterDate = PackDigits("20250215");
  p.TextCode = "REVIPC";
  p.IncreaseConcept = 1;
  p.FromKey = inst::UnitKey(0, 0);
  p.ToKey = inst::UnitKey(9999, 9999);
  if (!FindRevisionIndex()) std::abort();
  return root;
}

void ListPass(benchmark::State& state, const char* language) {
  Installation();
  Revision().Mode = "L";
  Session().language = language;
  int32_t units = 0;
  for (auto _ : state) {
    OpenPrintJob(Session().output);
    ReportPageCount() = 0;
    units = WalkSelection();
    ClosePrintJob();
  }
  Session().language = "CAT";
  state.counters["units"] = units;
  state.counters["units_per_second"] =
      benchmark::Counter(static_cast<double>(units) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_ListPass(benchmark::State& state) { ListPass(state, "CAT"); }
BENCHMARK(BM_ListPass)->Unit(benchmark::kMillisecond)->Iterations(3);

// Every lease gets its letter: the merge data file written, the letter text
// and its letterhead read, every field looked up in the data file.  A letter
// is some sixty times the print of a report line, so the pass covers the
// first kLetterEstates estates of the installation; its ratio to the bare
// walk is taken per unit.
void BM_LetterPass(benchmark::State& state) {
  Installation();
  Session().language = "CAT";
  Revision().Mode = "N";
  Revision().ToKey = inst::UnitKey(kLetterEstates, 9999);
  int32_t units = 0;
  for (auto _ : state) {
    OpenPrintJob(Session().output);
    LetterPageCount() = 0;
    units = WalkSelection();
    ClosePrintJob();
  }
  Revision().Mode = "L";
  Revision().ToKey = inst::UnitKey(9999, 9999);
  state.counters["units"] = units;
  state.counters["units_per_second"] =
      benchmark::Counter(static_cast<double>(units) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LetterPass)->Unit(benchmark::kMillisecond)->Iterations(1);
void BM_ListPassSpanish(benchmark::State& state) { ListPass(state, "SPA"); }
BENCHMARK(BM_ListPassSpanish)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same estates, units and transition look-ups, nothing else.
void BM_BareWalk(benchmark::State& state) {
  Installation();
  ApplicationRecords& r = Records();
  int32_t units = 0;
  for (auto _ : state) {
    units = 0;
    int16_t estateStatus = FindByKey(kEstateFile, 0, inst::EstateCode(0), 1);
    while (estateStatus == 0) {
      const std::string estate = r.estate.EstateCode();
      int16_t unitStatus = FindByKey(kUnitFile, 0, estate, 1);
      while (unitStatus == 0 && r.unit.UnitKey().compare(0, 2, estate) == 0) {
        FindByKey(kLeaseTransitionFile, 0, r.unit.UnitKey(), 0);
        ++units;
        unitStatus = StepRecords(kUnitFile, 1);
      }
      estateStatus = StepRecords(kEstateFile, 1);
    }
    benchmark::DoNotOptimize(units);
  }
  state.counters["units"] = units;
  state.counters["units_per_second"] =
      benchmark::Counter(static_cast<double>(units) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareWalk)->Unit(benchmark::kMillisecond)->Iterations(3);

// Mode "A" over the first kApplyEstates estates, once: every lease is
// written back in its own transaction, under its two lock-file entries, with
// its db.log line; its ratio to the bare walk is taken per unit.
// Registered last: it leaves every lease revised, so a list pass after it
// would have nothing to revise.
void BM_ApplyPass(benchmark::State& state) {
  if (!ChangeDirectory(Installation())) std::abort();  // db.log goes to the root
  Revision().Mode = "A";
  Revision().ToKey = inst::UnitKey(kApplyEstates, 9999);
  int32_t units = 0;
  for (auto _ : state) {
    OpenPrintJob(Session().output);
    units = WalkSelection();
    ClosePrintJob();
  }
  Revision().Mode = "L";
  Revision().ToKey = inst::UnitKey(9999, 9999);
  int32_t written = 0;
  for (const AppliedLease& lease : ApplyPass().journal) written += lease.status == kApplyWritten ? 1 : 0;
  state.counters["units"] = units;
  state.counters["written"] = written;
  state.counters["units_per_second"] =
      benchmark::Counter(static_cast<double>(units) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ApplyPass)->Unit(benchmark::kMillisecond)->Iterations(1);

// Keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.benchmark_name();
      // Per unit: the letters and apply passes cover fewer units than the walk.
      const auto units = run.counters.find("units");
      const double perUnit = units != run.counters.end() && units->second.value > 0 ? units->second.value : 1;
      wall_[name.substr(0, name.find('/'))] = run.GetAdjustedRealTime() / perUnit;
      cpu_[name.substr(0, name.find('/'))] = run.GetAdjustedCPUTime() / perUnit;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    const auto bare = wall_.find("BM_BareWalk");
    if (bare == wall_.end() || bare->second <= 0) return;
    // The aim of at most 2 is the list passes': a letter prints some thirty
    // times a lease's report lines, and an apply syncs each lease to disk.
    std::printf("\nratio pass / bare walk, per unit (list passes: at most 2):  wall   cpu\n");
    for (const auto& [name, wall] : wall_) {
      if (name == bare->first) continue;
      std::printf("  %-42s %5.2f %5.2f\n", name.c_str(), wall / bare->second,
                  cpu_.at(name) / cpu_.at(bare->first));
    }
  }

 private:
  std::map<std::string, double> wall_;
  std::map<std::string, double> cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  return 0;
}

// The print program on the report of a 100 000-unit pass: the text and the
// PDF output, wall time, the program's processor time (cpu_s) and its peak
// memory (peak_MiB, its maximum resident set, from the kernel).
//
//   cmake --build build-bench --target bench_jobprint jobprint
//   build-bench/bench_jobprint
//   KESTROVA_JOBPRINT=/path/to/other/jobprint build-bench/bench_jobprint
//
// The script is made of the demo report's own records (the integration
// test's golden list pass): its page header, then its leases over and over
// with the page breaks the job writes, 100 000 leases in all, so its size
// and shape are those of a 100 000-unit report without a pass to wait for.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kUnits = 100000;
constexpr int kPageLength = 66;

std::string SourceDir() { return std::filesystem::path(__FILE__).parent_path().parent_path().string(); }

std::vector<std::string> Records(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> records;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    records.push_back(line);
  }
  return records;
}

// The lines a run of records advances (their line feeds).
int LineFeeds(const std::vector<std::string>& records) {
  int lines = 0;
  for (const std::string& r : records) {
    const std::size_t last = r.rfind(',');
    if (last != std::string::npos && r.find(',') != last) lines += std::atoi(r.c_str() + last + 1);
  }
  return lines;
}

// Writes the script's records after the device record.  Straight to the
// file: the benchmark stays small, so the peak memory measured is the print
// program's alone (a child starts as a copy of its parent).
void WriteScriptBody(std::ostream& out) {
  const std::vector<std::string> golden = Records(SourceDir() + "/tests/integration/golden/report_regime4.script");
  // The header: the page record to the rule under the headings; a lease:
  // from its receipt number to its second line's last amount.
  std::size_t rule = 0;
  while (rule < golden.size() && golden[rule].rfind(" 1 ,---", 0) != 0) ++rule;
  if (rule == golden.size()) std::abort();
  const std::vector<std::string> header(golden.begin() + 1, golden.begin() + static_cast<long>(rule) + 1);
  std::vector<std::vector<std::string>> leases;
  std::vector<std::string> lease;
  for (std::size_t k = rule + 1; k < golden.size() && golden[k].rfind("PAGE", 0) != 0; ++k) {
    lease.push_back(golden[k]);
    if (golden[k].rfind(" 126 ,", 0) == 0) {
      leases.push_back(lease);
      lease.clear();
    }
  }
  if (leases.empty()) std::abort();
  const int headerLines = LineFeeds(header);
  int line = kPageLength;
  int page = 0;
  for (int u = 0; u < kUnits; ++u) {
    const std::vector<std::string>& l = leases[static_cast<std::size_t>(u) % leases.size()];
    if (line + LineFeeds(l) > kPageLength) {
      ++page;
      for (const std::string& r : header) {
        if (r.rfind(" 85 ,", 0) == 0) {
          // "PAGINA" and the page number right-aligned in the header's field.
          const std::size_t first = r.find(',');
          const std::size_t last = r.rfind(',');
          const std::string text = r.substr(first + 1, last - first - 1);
          const std::string number = std::to_string(page);
          const std::size_t width = text.size() - 6;
          out << r.substr(0, first + 1) << text.substr(0, 6)
              << std::string(number.size() < width ? width - number.size() : 0, ' ') << number << r.substr(last)
              << "\r\n";
        } else {
          out << r << "\r\n";
        }
      }
      line = headerLines;
    }
    for (const std::string& r : l) out << r << "\r\n";
    line += LineFeeds(l);
  }
}

// The script with a device record, written once per device in a directory
// removed at exit.
std::string Script(const std::string& device) {
  static std::string dir;
  if (dir.empty()) {
    dir = (std::filesystem::temp_directory_path() / "kjobprintbench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(dir); });
  }
  const std::string path = dir + "/" + device + ".tmp";
  if (!std::filesystem::exists(path)) {
    std::ofstream file(path, std::ios::binary);
    file << "DEVICE" << device << "\r\n";
    WriteScriptBody(file);
  }
  return path;
}

std::string Jobprint() {
  if (const char* named = std::getenv("KESTROVA_JOBPRINT")) return named;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/jobprint";
}

struct ChildUse {
  long peakKiB = 0;
  double cpuSeconds = 0;
};

// Runs jobprint on the script for a device; its peak resident set and the
// processor time it took (user + system: steady on a loaded machine).
ChildUse RunJobprint(const std::string& device) {
  const std::string program = Jobprint();
  const std::string script = Script(device);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(program.c_str(), program.c_str(), script.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return {usage.ru_maxrss, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

void Measure(benchmark::State& state, const std::string& device) {
  Script(device);
  long peak = 0;
  double cpu = 0;
  for (auto _ : state) {
    const ChildUse use = RunJobprint(device);
    peak = std::max(peak, use.peakKiB);
    cpu += use.cpuSeconds;
  }
  state.counters["peak_MiB"] = static_cast<double>(peak) / 1024.0;
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.counters["script_MiB"] = static_cast<double>(std::filesystem::file_size(Script(device))) / (1024.0 * 1024.0);
}

void BM_JobprintText(benchmark::State& state) { Measure(state, "x.txt"); }
BENCHMARK(BM_JobprintText)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_JobprintPdf(benchmark::State& state) { Measure(state, "x.pdf"); }
BENCHMARK(BM_JobprintPdf)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

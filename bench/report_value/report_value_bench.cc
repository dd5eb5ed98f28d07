// What SR_ReportValueEx costs the host once report 0 exists, beside SR_WS with
// the same 16-unit text into the same report (its floor: SR_ReportValueEx is
// SR_WS plus a log call and a look at the report list), and what reading the
// installation for a parameter block costs (once per report made).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_report.h"
#include "common/initialize.h"
#include "report/report_manager.h"
#include "statrelay/statrelay.h"

namespace {

constexpr uint32_t kKey = 0x02000100;  // a single value
std::atomic<uint64_t> g_applied{0};
std::atomic<uint64_t> g_posted{0};

// A body that keeps the last text per key, as a value record does.
class ValueBody : public bench::SilentBody {
 public:
  int ReportWS(uint32_t key, const SrString& text) override {
    values_[key] = text;
    g_applied.fetch_add(1, std::memory_order_release);
    return 1;
  }

 private:
  std::map<uint32_t, SrString> values_;
};

template <class Call>
void Recorder(benchmark::State& state, Call call) {
  for (auto _ : state) call();
  g_posted.fetch_add(state.iterations());
  // Let the worker catch up outside the timed part.
  while (g_applied.load(std::memory_order_acquire) < g_posted.load()) std::this_thread::yield();
}

void SR_WS16(benchmark::State& state) {
  Recorder(state, [] { SR_WS(kKey, bench::kText16, 0); });
}
void SR_ReportValueEx16(benchmark::State& state) {
  Recorder(state, [] { SR_ReportValueEx(kKey, bench::kText16); });
}
void InstallationDefaults(benchmark::State& state) {
  for (auto _ : state) {
    CPCFParam param(nullptr, nullptr, nullptr);
    benchmark::DoNotOptimize(param.Version());
  }
}

struct Figures : benchmark::ConsoleReporter {
  std::map<std::string, std::vector<double>> runs_ns;
  std::map<std::string, double> ns;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      std::vector<double>& all = runs_ns[run.benchmark_name()];
      all.push_back(run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations));
      std::vector<double> sorted = all;
      std::sort(sorted.begin(), sorted.end());
      ns[run.benchmark_name()] = sorted[sorted.size() / 2];
    }
  }
};

void PrintRatio(Figures& f, const char* label, const std::string& ours, const std::string& floor,
                double target) {
  auto a = f.ns.find(ours);
  auto b = f.ns.find(floor);
  if (a == f.ns.end() || b == f.ns.end()) return;
  double ratio = a->second / b->second;
  std::printf("  %-44s %10.1f ns / %8.1f ns = %8.2fx", label, a->second, b->second, ratio);
  if (target > 0) std::printf("   (target <= %.2fx) %s", target, ratio <= target ? "ok" : "MISSED");
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  bench::InitializeWithRepetitions(argc, argv);
  CReportManager::SetFileFactoryForTest(&bench::MakeFileWith<ValueBody>);
  SR_ReportValueEx(kKey, bench::kText16);  // the first call makes report 0
  g_posted.fetch_add(1);

  constexpr int kCalls = 1000000;
  benchmark::RegisterBenchmark("SR_WS16", SR_WS16)->Iterations(kCalls)->UseRealTime();
  benchmark::RegisterBenchmark("SR_ReportValueEx16", SR_ReportValueEx16)->Iterations(kCalls)->UseRealTime();
  benchmark::RegisterBenchmark("InstallationDefaults", InstallationDefaults)->Iterations(2000)->UseRealTime();

  Figures figures;
  benchmark::RunSpecifiedBenchmarks(&figures);

  const std::string calls = "/iterations:" + std::to_string(kCalls) + "/real_time";
  std::printf("\nRatios (same run, medians):\n");
  PrintRatio(figures, "SR_ReportValueEx / SR_WS, 16 units", "SR_ReportValueEx16" + calls, "SR_WS16" + calls,
             2.0);
  PrintRatio(figures, "installation read / SR_WS, 16 units", "InstallationDefaults/iterations:2000/real_time",
             "SR_WS16" + calls, 0);

  Stop();
  benchmark::Shutdown();
  return 0;
}

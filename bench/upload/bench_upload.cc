// What the report manager's once-a-minute upload check costs its worker, in
// the two states it is found in almost always:
//   idle     nothing waits in the Processing key and the query is recent:
//            the check is one key count and one value read, nothing else;
//   guarded  files wait but the updater holds its mutex: one key count and
//            one mutex test.
// Beside them, measured in the same run, the floors they are made of: one
// registry value read, and one test of a named mutex that exists. Prints
// each check in units of its floor (target: a few; no file or process work).
//
// The benchmark makes its own scratch system root and removes it at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/initialize.h"
#include "common/rate_reporter.h"
#include "pcf/registry_string.h"
#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "report/report_manager.h"
#include "report/upload_dispatch.h"

namespace {

using platform::RegRoot;

void SetQueryRecent() {
  const int64_t recent = platform::SecondsSince1970() - 60;
  platform::SetRegistryValue(RegRoot::kLocalMachine, kSrpKey, SRT("query_lt"), platform::kRegQword, &recent,
                             sizeof recent);
}

void BM_IdleCheck(benchmark::State& state) {
  platform::DeleteRegistryTree(RegRoot::kLocalMachine, kProcessingKey);
  platform::RegistryKey processing;
  processing.Create(RegRoot::kLocalMachine, kProcessingKey);  // there, and empty
  SetQueryRecent();
  CReportManager* manager = GetInstance();
  for (auto _ : state) manager->TryUpload(0, 0);
}
BENCHMARK(BM_IdleCheck)->Unit(benchmark::kMicrosecond);

void BM_GuardedCheck(benchmark::State& state) {
  SetRegistryString(RegRoot::kLocalMachine, kProcessingKey, SRT("/nowhere/a.dat"), SRT("http://u"));
  platform::NamedMutex updater;
  if (!updater.TryLock(kUpdateMutexName)) {
    state.SkipWithError("cannot hold the updater's mutex");
    return;
  }
  CReportManager* manager = GetInstance();
  for (auto _ : state) manager->TryUpload(0, 0);
  platform::DeleteRegistryTree(RegRoot::kLocalMachine, kProcessingKey);
}
BENCHMARK(BM_GuardedCheck)->Unit(benchmark::kMicrosecond);

void BM_RegistryReadFloor(benchmark::State& state) {
  SetQueryRecent();
  for (auto _ : state) {
    unsigned char bytes[8];
    uint32_t type = 0, size = sizeof bytes;
    benchmark::DoNotOptimize(
        platform::GetRegistryValue(RegRoot::kLocalMachine, kSrpKey, SRT("query_lt"), &type, bytes, &size));
  }
}
BENCHMARK(BM_RegistryReadFloor)->Unit(benchmark::kMicrosecond);

void BM_MutexTestFloor(benchmark::State& state) {
  platform::NamedMutex held;
  if (!held.TryLock(SRT("Global\\bench_upload_floor"))) {
    state.SkipWithError("cannot hold the floor's mutex");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(platform::NamedMutexExists(SRT("Global\\bench_upload_floor")));
}
BENCHMARK(BM_MutexTestFloor)->Unit(benchmark::kMicrosecond);

// Prints the ratios of the median times at the end.
class RatioReporter : public bench::RateReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double idle = Time("BM_IdleCheck"), guarded = Time("BM_GuardedCheck");
    const double read = Time("BM_RegistryReadFloor"), mutex = Time("BM_MutexTestFloor");
    if (idle > 0 && read > 0) {
      std::printf("\nidle check: %.2fx one registry read (target: a few)\n", idle / read);
    }
    if (guarded > 0 && read > 0 && mutex > 0) {
      std::printf("guarded check: %.2fx one registry read + one mutex test (target: a few)\n",
                  guarded / (read + mutex));
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/bench_upload-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string root = pattern;
  setenv("STATRELAY_ROOT", root.c_str(), 1);

  bench::InitializeWithRepetitions(argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  DestroyInstance();
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}

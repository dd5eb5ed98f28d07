// The machine identifier's costs, each beside a floor measured in the same run:
// - the first computation of a process (store loaded, this machine's
//   collectors asked, nothing changed so the file is not rewritten) beside one
//   read of the store file (target: at most 5 times that read), and the part
//   of it that is the disk serial the kernel reports: on a virtio disk each
//   read of that attribute is a request to the device, which no amount of
//   care on our side makes cheaper;
// - GetMachineId once cached beside an atomic pointer load (target: at most 2x);
// - the identifier of a new report header (UniqueUserID::GetId) once cached,
//   beside the same atomic load: it asks for no computation.
//
// The benchmark makes its own scratch system root and removes it at the end.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/initialize.h"
#include "common/rate_reporter.h"
#include "guid/machine_id.h"
#include "guid/machine_identity.h"
#include "guid/unique_user_id.h"
#include "platform/file.h"
#include "platform/hardware.h"

namespace {

SrString g_store;
bool g_rewritten = false;

// One computation as a new process makes it, on the machine's own hardware.
void BM_FirstComputation(benchmark::State& state) {
  for (auto _ : state) {
    guid::MachineIdentity identity;
    guid::IdentityReport report;
    benchmark::DoNotOptimize(guid::ComputeMachineId(&identity, true, &report));
    g_rewritten = g_rewritten || report.saved;
  }
}
BENCHMARK(BM_FirstComputation);

void BM_ReadStoreFloor(benchmark::State& state) {
  std::string bytes;
  for (auto _ : state) {
    platform::ReadWholeFile(g_store, 1 << 20, &bytes);
    benchmark::DoNotOptimize(bytes.data());
  }
}
BENCHMARK(BM_ReadStoreFloor);

// The disk step whose answer may come from the device itself.
void BM_KernelDiskSerial(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(platform::QueryKernelDiskSerial());
}
BENCHMARK(BM_KernelDiskSerial);

void BM_CachedGetMachineId(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(guid::GetMachineId());
}
BENCHMARK(BM_CachedGetMachineId);

std::atomic<const char*> g_pointer{"x"};
void BM_AtomicLoadFloor(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(g_pointer.load(std::memory_order_acquire));
}
BENCHMARK(BM_AtomicLoadFloor);

void BM_HeaderIdentifier(benchmark::State& state) {
  SRCHAR buffer[128];
  for (auto _ : state) {
    benchmark::DoNotOptimize(user_info::UniqueUserID::GetId(buffer, 128));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_HeaderIdentifier);

class RatioReporter : public bench::RateReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto ratio = [this](const char* a, const char* b) {
      return Time(a) > 0 && Time(b) > 0 ? Time(a) / Time(b) : 0.0;
    };
    std::printf(
        "\nfirst computation / store read: %.2fx (target <= 5)%s\n",
        ratio("BM_FirstComputation", "BM_ReadStoreFloor"),
        g_rewritten ? "  [the store was rewritten: this machine gives no disk or network value]" : "");
    std::printf("  of which the kernel's disk serial: %.2fx the store read (%.0f%% of the computation)\n",
                ratio("BM_KernelDiskSerial", "BM_ReadStoreFloor"),
                100.0 * ratio("BM_KernelDiskSerial", "BM_FirstComputation"));
    std::printf("cached GetMachineId / atomic load: %.2fx (target <= 2)\n",
                ratio("BM_CachedGetMachineId", "BM_AtomicLoadFloor"));
    std::printf("header identifier (GetId) / atomic load: %.2fx (no computation once cached)\n",
                ratio("BM_HeaderIdentifier", "BM_AtomicLoadFloor"));
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/bench_identity-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  setenv("STATRELAY_ROOT", pattern.c_str(), 1);
  // The store as this machine's products leave it; the process's identifier cached.
  g_store = guid::StorePath();
  guid::GetMachineId();
  if (!platform::FileExists(g_store)) {
    std::fprintf(stderr, "no store file was written\n");
    return 1;
  }
  bench::InitializeWithRepetitions(argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(pattern, ec);
  return 0;
}

// A body of about 10 MiB (counters, number and text lists, number and text
// values) serialised into its buffer, beside a memcpy of the same size in the
// same run. Prints both in MB/s and their ratio (target: at most 4).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/initialize.h"
#include "common/rate_reporter.h"
#include "pcf/pcf_body.h"

namespace {

// Keys stay clear of the activity table, so no registry is touched.
void Fill(CPCFBody* body) {
  for (uint32_t i = 0; i < 20000; ++i) body->ReportWW(0x05000000 + i, static_cast<int32_t>(i * 7));
  for (uint32_t l = 0; l < 200; ++l) {
    for (int32_t n = 0; n < 2000; ++n) body->ReportWW(0x04000000 + l, n * 31);
  }
  const SrString item(40, SRCHAR('t'));
  for (uint32_t l = 0; l < 500; ++l) {
    for (int t = 0; t < 200; ++t) body->ReportWS(0x04100000 + l, item);
  }
  const SrString value(50, SRCHAR('v'));
  for (uint32_t i = 0; i < 2000; ++i) {
    body->ReportWS(0x02100000 + i, value);
    body->ReportWW(0x02200000 + i, static_cast<int32_t>(i));
  }
}

struct Fixture {
  Fixture() {
    CPCFParam param(SRT("1.0.0.0"), SRT("bench"), SRT("http://bench"));
    body.SetParam(&param);
    Fill(&body);
    body.Serialize(nullptr, &size);
    buffer.assign(size, 0);
    source.assign(size, 0x5A);
  }
  CPCFBody body;
  uint32_t size = 0;
  std::vector<uint8_t> buffer;
  std::vector<uint8_t> source;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_SerializeBody(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    uint32_t length = f.size;
    if (f.body.Serialize(f.buffer.data(), &length) != 1) state.SkipWithError("serialize failed");
    benchmark::DoNotOptimize(f.buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.size);
  state.counters["bytes"] = f.size;
}
BENCHMARK(BM_SerializeBody)->Unit(benchmark::kMillisecond);

void BM_MemcpySameSize(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    std::memcpy(f.buffer.data(), f.source.data(), f.size);
    benchmark::DoNotOptimize(f.buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.size);
}
BENCHMARK(BM_MemcpySameSize)->Unit(benchmark::kMillisecond);

// Prints the ratio at the end.
class RatioReporter : public bench::RateReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    double serialize = Rate("BM_SerializeBody");
    double copy = Rate("BM_MemcpySameSize");
    if (serialize > 0 && copy > 0) {
      std::printf(
          "\nbody of %u bytes: serialize %.0f MB/s, memcpy %.0f MB/s, memcpy/serialize %.2fx (target <= 4)\n",
          Shared().size, serialize / 1e6, copy / 1e6, copy / serialize);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  bench::InitializeWithRepetitions(argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

// A timer save of an open report file, Save(0) on the report's worker after
// one value changed: consent read, the whole file rewritten from offset 0
// (header, body), cut to size, its payload length written (its Temp record
// was stored at the first save and stays as it is). Bodies of 1 MiB
// and of 10 MiB - 64 KiB: a save of 10,485,760 bytes or more seals the file,
// and a sealed file is no longer rewritten, so the larger body stays just
// below that threshold. Beside each, in the same run, the floor: the same
// number of bytes put into a file with one plain write, then closed, no fsync.
// Prints both in MB/s and their ratio (target: at most 2).
//
// The benchmark makes its own scratch system root (registry hive, report
// folder) with consent to reporting turned on, and removes it at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/initialize.h"
#include "common/rate_reporter.h"
#include "pcf/filebase.h"
#include "pcf/pcf_body.h"
#include "pcf/pcf_file_impl.h"
#include "pcf/pcf_header.h"
#include "pcf/registry_string.h"
#include "platform/registry.h"

namespace {

constexpr uint32_t kCounter = 0x05000001;
constexpr uint32_t kTextList = 0x04100001;
constexpr uint32_t kMiB = 1024 * 1024;
constexpr uint32_t kBodySizes[] = {kMiB, 10 * kMiB - 64 * 1024};

std::string g_root;

uint32_t BodyBytes(CPCFBody* body) {
  uint32_t length = 0;
  body->Serialize(nullptr, &length);
  return length;
}

// A report file whose body serialises to exactly `target` bytes (or one
// less: texts are whole UTF-16 units), made of one list of texts, saved once
// so that its ".tmp" is open and listed.
struct SavedReport {
  explicit SavedReport(uint32_t target) {
    body = new CPCFBody;
    file = std::make_unique<CPCFFileImpl>(new CPCFHeader, body, nullptr);
    CPCFParam param(SRT("2.5.3.70000"), SRT("c1"), SRT("http://report.example/u"));
    file->SetParam(&param);
    file->Init();
    file->ReportWW(kCounter, 1);
    const SrString item(1000, SRCHAR('t'));
    file->ReportWS(kTextList, item.c_str());
    file->WaitForPostedTasks();
    uint32_t before = BodyBytes(body);
    file->ReportWS(kTextList, item.c_str());
    file->WaitForPostedTasks();
    const uint32_t per_item = BodyBytes(body) - before;  // item bytes + fixed overhead
    const uint32_t overhead = per_item - 2 * 1000;
    for (;;) {
      const uint32_t now = BodyBytes(body);
      if (now >= target) break;
      const uint32_t remaining = target - now;
      if (remaining < 2 * per_item) {
        if (remaining > overhead) {
          file->ReportWS(kTextList, SrString((remaining - overhead) / 2, SRCHAR('u')).c_str());
          file->WaitForPostedTasks();
        }
        break;
      }
      for (uint32_t n = remaining / per_item - 1; n > 0; --n) file->ReportWS(kTextList, item.c_str());
      file->WaitForPostedTasks();
    }
    body_bytes = BodyBytes(body);
    file->Save(0);
  }
  std::unique_ptr<CPCFFileImpl> file;
  CPCFBody* body;  // owned by file
  uint32_t body_bytes = 0;
};

// Made on first use, freed (and so sealed) before the scratch root goes.
std::map<uint32_t, std::unique_ptr<SavedReport>> g_reports;

SavedReport& Report(uint32_t target) {
  auto& slot = g_reports[target];
  if (!slot) slot = std::make_unique<SavedReport>(target);
  return *slot;
}

// The bytes one save writes: the 280-byte header and the body.
uint64_t FileBytes(const SavedReport& report) {
  return Filebase::kHeaderBytes + static_cast<uint64_t>(report.body_bytes);
}

// One timer save, run on the report's worker as its save timer runs it; the
// time taken there is the figure.
struct TimedSave {
  SavedReport* report;
  double seconds = 0;
};

void TimerSaveOnWorker(void* arg) {
  auto* t = static_cast<TimedSave*>(arg);
  const auto begin = std::chrono::steady_clock::now();
  // Something recorded since the last tick, as a timer save finds it.
  t->report->body->SetModified(1);
  t->report->file->Save(0);  // on the worker: runs at once
  t->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

void BM_TimerSave(benchmark::State& state) {
  SavedReport& report = Report(static_cast<uint32_t>(state.range(0)));
  const uint64_t bytes = FileBytes(report);
  if (bytes >= Filebase::kSealBytes) state.SkipWithError("body too large: the save would seal");
  TimedSave timed{&report};
  for (auto _ : state) {
    report.file->RunOnWorkerForTest(&TimerSaveOnWorker, &timed);
    state.SetIterationTime(timed.seconds);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_TimerSave)
    ->Arg(kBodySizes[0])
    ->Arg(kBodySizes[1])
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// What a Save(0) from another thread (an upload request, Stop) pays on top
// of the save itself: the call sent to the report's worker and its answer,
// with nothing changed (the save then writes nothing).
void BM_SaveRoundTrip(benchmark::State& state) {
  SavedReport& report = Report(kBodySizes[0]);
  for (auto _ : state) report.file->Save(0);
}
BENCHMARK(BM_SaveRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The floor of a rewrite: open the file (it exists and already has this size,
// as the report file being rewritten has; no O_TRUNC, so the kernel reuses
// the cached pages just as the save's rewrite from offset 0 does), one write
// of every byte, close, no fsync. Opening is included because it costs a few
// microseconds against the milliseconds of the write; the save keeps its file
// open instead but does its own small extra calls (seek, cut, size, the
// payload length).
void BM_PlainWriteFloor(benchmark::State& state) {
  SavedReport& report = Report(static_cast<uint32_t>(state.range(0)));
  const uint64_t bytes = FileBytes(report);
  std::vector<uint8_t> image(bytes, 0x5A);
  const std::string path = g_root + "/floor.bin";
  for (auto _ : state) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
      state.SkipWithError("open failed");
      break;
    }
    ssize_t n = write(fd, image.data(), image.size());
    close(fd);
    if (n != static_cast<ssize_t>(image.size())) {
      state.SkipWithError("short write");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PlainWriteFloor)
    ->Arg(kBodySizes[0])
    ->Arg(kBodySizes[1])
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The floor runs with the wall clock, the timer save with the time measured
// on the worker.

// Prints the ratios at the end.
class RatioReporter : public bench::RateReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n");
    for (uint32_t size : kBodySizes) {
      const std::string arg = std::to_string(size);
      const double save = Rate("BM_TimerSave/" + arg);
      const double floor = Rate("BM_PlainWriteFloor/" + arg);
      if (save > 0 && floor > 0) {
        std::printf(
            "body of %u bytes (file of %.0f bytes): save %.0f MB/s, plain write %.0f MB/s, "
            "write/save %.2fx (target <= 2)\n",
            size, Counter("BM_TimerSave/" + arg, "bytes"), save / 1e6, floor / 1e6, floor / save);
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  // A scratch system root of its own, with consent to reporting on.
  std::string pattern = std::filesystem::temp_directory_path().string() + "/bench_save-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  g_root = pattern;
  setenv("STATRELAY_ROOT", g_root.c_str(), 1);
  const uint32_t consent = 2;
  if (platform::SetRegistryValue(platform::RegRoot::kLocalMachine, kSrpKey, SRT("report"),
                                 platform::kRegDword, &consent, sizeof consent) != platform::kErrSuccess) {
    std::fprintf(stderr, "cannot turn consent on in %s\n", g_root.c_str());
    return 1;
  }

  bench::InitializeWithRepetitions(argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (std::getenv("BENCH_SAVE_KEEP")) {
    std::system(("find " + g_root + " -type f -exec ls -l {} +").c_str());
  }
  g_reports.clear();
  std::error_code ec;
  std::filesystem::remove_all(g_root, ec);
  return 0;
}

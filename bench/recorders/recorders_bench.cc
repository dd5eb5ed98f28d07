// What a recording costs the host, and how fast the report's worker applies
// recordings, beside floors measured in the same run:
//   A  an atomic add;
//   B  a std::map<uint32_t, int32_t> increment under a mutex;
//   C  a naive hand-off: new task, push to a std::deque under a mutex, notify;
//      one worker pops, applies to a map, deletes;
//   spdlog's asynchronous logger, null sink, one integer argument.
// Caller cost: time per call on the recording threads (1 and 2 of them).
// End-to-end: time per recording until the worker has applied them all.
#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/initialize.h"
#include "pcf/component.h"
#include "pcf/pcf_file_impl.h"
#include "report/report_manager.h"
#include "statrelay/statrelay.h"

namespace {

constexpr uint32_t kKey = 0x05000100;  // a counter key
constexpr int kBatch = 50000;        // recordings per end-to-end round

// ---- the report under test: real exports, real report file and worker,
// a body that applies a recording the way floor B does (a map update).
std::atomic<uint64_t> g_applied{0};

class MapBody : public Bodybase {
 public:
  int Serialize(uint8_t*, uint32_t* length) override {
    *length = 0;
    return 0;
  }
  int ReportWW(uint32_t key, int32_t number) override {
    counters_[key] += number;
    g_applied.fetch_add(1, std::memory_order_release);
    return 1;
  }
  int ReportWS(uint32_t key, const SrString& text) override {
    last_[key] = text;
    g_applied.fetch_add(1, std::memory_order_release);
    return 1;
  }

 private:
  std::map<uint32_t, int32_t> counters_;
  std::map<uint32_t, SrString> last_;
};

class NoHeader : public Headerbase {
 public:
  int Serialize(uint8_t*, uint32_t* length) override {
    *length = 0;
    return 0;
  }
};

Filebase* MakeBenchFile(int) { return new CPCFFileImpl(new NoHeader, new MapBody, nullptr); }

std::atomic<uint64_t> g_posted{0};

void WaitApplied(uint64_t target) {
  while (g_applied.load(std::memory_order_acquire) < target) std::this_thread::yield();
}

void StartReport() {
  CReportManager::SetFileFactoryForTest(&MakeBenchFile);
  CPCFParam param(SRT("1.0.0.1"), SRT("bench"), SRT("http://bench"));
  Start(0, &param);
}

const SRCHAR kText16[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f', 0};

// ---- caller cost ----------------------------------------------------------

std::atomic<int64_t> g_atomic{0};

void A_AtomicAdd(benchmark::State& state) {
  for (auto _ : state) g_atomic.fetch_add(1, std::memory_order_relaxed);
}

std::mutex g_map_mu;
std::map<uint32_t, int32_t> g_map;

void B_MapUnderMutex(benchmark::State& state) {
  for (auto _ : state) {
    std::lock_guard<std::mutex> lock(g_map_mu);
    g_map[kKey + (state.thread_index() & 1)] += 1;
  }
}

// Floor C: the hand-off everyone writes first.
struct NaiveTask {
  uint32_t key;
  int32_t value;
};

class NaiveWorker {
 public:
  NaiveWorker() : thread_([this] { Loop(); }) {}
  ~NaiveWorker() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  void Post(uint32_t key, int32_t value) {
    auto* task = new NaiveTask{key, value};
    {
      std::lock_guard<std::mutex> lock(mu_);
      queue_.push_back(task);
    }
    cv_.notify_one();
  }
  uint64_t Applied() const { return applied_.load(std::memory_order_acquire); }

 private:
  void Loop() {
    for (;;) {
      NaiveTask* task;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        task = queue_.front();
        queue_.pop_front();
      }
      map_[task->key] += task->value;
      delete task;
      applied_.fetch_add(1, std::memory_order_release);
    }
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<NaiveTask*> queue_;
  bool stop_ = false;
  std::map<uint32_t, int32_t> map_;
  std::atomic<uint64_t> applied_{0};
  std::thread thread_;
};

NaiveWorker* g_naive = nullptr;
std::atomic<uint64_t> g_naive_posted{0};

void C_NaiveHandoff(benchmark::State& state) {
  for (auto _ : state) g_naive->Post(kKey, 1);
  g_naive_posted.fetch_add(state.iterations());
  if (state.thread_index() == 0) {
    // Let the worker catch up outside the timed part.
    while (g_naive->Applied() < g_naive_posted.load()) std::this_thread::yield();
  }
}

// spdlog: a sink that only counts, so that the end of the work can be seen.
std::atomic<uint64_t> g_logged{0};
class CountingSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
 protected:
  void sink_it_(const spdlog::details::log_msg&) override { g_logged.fetch_add(1, std::memory_order_release); }
  void flush_() override {}
};
std::shared_ptr<spdlog::async_logger> g_spdlog;
std::atomic<uint64_t> g_spdlog_posted{0};

void Spdlog_Async(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) g_spdlog->info("{}", ++i);
  g_spdlog_posted.fetch_add(state.iterations());
  if (state.thread_index() == 0) {
    while (g_logged.load(std::memory_order_acquire) < g_spdlog_posted.load()) std::this_thread::yield();
  }
}

template <class Call>
void Recorder(benchmark::State& state, Call call) {
  for (auto _ : state) call();
  g_posted.fetch_add(state.iterations());
  if (state.thread_index() == 0) WaitApplied(g_posted.load());
}

void SR_W_Caller(benchmark::State& state) {
  Recorder(state, [] { SR_W(kKey, 0); });
}
void SR_WW_Caller(benchmark::State& state) {
  Recorder(state, [] { SR_WW(kKey, 3, 0); });
}
void SR_WS_Caller(benchmark::State& state) {
  Recorder(state, [] { SR_WS(0x04000100, kText16, 0); });
}

// ---- end to end -------------------------------------------------------------

// Runs kBatch recordings spread over `threads` threads, then waits until
// `done()` reaches the target. Manual time: the whole round.
template <class Post, class Done>
void EndToEnd(benchmark::State& state, Post post, Done done) {
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    uint64_t target = done() + kBatch;
    auto begin = std::chrono::steady_clock::now();
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t) {
      producers.emplace_back([&] {
        for (int i = 0; i < kBatch / threads; ++i) post(i);
      });
    }
    for (auto& p : producers) p.join();
    while (done() < target) std::this_thread::yield();
    auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void E2E_SR_W(benchmark::State& state) {
  EndToEnd(state, [](int) { SR_W(kKey, 0); }, [] { return g_applied.load(std::memory_order_acquire); });
}
void E2E_Naive(benchmark::State& state) {
  EndToEnd(state, [](int) { g_naive->Post(kKey, 1); }, [] { return g_naive->Applied(); });
}
void E2E_Spdlog(benchmark::State& state) {
  EndToEnd(state, [](int i) { g_spdlog->info("{}", i); }, [] { return g_logged.load(std::memory_order_acquire); });
}

// Figures per benchmark name: ns per call (caller) or per recording (end to
// end), the median of the repetitions.
struct Figures : benchmark::ConsoleReporter {
  std::map<std::string, std::vector<double>> runs_ns;
  std::map<std::string, double> ns;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      std::string name = run.benchmark_name();
      double seconds = run.real_accumulated_time;
      double count = static_cast<double>(run.iterations);
      auto items = run.counters.find("items_per_second");
      if (items != run.counters.end()) count *= kBatch;  // end to end: per recording
      std::vector<double>& all = runs_ns[name];
      all.push_back(seconds * 1e9 / count);
      std::vector<double> sorted = all;
      std::sort(sorted.begin(), sorted.end());
      ns[name] = sorted[sorted.size() / 2];
    }
  }
};

void PrintRatio(Figures& f, const char* label, const std::string& ours, const std::string& floor, double target) {
  auto a = f.ns.find(ours);
  auto b = f.ns.find(floor);
  if (a == f.ns.end() || b == f.ns.end()) return;
  double ratio = a->second / b->second;
  std::printf("  %-44s %8.1f ns / %8.1f ns = %6.2fx   (target <= %.2fx) %s\n", label, a->second, b->second, ratio,
              target, ratio <= target ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  bench::InitializeWithRepetitions(argc, argv);
  StartReport();
  g_naive = new NaiveWorker;
  spdlog::init_thread_pool(8192, 1);
  g_spdlog = std::make_shared<spdlog::async_logger>("bench", std::make_shared<CountingSink>(), spdlog::thread_pool(),
                                                    spdlog::async_overflow_policy::block);

  constexpr int kCalls = 2000000;
  for (int threads : {1, 2}) {
    benchmark::RegisterBenchmark("A_AtomicAdd", A_AtomicAdd)->Threads(threads)->Iterations(kCalls)->UseRealTime();
    benchmark::RegisterBenchmark("B_MapUnderMutex", B_MapUnderMutex)->Threads(threads)->Iterations(kCalls)->UseRealTime();
    benchmark::RegisterBenchmark("C_NaiveHandoff", C_NaiveHandoff)->Threads(threads)->Iterations(kCalls)->UseRealTime();
    benchmark::RegisterBenchmark("Spdlog_Async", Spdlog_Async)->Threads(threads)->Iterations(kCalls)->UseRealTime();
    benchmark::RegisterBenchmark("SR_W", SR_W_Caller)->Threads(threads)->Iterations(kCalls)->UseRealTime();
    benchmark::RegisterBenchmark("SR_WW", SR_WW_Caller)->Threads(threads)->Iterations(kCalls)->UseRealTime();
    benchmark::RegisterBenchmark("SR_WS16", SR_WS_Caller)->Threads(threads)->Iterations(kCalls)->UseRealTime();
  }
  for (auto* b : {benchmark::RegisterBenchmark("E2E_SR_W", E2E_SR_W),
                  benchmark::RegisterBenchmark("E2E_C_Naive", E2E_Naive),
                  benchmark::RegisterBenchmark("E2E_Spdlog", E2E_Spdlog)}) {
    b->Arg(1)->Arg(2)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
  }

  Figures figures;
  benchmark::RunSpecifiedBenchmarks(&figures);

  std::printf("\nRatios (same run, medians):\n");
  for (int t : {1, 2}) {
    std::string s = "/iterations:" + std::to_string(kCalls) + "/real_time/threads:" + std::to_string(t);
    std::string tn = std::to_string(t) + " thread" + (t > 1 ? "s" : "");
    PrintRatio(figures, ("SR_W caller / B, " + tn).c_str(), "SR_W" + s, "B_MapUnderMutex" + s, t == 1 ? 4.0 : 2.0);
    PrintRatio(figures, ("SR_WW caller / B, " + tn).c_str(), "SR_WW" + s, "B_MapUnderMutex" + s, 1e9);
    PrintRatio(figures, ("SR_WS16 caller / B, " + tn).c_str(), "SR_WS16" + s, "B_MapUnderMutex" + s, 1e9);
    PrintRatio(figures, ("SR_W caller / A, " + tn).c_str(), "SR_W" + s, "A_AtomicAdd" + s, 1e9);
    PrintRatio(figures, ("C naive caller / B, " + tn).c_str(), "C_NaiveHandoff" + s, "B_MapUnderMutex" + s, 1e9);
    PrintRatio(figures, ("spdlog caller / B, " + tn).c_str(), "Spdlog_Async" + s, "B_MapUnderMutex" + s, 1e9);
    std::string e = "/" + std::to_string(t) + "/iterations:10/manual_time";
    PrintRatio(figures, ("end-to-end SR_W / C naive, " + tn).c_str(), "E2E_SR_W" + e, "E2E_C_Naive" + e, 0.5);
    PrintRatio(figures, ("end-to-end SR_W / spdlog, " + tn).c_str(), "E2E_SR_W" + e, "E2E_Spdlog" + e, 0.5);
  }

  Stop();
  g_spdlog.reset();
  spdlog::shutdown();
  delete g_naive;
  benchmark::Shutdown();
  return 0;
}

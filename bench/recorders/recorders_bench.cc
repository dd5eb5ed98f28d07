// What a recording costs the host, how fast the report's worker applies
// recordings, and what a burst of recordings makes the process hold, beside
// floors measured in the same run:
//   A  an atomic add;
//   B  a std::map<uint32_t, int32_t> increment under a mutex;
//   Q  a push of an 8-byte record onto a bounded multi-producer ring that
//      another thread drains: no allocation, one atomic add per push (the
//      queue a recording is made of);
//   C  a naive hand-off: new task, push to a std::deque under a mutex, notify;
//      one worker pops, applies to a map, deletes;
//   spdlog's asynchronous logger, null sink, one integer argument (where the
//      library is installed).
//
// Caller cost: the recording threads start together on a barrier; only the
// window in which all of them are recording is timed, and the program prints
// how much of the threads' whole run that window covers (overlap) and how
// evenly the calls split between them (balance). Time per call is the window
// divided by the calls each thread made in it. Google Benchmark's thread
// runner is not used here: it times each thread from its own start, so on two
// cores the threads of a two-thread run barely overlap.
//
// End to end: time per recording until the worker has applied a batch.
// Burst: two threads post 10M SR_W each at full speed; the program prints how
// far the resident memory rose above the idle process while the worker caught
// up.
//
// Every case runs in several rounds, the cases of a round in a shuffled
// order; the figures are the medians. Options: --rounds=N, --window-ms=N,
// --no-burst.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(SR_BENCH_HAVE_SPDLOG)
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>
#endif

#include "common/bench_report.h"
#include "common/process_memory.h"
#include "report/report_manager.h"
#include "statrelay/statrelay.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kCounterKey = 0x05000100;
constexpr uint32_t kValueKey = 0x02000100;
constexpr uint32_t kListKey = 0x04000100;
constexpr int kBatch = 50000;  // recordings per end-to-end run

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// ---- the report under test: real exports, real report file and worker,
// a body that applies a recording the way floor B does (a map update).
// g_applied counts recordings applied: a counter key's increment counts its
// number (1 for SR_W), anything else 1.
std::atomic<uint64_t> g_applied{0};
std::atomic<uint64_t> g_expected{0};

class MapBody : public bench::SilentBody {
 public:
  int ReportWW(uint32_t key, int32_t number) override {
    counters_[key] += number;
    g_applied.fetch_add((key >> 24) == 0x05 ? static_cast<uint32_t>(number) : 1, std::memory_order_release);
    return 1;
  }
  // Counter keys combine their increments, as the report body's do.
  bool CombinesNumbers(uint32_t key) const override { return (key >> 24) == 0x05; }
  int ReportWS(uint32_t key, const SrString& text) override {
    last_[key] = text;
    g_applied.fetch_add(1, std::memory_order_release);
    return 1;
  }

 private:
  std::map<uint32_t, int32_t> counters_;
  std::map<uint32_t, SrString> last_;
};

void StartReport() {
  CReportManager::SetFileFactoryForTest(&bench::MakeFileWith<MapBody>);
  CPCFParam param(SRT("1.0.0.1"), SRT("bench"), SRT("http://bench"));
  Start(0, &param);
}

void WaitApplied() {
  const uint64_t target = g_expected.load();
  while (g_applied.load(std::memory_order_acquire) < target) std::this_thread::yield();
}

// ---- floors -------------------------------------------------------------------

std::atomic<int64_t> g_atomic{0};

std::mutex g_map_mu;
std::map<uint32_t, int32_t> g_map;

// Floor Q: a bounded ring of small records (D. Vyukov's bounded queue, one
// consumer). A push is one atomic add on the tail, a store of the record and
// a release store of the cell's sequence; the drainer applies records until
// it is told to stop. A full ring makes the producer wait.
class RecordRing {
 public:
  RecordRing() : cells_(new Cell[kSize]) {
    for (uint64_t i = 0; i < kSize; ++i) cells_[i].seq.store(i, std::memory_order_relaxed);
    drainer_ = std::thread([this] { Drain(); });
  }
  ~RecordRing() {
    stop_.store(true, std::memory_order_release);
    drainer_.join();
  }
  void Push(uint32_t key, int32_t value) {
    const uint64_t pos = tail_.fetch_add(1, std::memory_order_relaxed);
    Cell& cell = cells_[pos & (kSize - 1)];
    while (cell.seq.load(std::memory_order_acquire) != pos) Pause();
    cell.key = key;
    cell.value = value;
    cell.seq.store(pos + 1, std::memory_order_release);
  }
  uint64_t Drained() const { return drained_.load(std::memory_order_acquire); }
  void WaitDrained(uint64_t target) const {
    while (Drained() < target) std::this_thread::yield();
  }

 private:
  static constexpr uint64_t kSize = uint64_t{1} << 16;
  struct alignas(16) Cell {
    std::atomic<uint64_t> seq;
    uint32_t key;
    int32_t value;
  };
  void Drain() {
    uint64_t head = 0;
    int idle = 0;
    while (true) {
      Cell& cell = cells_[head & (kSize - 1)];
      if (cell.seq.load(std::memory_order_acquire) == head + 1) {
        sum_ += cell.value;
        cell.seq.store(head + kSize, std::memory_order_release);
        drained_.store(++head, std::memory_order_release);
        idle = 0;
        continue;
      }
      if (stop_.load(std::memory_order_acquire)) return;
      if (++idle < 64) {
        Pause();
      } else {
        std::this_thread::yield();
      }
    }
  }
  std::unique_ptr<Cell[]> cells_;
  alignas(64) std::atomic<uint64_t> tail_{0};
  alignas(64) std::atomic<uint64_t> drained_{0};
  std::atomic<bool> stop_{false};
  int64_t sum_ = 0;
  std::thread drainer_;
};

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

#if defined(SR_BENCH_HAVE_SPDLOG)
// spdlog: a sink that only counts, so that the end of the work can be seen.
std::atomic<uint64_t> g_logged{0};
class CountingSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
 protected:
  void sink_it_(const spdlog::details::log_msg&) override {
    g_logged.fetch_add(1, std::memory_order_release);
  }
  void flush_() override {}
};
std::shared_ptr<spdlog::async_logger> g_spdlog;
std::atomic<uint64_t> g_spdlog_posted{0};
#endif

// ---- the caller harness ----------------------------------------------------------

struct CallerRun {
  double ns_per_call = 0;
  double overlap = 0;  // timed window / span from the first start to the last end
  double balance = 0;  // fewest calls of a thread in the window / most
  uint64_t calls = 0;  // all calls made, in and out of the window
};

int g_window_ms = 100;

// Runs `call(thread)` on `threads` threads released together from a barrier.
// The window opens once every thread has made calls and closes before any is
// told to stop.
CallerRun MeasureCallers(int threads, const std::function<void(int)>& body) {
  constexpr uint64_t kChunk = 256;
  struct alignas(64) Seat {
    std::atomic<uint64_t> calls{0};
    Clock::time_point start, end;
  };
  std::vector<Seat> seats(threads);
  std::atomic<int> arrived{0};
  std::atomic<bool> go{false};
  std::atomic<bool> stop{false};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      Seat& seat = seats[t];
      arrived.fetch_add(1);
      while (!go.load(std::memory_order_acquire)) Pause();
      seat.start = Clock::now();
      uint64_t made = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        for (uint64_t i = 0; i < kChunk; ++i) body(t);
        made += kChunk;
        seat.calls.store(made, std::memory_order_relaxed);
      }
      seat.end = Clock::now();
    });
  }
  while (arrived.load() < threads) std::this_thread::yield();
  go.store(true, std::memory_order_release);
  for (Seat& seat : seats) {
    while (seat.calls.load(std::memory_order_relaxed) == 0) std::this_thread::yield();
  }
  std::vector<uint64_t> before(threads);
  const Clock::time_point open = Clock::now();
  for (int t = 0; t < threads; ++t) before[t] = seats[t].calls.load(std::memory_order_relaxed);
  std::this_thread::sleep_for(std::chrono::milliseconds(g_window_ms));
  uint64_t in_window = 0, fewest = UINT64_MAX, most = 0;
  for (int t = 0; t < threads; ++t) {
    const uint64_t n = seats[t].calls.load(std::memory_order_relaxed) - before[t];
    in_window += n;
    fewest = std::min(fewest, n);
    most = std::max(most, n);
  }
  const Clock::time_point close = Clock::now();
  stop.store(true);
  for (auto& p : pool) p.join();

  CallerRun run;
  Clock::time_point first = seats[0].start, last = seats[0].end;
  for (Seat& seat : seats) {
    first = std::min(first, seat.start);
    last = std::max(last, seat.end);
    run.calls += seat.calls.load();
  }
  const double window = Seconds(close - open);
  run.ns_per_call = in_window == 0 ? 0 : window * 1e9 * threads / static_cast<double>(in_window);
  run.overlap = window / Seconds(last - first);
  run.balance = most == 0 ? 0 : static_cast<double>(fewest) / static_cast<double>(most);
  return run;
}

struct CallerCase {
  std::string name;
  int threads;
  std::function<void(int)> call;
  // After the run, outside the window: lets the consumer catch up with `calls`.
  std::function<void(uint64_t calls)> settle;
  // Per round, around the run (the ring floor's drainer lives only then).
  std::function<void()> before, after;
  std::vector<CallerRun> runs;
};

RecordRing* g_ring = nullptr;

std::vector<CallerCase> CallerCases() {
  std::vector<CallerCase> cases;
  auto settle_report = [](uint64_t calls) {
    g_expected.fetch_add(calls);
    WaitApplied();
  };
  for (int t : {1, 2}) {
    cases.push_back({"A atomic add",
                     t,
                     [](int) { g_atomic.fetch_add(1, std::memory_order_relaxed); },
                     nullptr,
                     nullptr,
                     nullptr,
                     {}});
    cases.push_back({"B mutex map",
                     t,
                     [](int thread) {
                       std::lock_guard<std::mutex> lock(g_map_mu);
                       g_map[kCounterKey + (thread & 1)] += 1;
                     },
                     nullptr,
                     nullptr,
                     nullptr,
                     {}});
    cases.push_back({"Q queue push",
                     t,
                     [](int) { g_ring->Push(kCounterKey, 1); },
                     [](uint64_t calls) { g_ring->WaitDrained(calls); },
                     [] { g_ring = new RecordRing; },
                     [] {
                       delete g_ring;
                       g_ring = nullptr;
                     },
                     {}});
    cases.push_back({"C naive hand-off",
                     t,
                     [](int) { g_naive->Post(kCounterKey, 1); },
                     [](uint64_t calls) {
                       const uint64_t target = g_naive_posted.fetch_add(calls) + calls;
                       while (g_naive->Applied() < target) std::this_thread::yield();
                     },
                     nullptr,
                     nullptr,
                     {}});
#if defined(SR_BENCH_HAVE_SPDLOG)
    cases.push_back({"spdlog async",
                     t,
                     [](int) { g_spdlog->info("{}", 7); },
                     [](uint64_t calls) {
                       const uint64_t target = g_spdlog_posted.fetch_add(calls) + calls;
                       while (g_logged.load(std::memory_order_acquire) < target) std::this_thread::yield();
                     },
                     nullptr,
                     nullptr,
                     {}});
#endif
    cases.push_back(
        {"SR_W counter", t, [](int) { SR_W(kCounterKey, 0); }, settle_report, nullptr, nullptr, {}});
    cases.push_back(
        {"SR_WW value", t, [](int) { SR_WW(kValueKey, 3, 0); }, settle_report, nullptr, nullptr, {}});
    cases.push_back({"SR_WS16 list",
                     t,
                     [](int) { SR_WS(kListKey, bench::kText16, 0); },
                     settle_report,
                     nullptr,
                     nullptr,
                     {}});
  }
  return cases;
}

// ---- end to end -----------------------------------------------------------------------

struct EndToEndCase {
  std::string name;
  int threads;
  // Posts recording i; the whole batch is done when done() reaches the target.
  std::function<void(int)> post;
  std::function<uint64_t()> done;
  std::function<void()> before, after;
  std::vector<double> ns;
};

double RunEndToEnd(EndToEndCase& c) {
  const uint64_t target = c.done() + kBatch;
  const Clock::time_point begin = Clock::now();
  std::vector<std::thread> producers;
  for (int t = 0; t < c.threads; ++t) {
    producers.emplace_back([&] {
      for (int i = 0; i < kBatch / c.threads; ++i) c.post(i);
    });
  }
  for (auto& p : producers) p.join();
  while (c.done() < target) std::this_thread::yield();
  return Seconds(Clock::now() - begin) * 1e9 / kBatch;
}

std::vector<EndToEndCase> EndToEndCases() {
  std::vector<EndToEndCase> cases;
  for (int t : {1, 2}) {
    // The posted counts of the consumers are brought up to date after each
    // batch, not per recording.
    cases.push_back({"SR_W counter",
                     t,
                     [](int) { SR_W(kCounterKey, 0); },
                     [] { return g_applied.load(std::memory_order_acquire); },
                     nullptr,
                     [] { g_expected.fetch_add(kBatch); },
                     {}});
    cases.push_back({"Q queue push",
                     t,
                     [](int) { g_ring->Push(kCounterKey, 1); },
                     [] { return g_ring->Drained(); },
                     [] { g_ring = new RecordRing; },
                     [] {
                       delete g_ring;
                       g_ring = nullptr;
                     },
                     {}});
    cases.push_back({"C naive hand-off",
                     t,
                     [](int) { g_naive->Post(kCounterKey, 1); },
                     [] { return g_naive->Applied(); },
                     nullptr,
                     [] { g_naive_posted.fetch_add(kBatch); },
                     {}});
#if defined(SR_BENCH_HAVE_SPDLOG)
    cases.push_back({"spdlog async",
                     t,
                     [](int i) { g_spdlog->info("{}", i); },
                     [] { return g_logged.load(std::memory_order_acquire); },
                     nullptr,
                     [] { g_spdlog_posted.fetch_add(kBatch); },
                     {}});
#endif
  }
  return cases;
}

// ---- burst -----------------------------------------------------------------------------

struct BurstFigures {
  double idle_mb = 0;
  double peak_mb = 0;
  double seconds = 0;
};

// Two threads post `per_thread` SR_W each to one counter key as fast as they
// can; a sampler reads the resident memory every 2 ms until the worker has
// applied them all.
BurstFigures Burst(uint64_t per_thread) {
  BurstFigures f;
  const uint64_t idle = bench::ResidentBytes();
  std::atomic<uint64_t> peak{idle};
  std::atomic<bool> done{false};
  std::thread sampler([&] {
    while (!done.load()) {
      const uint64_t now = bench::ResidentBytes();
      if (now > peak.load()) peak.store(now);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const Clock::time_point begin = Clock::now();
  std::vector<std::thread> posters;
  for (int t = 0; t < 2; ++t) {
    posters.emplace_back([&] {
      for (uint64_t i = 0; i < per_thread; ++i) SR_W(kCounterKey, 0);
    });
  }
  for (auto& p : posters) p.join();
  g_expected.fetch_add(2 * per_thread);
  WaitApplied();
  f.seconds = Seconds(Clock::now() - begin);
  done.store(true);
  sampler.join();
  f.idle_mb = static_cast<double>(idle) / (1 << 20);
  f.peak_mb = static_cast<double>(peak.load()) / (1 << 20);
  return f;
}

// ---- printing ------------------------------------------------------------------------------

std::map<std::string, double> g_ns;  // "name/threads" -> median ns

std::string Key(const std::string& name, int threads) { return name + "/" + std::to_string(threads); }

void Target(const char* label, const std::string& ours, const std::string& floor, double target) {
  auto a = g_ns.find(ours);
  auto b = g_ns.find(floor);
  if (a == g_ns.end() || b == g_ns.end() || b->second <= 0) return;
  const double ratio = a->second / b->second;
  if (target > 0) {
    std::printf("  %-40s %8.1f ns / %8.1f ns = %6.2fx  (target <= %.2fx) %s\n", label, a->second, b->second,
                ratio, target, ratio <= target ? "met" : "NOT MET");
  } else {
    std::printf("  %-40s %8.1f ns / %8.1f ns = %6.2fx\n", label, a->second, b->second, ratio);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  bool burst = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rounds=", 9) == 0) rounds = std::max(1, std::atoi(argv[i] + 9));
    if (std::strncmp(argv[i], "--window-ms=", 12) == 0) g_window_ms = std::max(10, std::atoi(argv[i] + 12));
    if (std::strcmp(argv[i], "--no-burst") == 0) burst = false;
  }
  StartReport();
  // Warm the path: the report, its worker, the task memory.
  for (int i = 0; i < 100000; ++i) SR_W(kCounterKey, 0);
  g_expected.fetch_add(100000);
  WaitApplied();

  // The burst first, while the process is otherwise idle: the floors below
  // leave memory behind that would hide the growth.
  if (burst) {
    const BurstFigures b = Burst(10000000);
    std::printf("Burst: 2 threads x 10M SR_W to one counter key, %.2f s until applied\n", b.seconds);
    std::printf("  resident memory: idle %.1f MB, peak %.1f MB, growth %.1f MB  (target <= 32 MB) %s\n\n",
                b.idle_mb, b.peak_mb, b.peak_mb - b.idle_mb, b.peak_mb - b.idle_mb <= 32 ? "met" : "NOT MET");
    std::fflush(stdout);
  }

  g_naive = new NaiveWorker;
#if defined(SR_BENCH_HAVE_SPDLOG)
  spdlog::init_thread_pool(8192, 1);
  g_spdlog = std::make_shared<spdlog::async_logger>(
      "bench", std::make_shared<CountingSink>(), spdlog::thread_pool(), spdlog::async_overflow_policy::block);
#endif

  std::vector<CallerCase> callers = CallerCases();
  std::vector<EndToEndCase> e2e = EndToEndCases();
  std::mt19937 shuffle(12345);
  for (int round = 0; round < rounds; ++round) {
    std::vector<size_t> order(callers.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), shuffle);
    for (size_t i : order) {
      CallerCase& c = callers[i];
      if (c.before) c.before();
      CallerRun run = MeasureCallers(c.threads, c.call);
      if (c.settle) c.settle(run.calls);
      if (c.after) c.after();
      c.runs.push_back(run);
    }
    std::vector<size_t> e2e_order(e2e.size());
    for (size_t i = 0; i < e2e_order.size(); ++i) e2e_order[i] = i;
    std::shuffle(e2e_order.begin(), e2e_order.end(), shuffle);
    for (size_t i : e2e_order) {
      EndToEndCase& c = e2e[i];
      if (c.before) c.before();
      c.ns.push_back(RunEndToEnd(c));
      if (c.after) c.after();
    }
  }

  std::printf(
      "Caller cost, ns per call (median of %d rounds of %d ms; overlap = timed window / whole run of\n"
      "the threads; balance = fewest calls of a thread in the window / most):\n",
      rounds, g_window_ms);
  for (CallerCase& c : callers) {
    std::vector<double> ns, overlap, balance;
    for (const CallerRun& r : c.runs) {
      ns.push_back(r.ns_per_call);
      overlap.push_back(r.overlap);
      balance.push_back(r.balance);
    }
    g_ns[Key(c.name, c.threads)] = Median(ns);
    std::printf("  %-18s %d thread%s %9.1f ns   overlap %5.1f%%   balance %5.1f%%\n", c.name.c_str(),
                c.threads, c.threads > 1 ? "s" : " ", Median(ns), 100 * Median(overlap),
                100 * Median(balance));
  }
  std::printf("\nEnd to end, ns per recording until applied (batches of %d, median of %d):\n", kBatch,
              rounds);
  for (EndToEndCase& c : e2e) {
    g_ns[Key("E2E " + c.name, c.threads)] = Median(c.ns);
    std::printf("  %-18s %d thread%s %9.1f ns\n", c.name.c_str(), c.threads, c.threads > 1 ? "s" : " ",
                Median(c.ns));
  }

  std::printf("\nRatios (same run, medians):\n");
  Target("SR_W caller / B mutex map, 1 thread", Key("SR_W counter", 1), Key("B mutex map", 1), 4.0);
  Target("SR_W caller / Q queue push, 1 thread", Key("SR_W counter", 1), Key("Q queue push", 1), 3.0);
  Target("SR_W caller / B mutex map, 2 threads", Key("SR_W counter", 2), Key("B mutex map", 2), 1.0);
  Target("SR_W caller / Q queue push, 2 threads", Key("SR_W counter", 2), Key("Q queue push", 2), 0);
  for (int t : {1, 2}) {
    const std::string tn = std::to_string(t) + (t > 1 ? " threads" : " thread");
    Target(("SR_WW value caller / Q, " + tn).c_str(), Key("SR_WW value", t), Key("Q queue push", t), 0);
    Target(("SR_WS16 caller / Q, " + tn).c_str(), Key("SR_WS16 list", t), Key("Q queue push", t), 0);
    Target(("C naive caller / Q, " + tn).c_str(), Key("C naive hand-off", t), Key("Q queue push", t), 0);
    Target(("spdlog caller / Q, " + tn).c_str(), Key("spdlog async", t), Key("Q queue push", t), 0);
    Target(("end-to-end SR_W / C naive, " + tn).c_str(), Key("E2E SR_W counter", t),
           Key("E2E C naive hand-off", t), 0.5);
    Target(("end-to-end SR_W / spdlog, " + tn).c_str(), Key("E2E SR_W counter", t),
           Key("E2E spdlog async", t), 0.5);
    Target(("end-to-end SR_W / Q, " + tn).c_str(), Key("E2E SR_W counter", t), Key("E2E Q queue push", t), 0);
  }

  Stop();
#if defined(SR_BENCH_HAVE_SPDLOG)
  g_spdlog.reset();
  spdlog::shutdown();
#endif
  delete g_naive;
  return 0;
}

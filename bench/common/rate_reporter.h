// A console reporter that keeps each benchmark's throughput and time, so that
// a program can print its ratios at the end.
#ifndef STATRELAY_BENCH_COMMON_RATE_REPORTER_H_
#define STATRELAY_BENCH_COMMON_RATE_REPORTER_H_

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

class RateReporter : public benchmark::ConsoleReporter {
 public:
  // Keeps, per benchmark, the time and counters of its median run when
  // repetitions were asked for, else of its single run.
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || (run.run_type == Run::RT_Iteration && !has_median_)) {
        std::string name = run.run_name.function_name;
        if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
        times_[name] = run.GetAdjustedRealTime();
        for (const auto& [counter, value] : run.counters) counters_[name][counter] = value.value;
      }
      has_median_ = has_median_ || median;
    }
  }

 protected:
  // Bytes per second of `name` ("function" or "function/args"); 0 when unknown.
  double Rate(const std::string& name) { return Counter(name, "bytes_per_second"); }
  // Real time per iteration of `name`, in the benchmark's unit; 0 when unknown.
  double Time(const std::string& name) {
    auto it = times_.find(name);
    return it == times_.end() ? 0 : it->second;
  }
  double Counter(const std::string& name, const std::string& counter) {
    auto it = counters_.find(name);
    if (it == counters_.end()) return 0;
    auto value = it->second.find(counter);
    return value == it->second.end() ? 0 : value->second;
  }

 private:
  std::map<std::string, std::map<std::string, double>> counters_;
  std::map<std::string, double> times_;
  bool has_median_ = false;
};

}  // namespace bench

#endif  // STATRELAY_BENCH_COMMON_RATE_REPORTER_H_

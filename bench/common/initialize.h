// Start-up shared by the benchmark programs.
#ifndef STATRELAY_BENCH_COMMON_INITIALIZE_H_
#define STATRELAY_BENCH_COMMON_INITIALIZE_H_

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace bench {

// benchmark::Initialize, with repetitions by default: the machines these run
// on change speed from one second to the next, so unless the command line
// says otherwise every benchmark runs 5 times, the runs of all of them
// shuffled together, and the programs print ratios of the medians.
inline void InitializeWithRepetitions(int argc, char** argv) {
  static std::string repetitions = "--benchmark_repetitions=5";
  static std::string interleave = "--benchmark_enable_random_interleaving=true";
  static std::vector<char*> args;
  args.assign(argv, argv + argc);
  bool told = false;
  for (int i = 1; i < argc; ++i) told = told || std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
  if (!told) {
    args.push_back(repetitions.data());
    args.push_back(interleave.data());
  }
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
}

}  // namespace bench

#endif  // STATRELAY_BENCH_COMMON_INITIALIZE_H_

// The memory the process holds in RAM now (resident set / working set), for
// the benchmarks that print how much a burst makes the process grow.
#ifndef STATRELAY_BENCH_COMMON_PROCESS_MEMORY_H_
#define STATRELAY_BENCH_COMMON_PROCESS_MEMORY_H_

#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <unistd.h>
#endif

namespace bench {

// Bytes; 0 when the system does not tell.
inline uint64_t ResidentBytes() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return counters.WorkingSetSize;
#else
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long long size = 0, resident = 0;
  const int got = std::fscanf(f, "%llu %llu", &size, &resident);
  std::fclose(f);
  if (got != 2) return 0;
  return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
#endif
}

}  // namespace bench

#endif  // STATRELAY_BENCH_COMMON_PROCESS_MEMORY_H_

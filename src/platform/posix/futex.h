// Sleeping on a 32-bit word until another thread of the process wakes it
// (Linux futexes, private to the process).
#ifndef STATRELAY_PLATFORM_POSIX_FUTEX_H_
#define STATRELAY_PLATFORM_POSIX_FUTEX_H_

#include <atomic>
#include <cstdint>

namespace platform::posix {

// Sleeps while *word == expected, at most timeout_ms (< 0: no limit). May
// return early (a wake, a signal, a changed word); the caller looks again.
void FutexWait(std::atomic<uint32_t>* word, uint32_t expected, int64_t timeout_ms);
// Wakes one thread sleeping on word.
void FutexWakeOne(std::atomic<uint32_t>* word);

}  // namespace platform::posix

#endif  // STATRELAY_PLATFORM_POSIX_FUTEX_H_

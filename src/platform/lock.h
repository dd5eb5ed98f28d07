// A process-local lock: a critical section with a spin count on Windows, a
// mutex elsewhere.
#ifndef STATRELAY_PLATFORM_LOCK_H_
#define STATRELAY_PLATFORM_LOCK_H_

#include <cstdint>

namespace platform {

// Not copyable. Thread-safe once Init has returned true; Enter/Leave on a lock
// whose Init failed (or never ran) are the caller's mistake.
class CriticalSection {
 public:
  CriticalSection() = default;
  ~CriticalSection();  // releases the section when Init succeeded
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // Windows: InitializeCriticalSectionAndSpinCount. Returns whether it worked.
  bool Init(uint32_t spin_count);
  void Enter();
  void Leave();

 private:
  void* impl_ = nullptr;  // CRITICAL_SECTION / pthread_mutex_t, owned
};

}  // namespace platform

#endif  // STATRELAY_PLATFORM_LOCK_H_

// Named mutex service: a lock shared by every process of the computer, found
// by its name.
//
// Windows: a kernel mutex (CreateMutexW with the open security attributes, so
// that other users and integrity levels can open it). Linux: the lock file
// <system root>/locks/<N'>.lock, where N' is the name with every character
// outside A-Za-z0-9._{}- replaced by '_' ("Global\Mutex_X" ->
// "Global_Mutex_X.lock"); the mutex is held while some process holds an
// exclusive flock on that file (docs/named-mutexes.md states the rule for
// other components).
//
// A holder never takes the same name twice: a try fails while anyone holds the
// mutex, this process and this thread included (on Windows too, where a kernel
// mutex would let its owning thread in again).
#ifndef STATRELAY_PLATFORM_NAMED_MUTEX_H_
#define STATRELAY_PLATFORM_NAMED_MUTEX_H_

#include <cstdint>

#include "platform/text.h"

namespace platform {

// One hold of a named mutex. Move-only; releases on destruction.
// REQUIRES (Windows): Unlock and destruction on the thread that took it, as a
// kernel mutex belongs to a thread.
class NamedMutex {
 public:
  NamedMutex() = default;
  ~NamedMutex();
  NamedMutex(NamedMutex&& other) noexcept;
  NamedMutex& operator=(NamedMutex&& other) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Takes the mutex when nobody holds it. False when it is held (by anyone)
  // or cannot be made; an empty name is refused. Releases a previous hold
  // of this object first.
  bool TryLock(SrStringView name);
  // Takes the mutex, waiting up to timeout_ms for its holder to let go.
  // False when the time ran out or the mutex cannot be made. A mutex whose
  // holder died without releasing it is free (Windows: abandoned; Linux: the
  // lock went with the process).
  bool Lock(SrStringView name, uint32_t timeout_ms);
  // Releases the hold; nothing when not holding.
  void Unlock();
  bool IsLocked() const { return handle_ != kNone; }

 private:
  static constexpr intptr_t kNone = -1;
  bool Take(SrStringView name, uint32_t timeout_ms);

  intptr_t handle_ = kNone;  // HANDLE on Windows, lock file descriptor on Linux
  SrString name_;
};

#if defined(STATRELAY_TEST_HOOKS)
// Test hook: called on the locking thread whenever Lock finds the mutex held
// and is about to wait for it (null removes the hook).
using NamedMutexWaitHook = void (*)(SrStringView name);
void SetNamedMutexWaitHookForTest(NamedMutexWaitHook hook);
#endif

// True when the named mutex exists: Windows, when OpenMutexW opens it (a
// mutex that exists but is refused to the caller counts as absent); Linux,
// when some process, this one included, holds its lock file.
bool NamedMutexExists(SrStringView name);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_NAMED_MUTEX_H_

// The process's machine identifier: computed at most once per process in the
// normal case, then handed out from a cache that is never freed.
#ifndef STATRELAY_GUID_MACHINE_ID_H_
#define STATRELAY_GUID_MACHINE_ID_H_

#include <atomic>

namespace guid {

namespace internal {
// The cached identifier: null until a computation publishes its text.
extern std::atomic<const char*> g_machine_id;
// GetMachineId when nothing is cached yet.
const char* GetMachineIdSlow();
}  // namespace internal

// The identifier used when a computation fails. Never cached or stored.
inline constexpr char kFallbackMachineId[] = "30000000000000000000000000000001";

// The machine identifier as a NUL-terminated narrow text that stays valid for
// the life of the process; never null. Any thread may call it; there is no
// lock. The first call computes it (reading the hardware and the shared
// identity store). A caller that finds a computation under way waits for its
// result up to 10 times 55 ms, then computes as well. When a computation
// fails the call returns kFallbackMachineId and nothing is cached, so a later
// call (after the same wait) computes again. Once cached, one atomic load.
inline const char* GetMachineId() {
  const char* id = internal::g_machine_id.load(std::memory_order_acquire);
  return id != nullptr ? id : internal::GetMachineIdSlow();
}

#if defined(STATRELAY_TEST_HOOKS)
// Test builds: while set, every computation fails as a fault inside it would.
void SetMachineIdFailureForTest(bool fail);
#endif

}  // namespace guid

#endif  // STATRELAY_GUID_MACHINE_ID_H_

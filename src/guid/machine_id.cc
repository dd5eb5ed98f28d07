#include "guid/machine_id.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "guid/machine_identity.h"

namespace guid {
namespace internal {
// Published by one atomic exchange once its text is complete; readers see
// null or a whole text.
std::atomic<const char*> g_machine_id{nullptr};
}  // namespace internal

namespace {

using internal::g_machine_id;
// Set by the first caller that begins a computation; never set back.
std::atomic<int32_t> g_started{0};

// Identifier texts replaced by a later publication (two computations that
// overlapped). They stay allocated, as callers may hold them; the list only
// keeps them reachable.
struct Superseded {
  const char* text;
  Superseded* next;
};
std::atomic<Superseded*> g_superseded{nullptr};

constexpr int kWaitRounds = 10;
constexpr auto kWaitPause = std::chrono::milliseconds(55);

#if defined(STATRELAY_TEST_HOOKS)
std::atomic<bool> g_fail_for_test{false};
#endif

const char* Publish(const std::string& id) {
  char* text = new char[id.size() + 1];
  std::memcpy(text, id.c_str(), id.size() + 1);
  const char* old = g_machine_id.exchange(text, std::memory_order_acq_rel);
  if (old != nullptr) {
    auto* node = new (std::nothrow) Superseded{old, g_superseded.load(std::memory_order_relaxed)};
    while (node != nullptr && !g_superseded.compare_exchange_weak(node->next, node, std::memory_order_release,
                                                                  std::memory_order_relaxed)) {
    }
  }
  return text;
}

}  // namespace

#if defined(STATRELAY_TEST_HOOKS)
void SetMachineIdFailureForTest(bool fail) { g_fail_for_test.store(fail); }
#endif

const char* internal::GetMachineIdSlow() {
  const char* id = g_machine_id.load(std::memory_order_acquire);
  if (id != nullptr) return id;
  try {
    if (g_started.exchange(1, std::memory_order_acq_rel) == 1) {
      // A computation has begun elsewhere, or an earlier one failed.
      for (int round = 0; round < kWaitRounds && g_machine_id.load(std::memory_order_acquire) == nullptr;
           ++round) {
        std::this_thread::sleep_for(kWaitPause);
      }
    }
    id = g_machine_id.load(std::memory_order_acquire);
    if (id != nullptr) return id;
    std::string computed;
    {
      MachineIdentity identity;
#if defined(STATRELAY_TEST_HOOKS)
      if (g_fail_for_test.load()) throw std::runtime_error("machine identifier: failure for test");
#endif
      computed = ComputeMachineId(&identity);
    }
    return Publish(computed);
  } catch (...) {
    return kFallbackMachineId;
  }
}

}  // namespace guid

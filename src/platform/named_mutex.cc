// The parts of the named mutex that are the same on every system; the
// backends supply Take, Unlock and NamedMutexExists.
#include "platform/named_mutex.h"

#include <atomic>
#include <utility>

namespace platform {

NamedMutex::~NamedMutex() { Unlock(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : handle_(other.handle_), name_(std::move(other.name_)) {
  other.handle_ = kNone;
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Unlock();
    handle_ = other.handle_;
    name_ = std::move(other.name_);
    other.handle_ = kNone;
  }
  return *this;
}

bool NamedMutex::TryLock(SrStringView name) { return Take(name, 0); }

#if defined(STATRELAY_TEST_HOOKS)
namespace {
std::atomic<NamedMutexWaitHook> g_wait_hook{nullptr};
}  // namespace

void SetNamedMutexWaitHookForTest(NamedMutexWaitHook hook) { g_wait_hook.store(hook); }

bool NamedMutex::Lock(SrStringView name, uint32_t timeout_ms) {
  if (NamedMutexWaitHook hook = g_wait_hook.load()) {
    if (Take(name, 0)) return true;
    hook(name);
  }
  return Take(name, timeout_ms);
}
#else
bool NamedMutex::Lock(SrStringView name, uint32_t timeout_ms) { return Take(name, timeout_ms); }
#endif

}  // namespace platform

#include "platform/process.h"

#include <atomic>

namespace platform {

namespace internal {
std::atomic<bool> g_descriptor_list_fallback{false};
}  // namespace internal

#if defined(STATRELAY_TEST_HOOKS)
namespace {

std::atomic<ProcessStartObserver> g_observer{nullptr};

}  // namespace

void SetDescriptorListFallbackForTest(bool on) { internal::g_descriptor_list_fallback.store(on); }

void SetProcessStartObserverForTest(ProcessStartObserver observer) { g_observer.store(observer); }

bool StartHiddenProcess(SrStringView executable, SrStringView argument) {
  bool started = internal::StartHiddenProcessImpl(executable, argument);
  if (ProcessStartObserver observer = g_observer.load()) observer(executable, argument, started);
  return started;
}
#else
bool StartHiddenProcess(SrStringView executable, SrStringView argument) {
  return internal::StartHiddenProcessImpl(executable, argument);
}
#endif

}  // namespace platform

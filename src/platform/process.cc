#include "platform/process.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<ProcessStartObserver> g_observer{nullptr};

}  // namespace

namespace internal {
std::atomic<bool> g_descriptor_list_fallback{false};
}  // namespace internal

void SetDescriptorListFallbackForTest(bool on) { internal::g_descriptor_list_fallback.store(on); }

void SetProcessStartObserverForTest(ProcessStartObserver observer) { g_observer.store(observer); }

bool StartHiddenProcess(SrStringView executable, SrStringView argument) {
  bool started = internal::StartHiddenProcessImpl(executable, argument);
  if (ProcessStartObserver observer = g_observer.load()) observer(executable, argument, started);
  return started;
}

}  // namespace platform

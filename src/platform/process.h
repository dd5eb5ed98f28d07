// Process service: starting another program of the product in the background,
// hidden, without keeping anything of it.
#ifndef STATRELAY_PLATFORM_PROCESS_H_
#define STATRELAY_PLATFORM_PROCESS_H_

#include <atomic>

#include "platform/text.h"

namespace platform {

// Starts `executable` (a full path) with the one argument `argument`, hidden
// and detached; keeps no handle and never waits for it. Thread-safe.
//
// Windows: CreateProcessW with no application name and the command line
// "\"<executable>\" <argument>", no handle inheritance, no creation flags, the
// host's environment and current folder, a start-up record that only asks for
// SW_HIDE; both returned handles are closed at once.
//
// Linux: the file is executed directly (no shell) with argv
// {executable, argument}, the host's environment and current folder, in a
// session of its own, standard input, output and error on /dev/null, the
// signal mask and every signal disposition at their defaults, and no
// descriptor of the host inherited. An intermediate child starts it and exits
// at once, and is reaped here, so the program never becomes a child of the
// host (a host that is a child subreaper inherits it and must reap it). The
// children are made without running the host's fork handlers. A missing
// executable, or one that is not an executable regular file, starts nothing.
//
// True when the program was started (Linux: when it passed the checks and the
// intermediate child was made; a failing exec is not seen). Nothing is logged.
bool StartHiddenProcess(SrStringView executable, SrStringView argument);

#if defined(STATRELAY_TEST_HOOKS)
// Test hook: called after every StartHiddenProcess with its arguments and
// result, on the calling thread. Null removes it.
using ProcessStartObserver = void (*)(SrStringView executable, SrStringView argument, bool started);
void SetProcessStartObserverForTest(ProcessStartObserver observer);
// Test hook, Linux: close inherited descriptors from the /proc/self/fd list,
// as on a kernel without close_range. Windows: no effect.
void SetDescriptorListFallbackForTest(bool on);
#endif

namespace internal {
extern std::atomic<bool> g_descriptor_list_fallback;
// The backend's start, without the observer.
bool StartHiddenProcessImpl(SrStringView executable, SrStringView argument);
}  // namespace internal

}  // namespace platform

#endif  // STATRELAY_PLATFORM_PROCESS_H_

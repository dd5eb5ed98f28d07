#include "platform/posix/inherited_descriptors.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace platform::posix {
namespace {

// Far more than the library ever holds at once (a report file per report, a
// lock file per guard, a short-lived one per rename or delete). A descriptor
// that finds no free slot is not tracked: a child would then keep that one
// lock alive, as it did before there was tracking.
constexpr int kSlots = 256;
constexpr int kFree = 0;  // a slot holds fd + 1

// Plain data with no destructor: usable until the process ends.
std::atomic<int> g_slots[kSlots];

// In the child, right after fork: the only thread there is. Closing the
// child's copies leaves the parent's locks alone (the parent still holds the
// description); flock(LOCK_UN) would release them for the parent too.
void CloseInChild() {
  for (std::atomic<int>& slot : g_slots) {
    const int held = slot.exchange(kFree, std::memory_order_relaxed);
    if (held != kFree) close(held - 1);
  }
}

// Held shared from open to track, exclusively across fork (writers first, so
// that a stream of opens cannot hold off a fork).
pthread_rwlock_t g_opening = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;

void PrepareFork() { pthread_rwlock_wrlock(&g_opening); }
void AfterForkInParent() { pthread_rwlock_unlock(&g_opening); }
void AfterForkInChild() {
  CloseInChild();
  // The lock knows its writer by thread id, which the child's thread does
  // not share: the child starts with a lock of its own.
  pthread_rwlockattr_t attributes;
  pthread_rwlockattr_init(&attributes);
  pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  pthread_rwlock_init(&g_opening, &attributes);
  pthread_rwlockattr_destroy(&attributes);
}

void EnsureRegistered() {
  static const bool registered = pthread_atfork(&PrepareFork, &AfterForkInParent, &AfterForkInChild) == 0;
  (void)registered;
}

}  // namespace

OpeningScope::OpeningScope() {
  EnsureRegistered();
  pthread_rwlock_rdlock(&g_opening);
}

OpeningScope::~OpeningScope() { pthread_rwlock_unlock(&g_opening); }

void TrackLockDescriptor(int fd) {
  EnsureRegistered();
  for (std::atomic<int>& slot : g_slots) {
    int expected = kFree;
    if (slot.compare_exchange_strong(expected, fd + 1, std::memory_order_relaxed)) return;
  }
}

void UntrackLockDescriptor(int fd) {
  EnsureRegistered();
  for (std::atomic<int>& slot : g_slots) {
    int expected = fd + 1;
    if (slot.compare_exchange_strong(expected, kFree, std::memory_order_relaxed)) return;
  }
}

}  // namespace platform::posix

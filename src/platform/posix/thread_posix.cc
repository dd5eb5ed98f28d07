#include <errno.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <atomic>
#include <mutex>

#include "platform/thread.h"

namespace platform {
namespace {

// Shared by the handle and the running thread: the thread may outlive its
// handle (a closed handle detaches it).
struct ThreadState {
  Thread::Entry entry = nullptr;
  void* arg = nullptr;
  pthread_t id{};
  std::mutex mu;
  std::condition_variable cv;
  bool ended = false;  // guarded by mu
  // The handle and the thread each hold one reference. (Counted by hand:
  // std::shared_ptr would put the standard library's type information into
  // the library's export table.)
  std::atomic<int> refs{2};

  void Release() {
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
};

void* ThreadMain(void* p) {
  auto* state = static_cast<ThreadState*>(p);
  state->entry(state->arg);
  {
    std::lock_guard<std::mutex> lock(state->mu);
    state->ended = true;
    state->cv.notify_all();
  }
  state->Release();
  return nullptr;
}

bool WaitFlag(std::mutex& mu, std::condition_variable& cv, const bool& flag, uint32_t ms) {
  std::unique_lock<std::mutex> lock(mu);
  if (ms == kWaitForever) {
    cv.wait(lock, [&] { return flag; });
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return flag; });
}

thread_local uint32_t t_last_error = 0;

}  // namespace

Thread::~Thread() { Close(); }

bool Thread::Start(Entry entry, void* arg) {
  Close();
  auto* state = new ThreadState;
  state->entry = entry;
  state->arg = arg;
  if (pthread_create(&state->id, nullptr, &ThreadMain, state) != 0) {
    delete state;
    return false;
  }
  impl_ = state;
  return true;
}

bool Thread::Wait(uint32_t ms) {
  if (impl_ == nullptr) return false;
  ThreadState& s = *static_cast<ThreadState*>(impl_);
  return WaitFlag(s.mu, s.cv, s.ended, ms);
}

void Thread::Close() {
  if (impl_ == nullptr) return;
  auto* state = static_cast<ThreadState*>(impl_);
  bool ended;
  {
    std::lock_guard<std::mutex> lock(state->mu);
    ended = state->ended;
  }
  // An ended thread is reaped at once; a running one is left to end alone.
  if (ended) {
    pthread_join(state->id, nullptr);
  } else {
    pthread_detach(state->id);
  }
  state->Release();
  impl_ = nullptr;
}

namespace {
struct EventState {
  std::mutex mu;
  std::condition_variable cv;
  bool set = false;
};
}  // namespace

Event::Event() { impl_ = new EventState; }
Event::~Event() { delete static_cast<EventState*>(impl_); }

void Event::Set() {
  auto* e = static_cast<EventState*>(impl_);
  // Notify under the lock: a waiter that sees the flag may destroy the event
  // at once, so nothing of it may be touched after the lock is released.
  std::lock_guard<std::mutex> lock(e->mu);
  e->set = true;
  e->cv.notify_all();
}

void Event::Reset() {
  auto* e = static_cast<EventState*>(impl_);
  std::lock_guard<std::mutex> lock(e->mu);
  e->set = false;
}

bool Event::Wait(uint32_t ms) {
  auto* e = static_cast<EventState*>(impl_);
  return WaitFlag(e->mu, e->cv, e->set, ms);
}

uint32_t LastErrorCode() { return t_last_error; }
uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
void SetLastErrorCode(uint32_t code) { t_last_error = code; }

void KeepModuleLoaded() {}

void RunInChildAfterFork(void (*handler)()) { pthread_atfork(nullptr, nullptr, handler); }

void ComInitialize() {}
void ComUninitialize() {}

namespace {
void RunThreadExit(void* object) { static_cast<ThreadExitObject*>(object)->OnThreadExit(); }
}  // namespace

ThreadExitSlot::ThreadExitSlot() {
  pthread_key_t key;
  valid_ = pthread_key_create(&key, &RunThreadExit) == 0;
  if (valid_) index_ = static_cast<uintptr_t>(key);
  KeepModuleLoaded();
}

ThreadExitObject* ThreadExitSlot::Get() const {
  if (!valid_) return nullptr;
  return static_cast<ThreadExitObject*>(pthread_getspecific(static_cast<pthread_key_t>(index_)));
}

bool ThreadExitSlot::Set(ThreadExitObject* object) {
  return valid_ && pthread_setspecific(static_cast<pthread_key_t>(index_), object) == 0;
}

}  // namespace platform

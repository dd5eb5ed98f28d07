// The worker's queue where no window messages exist.
//
// Posted items go through a LoopItemQueue (lock-free, see
// platform/loop_item_queue.h). The worker announces that it is about to sleep in `state`; a poster makes a
// system call (a futex wake) only when it finds the worker asleep, so posting
// to a busy worker costs no system call. Sent items, timers and the quit
// message are rare and use small mutexes the posting path never touches.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "platform/loop_item_queue.h"
#include "platform/message_loop.h"
#include "platform/posix/futex.h"
#include "platform/send_list.h"
#include "platform/thread.h"

namespace platform {

namespace {

constexpr int64_t kNoTimer = std::numeric_limits<int64_t>::max();
// Timer periods are clamped like the system's window timers.
constexpr uint32_t kMinTimerPeriodMs = 10;
// Rounds of polling an empty queue before sleeping: a worker that keeps pace
// with its posters would otherwise sleep and be woken (two system calls) for
// almost every item. Few of them: while the worker spins on a core that a
// poster needs, the poster waits, and a sleeping worker is woken once per
// batch of posts, not per post.
constexpr int kSpinRounds = 4;
constexpr int kYieldRounds = 1;
// Pauses between two looks at an empty queue: each look pulls the line the
// next poster is about to write, so a worker that looks without pause makes
// every post pay for a cache miss.
constexpr int kPausesPerLook = 64;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Timer {
  uintptr_t id;
  uint32_t period_ms;
  int64_t due_ms;
};

}  // namespace

struct MessageWindowImpl {
  using Handler = MessageWindow::Handler;

  LoopItemQueue posted;
  LoopItem quit_item;  // the quit message; queued at most once at a time
  std::atomic<bool> quit_queued{false};

  // 1 while the worker sleeps or is about to; cleared by the first poster
  // that finds it set, which then wakes the worker.
  alignas(64) std::atomic<uint32_t> state{0};
  std::atomic<bool> open{false};  // the window exists
  std::atomic<int64_t> next_due{kNoTimer};

  Handler* handler = nullptr;  // set by Create, before open

  SendList sends;
  std::mutex mu;  // guards timers
  std::vector<Timer> timers;

  void Wake() {
    if (state.load(std::memory_order_seq_cst) != 0 && state.exchange(0, std::memory_order_seq_cst) != 0) {
      posix::FutexWakeOne(&state);
    }
  }

  void RecomputeNextDue() {  // REQUIRES: mu held
    int64_t due = kNoTimer;
    for (const Timer& t : timers) due = std::min(due, t.due_ms);
    next_due.store(due, std::memory_order_seq_cst);
  }

  // Worker: the id of a timer that is due, rescheduled one period from now;
  // 0 when none is.
  bool TakeDueTimer(int64_t now, uintptr_t* id) {
    std::lock_guard<std::mutex> lock(mu);
    Timer* best = nullptr;
    for (Timer& t : timers) {
      if (t.due_ms <= now && (best == nullptr || t.due_ms < best->due_ms)) best = &t;
    }
    if (best == nullptr) return false;
    *id = best->id;
    best->due_ms = now + best->period_ms;
    RecomputeNextDue();
    return true;
  }

  enum class Next { kItem, kTimer, kQuit };

  // Worker: waits for the next message, running sent items meanwhile.
  Next GetNext(LoopItem** item, uintptr_t* timer_id) {
    int idle_rounds = 0;
    for (;;) {
      if (sends.Waiting()) sends.RunAll(handler);
      bool busy = false;
      LoopItem* got = posted.Pop(&busy);
      if (got == &quit_item) {
        quit_queued.store(false, std::memory_order_release);
        return Next::kQuit;
      }
      if (got != nullptr) {
        *item = got;
        return Next::kItem;
      }
      if (busy) {
        CpuRelax();
        continue;
      }
      int64_t now = NowMs();
      if (now >= next_due.load(std::memory_order_seq_cst) && TakeDueTimer(now, timer_id)) {
        return Next::kTimer;
      }
      if (idle_rounds < kSpinRounds) {
        ++idle_rounds;
        for (int i = 0; i < kPausesPerLook; ++i) CpuRelax();
        continue;
      }
      if (idle_rounds < kSpinRounds + kYieldRounds) {
        ++idle_rounds;
        sched_yield();
        continue;
      }
      idle_rounds = 0;
      // Announce the sleep, then look once more: a poster either sees the
      // announcement (and wakes us) or we see its item.
      state.store(1, std::memory_order_seq_cst);
      if (!posted.LooksEmpty() || sends.Waiting()) {
        state.store(0, std::memory_order_relaxed);
        continue;
      }
      int64_t due = next_due.load(std::memory_order_seq_cst);
      int64_t timeout = -1;
      if (due != kNoTimer) {
        timeout = due - NowMs();
        if (timeout <= 0) {
          state.store(0, std::memory_order_relaxed);
          continue;
        }
      }
      posix::FutexWait(&state, 1, timeout);
      state.store(0, std::memory_order_relaxed);
    }
  }

  // Deletes every queued item but the quit message, unrun.
  void DrainPosted() {
    if (posted.DeleteAll(&quit_item)) quit_queued.store(false, std::memory_order_release);
  }
};

namespace {

thread_local MessageWindowImpl* t_current = nullptr;

MessageWindowImpl* Impl(void* p) { return static_cast<MessageWindowImpl*>(p); }

}  // namespace

MessageWindow::MessageWindow() : impl_(new MessageWindowImpl) {}

#if defined(STATRELAY_TEST_HOOKS)
bool MessageWindow::SendWaitingForTest() { return t_current != nullptr && t_current->sends.Waiting(); }
#endif

MessageWindow::~MessageWindow() {
  MessageWindowImpl* impl = Impl(impl_);
  impl->DrainPosted();
  impl->sends.Close();
  delete impl;
}

bool MessageWindow::Create(Handler* handler) {
  MessageWindowImpl* impl = Impl(impl_);
  impl->handler = handler;
  t_current = impl;
  impl->sends.Open();
  impl->open.store(true, std::memory_order_release);
  return true;
}

void MessageWindow::Loop(const std::atomic<uint8_t>& quit) {
  MessageWindowImpl* impl = Impl(impl_);
  while (quit.load(std::memory_order_acquire) == 0) {
    LoopItem* item = nullptr;
    uintptr_t timer_id = 0;
    MessageWindowImpl::Next next = impl->GetNext(&item, &timer_id);
    if (next == MessageWindowImpl::Next::kQuit) break;
    if (next == MessageWindowImpl::Next::kItem) {
      impl->handler->HandleTask(item);
    } else {
      impl->handler->HandleTimer(timer_id);
    }
  }
}

void MessageWindow::Destroy() {
  MessageWindowImpl* impl = Impl(impl_);
  if (!impl->open.exchange(false, std::memory_order_acq_rel)) return;
  t_current = nullptr;
  {
    std::lock_guard<std::mutex> lock(impl->mu);
    impl->timers.clear();
    impl->RecomputeNextDue();
  }
  impl->sends.Close();
  impl->DrainPosted();
}

bool MessageWindow::Exists() const { return Impl(impl_)->open.load(std::memory_order_acquire); }

bool MessageWindow::Post(LoopItem* item) {
  MessageWindowImpl* impl = Impl(impl_);
  if (!impl->open.load(std::memory_order_acquire)) {
    SetLastErrorCode(kErrorInvalidWindowHandle);
    return false;
  }
  impl->posted.Push(item);
  impl->Wake();
  return true;
}

bool MessageWindow::Send(LoopItem* item, uint32_t timeout_ms, uint32_t* error) {
  MessageWindowImpl* impl = Impl(impl_);
  if (!impl->open.load(std::memory_order_acquire)) {
    *error = kErrorInvalidWindowHandle;
    return false;
  }
  if (t_current == impl) {  // the worker sends to itself: run it now
    impl->handler->HandleTask(item);
    *error = 0;
    return true;
  }
  SendRecord* rec = impl->sends.Add(item);
  if (rec == nullptr) {  // the loop has ended
    *error = kErrorInvalidWindowHandle;
    return false;
  }
  impl->Wake();
  switch (impl->sends.Finish(rec, timeout_ms)) {
    case SendList::State::kDone: *error = 0; return true;
    case SendList::State::kFailed:  // the loop ended first: the item is the caller's again
      *error = kErrorInvalidWindowHandle;
      return false;
    case SendList::State::kPending:  // it may still run; the worker then deletes it
      break;
  }
  *error = kErrorTimeout;
  return false;
}

bool MessageWindow::StartTimer(uintptr_t id, uint32_t period_ms) {
  MessageWindowImpl* impl = Impl(impl_);
  if (!impl->open.load(std::memory_order_acquire)) return false;
  period_ms = std::max(period_ms, kMinTimerPeriodMs);
  {
    std::lock_guard<std::mutex> lock(impl->mu);
    int64_t due = NowMs() + period_ms;
    auto it =
        std::find_if(impl->timers.begin(), impl->timers.end(), [&](const Timer& t) { return t.id == id; });
    if (it == impl->timers.end()) {
      impl->timers.push_back(Timer{id, period_ms, due});
    } else {
      it->period_ms = period_ms;
      it->due_ms = due;
    }
    impl->RecomputeNextDue();
  }
  impl->Wake();  // a sleeping worker recomputes its time-out
  return true;
}

void MessageWindow::StopTimer(uintptr_t id) {
  MessageWindowImpl* impl = Impl(impl_);
  std::lock_guard<std::mutex> lock(impl->mu);
  impl->timers.erase(
      std::remove_if(impl->timers.begin(), impl->timers.end(), [&](const Timer& t) { return t.id == id; }),
      impl->timers.end());
  impl->RecomputeNextDue();
}

void MessageWindow::PostQuit() {
  MessageWindowImpl* impl = Impl(impl_);
  if (!impl->open.load(std::memory_order_acquire)) return;
  if (impl->quit_queued.exchange(true, std::memory_order_acq_rel)) return;
  impl->posted.Push(&impl->quit_item);
  impl->Wake();
}

}  // namespace platform

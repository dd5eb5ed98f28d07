// The worker's message-only window.
//
// Work never travels in a message. Posted items wait in the library's own
// LoopItemQueue and sent items in a list of send records, both in this
// process's memory; the window receives only wake-ups: a WM_COMMAND whose
// first parameter is the loop's token (a random value per loop) and whose
// second tells a posted wake-up from a sent one. Any process on the desktop can
// post a WM_COMMAND to the window: one without the token goes to the class's
// own procedure, and no parameter of any message is ever read as a pointer.
//
// A post costs no system call while a wake-up is pending or the worker
// drains: the first poster that finds neither posts one; the worker clears
// "pending" only when a drain has emptied the queue. The worker drains after every message it takes and
// before a timer tick, so nothing waits for a wake-up the system refused (a thread holds at most 10,000
// posted messages; a flood that fills the queue also brings the messages that drain it), and the cap never
// drops an item.
//
// Order: a sent wake-up is delivered ahead of posted messages, and a drain
// runs waiting sent items before the next posted one; posted items run in the
// order they were pushed; a tick comes only after a drain found nothing
// posted; the drain stops as soon as quit is set.
#include <windows.h>

#include <atomic>

#include "platform/log_sink.h"
#include "platform/loop_item_queue.h"
#include "platform/message_loop.h"
#include "platform/new_guid.h"
#include "platform/send_list.h"
#include "platform/thread.h"

namespace platform {

namespace {

// Second parameter of a wake-up. Anything but kSentWake is taken as a posted
// wake-up; neither is read as anything else.
constexpr LPARAM kPostedWake = 0;
constexpr LPARAM kSentWake = 1;

#if defined(STATRELAY_TEST_HOOKS)
std::atomic<uint32_t> g_post_cap{0};
std::atomic<uint32_t> g_posts_refused{0};
#endif

// A value a process that cannot read this one's memory does not know.
WPARAM NewToken(const void* salt) {
  static std::atomic<uint32_t> sequence{0};
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  uint64_t x = static_cast<uint64_t>(counter.QuadPart) ^ reinterpret_cast<uintptr_t>(salt) ^
               (static_cast<uint64_t>(sequence.fetch_add(1, std::memory_order_relaxed)) << 40);
  GuidFields guid;
  if (NewGuid(&guid)) {
    uint64_t random = 0;
    for (uint8_t b : guid.data4) random = (random << 8) | b;
    x ^= random ^ (static_cast<uint64_t>(guid.data1) << 16);
  }
  // Mix every bit into the low ones (the 32-bit build keeps only those).
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  WPARAM token = static_cast<WPARAM>(x);
  return token == 0 ? 1 : token;
}

}  // namespace

struct MessageWindowImpl {
  LoopItemQueue posted;
  // A wake-up is on its way, or the worker is draining (or the post was
  // refused: then messages that drain the queue are waiting). Cleared by the
  // worker when a drain finds the queue empty.
  alignas(64) std::atomic<bool> wake_pending{false};

  std::atomic<HWND> window{nullptr};  // null before Create and after Destroy
  WNDPROC previous = nullptr;         // the class's own procedure
  MessageWindow::Handler* handler = nullptr;
  WPARAM token = 0;
  DWORD worker = 0;                            // the worker's thread id
  const std::atomic<uint8_t>* quit = nullptr;  // during Loop
  bool draining = false;                       // worker only

  SendList sends;
  // Sent wake-ups on their way to the window procedure: while there are any,
  // a drain lets the system deliver them between two items, so that a sender
  // whose item already ran is released at once.
  std::atomic<int> wakes_in_flight{0};
#if defined(STATRELAY_TEST_HOOKS)
  std::atomic<int> outstanding_posts{0};  // for the emulated cap
#endif

  bool Post(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
#if defined(STATRELAY_TEST_HOOKS)
    uint32_t cap = g_post_cap.load(std::memory_order_relaxed);
    if (cap != 0 && outstanding_posts.load(std::memory_order_relaxed) >= static_cast<int>(cap)) {
      g_posts_refused.fetch_add(1, std::memory_order_relaxed);
      SetLastError(ERROR_NOT_ENOUGH_QUOTA);
      return false;
    }
    if (PostMessageW(hwnd, message, wparam, lparam) == 0) return false;
    outstanding_posts.fetch_add(1, std::memory_order_relaxed);
    return true;
#else
    return PostMessageW(hwnd, message, wparam, lparam) != 0;
#endif
  }

  // Any thread, after a push.
  void Wake(HWND hwnd) {
    if (wake_pending.load(std::memory_order_seq_cst)) return;
    if (wake_pending.exchange(true, std::memory_order_seq_cst)) return;
    // When the system refuses the post, its queue is full: the worker drains
    // after each of those messages.
    Post(hwnd, WM_COMMAND, token, kPostedWake);
  }

  bool Quitting() const { return quit == nullptr || quit->load(std::memory_order_acquire) != 0; }

  // Worker: runs the posted items, sent ones first, until none waits or quit
  // is set. Before it returns to the message queue it clears wake_pending and
  // looks once more: a poster either sees the flag cleared (and posts a
  // wake-up) or its item is seen here.
  void Drain() {
    if (draining || Quitting()) return;
    draining = true;
    struct Reset {
      bool& flag;
      ~Reset() { flag = false; }
    } reset{draining};
    bool announced = false;
    int spins = 0;
    while (!Quitting()) {
      if (sends.Waiting()) sends.RunAll(handler);
      if (wakes_in_flight.load(std::memory_order_acquire) > 0) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      }
      bool busy = false;
      LoopItem* item = posted.Pop(&busy);
      if (item != nullptr) {
        spins = 0;
        handler->HandleTask(item);
        continue;
      }
      if (!busy) {
        if (announced) break;
        wake_pending.store(false, std::memory_order_seq_cst);
        announced = true;
        continue;
      }
      // A push is half done: its item is there in a moment.
      if (++spins < 64) {
        CpuRelax();
      } else {
        SwitchToThread();
      }
    }
  }

  // Worker: a sent wake-up.
  void OnSentWake() {
    wakes_in_flight.fetch_sub(1, std::memory_order_acq_rel);
    sends.RunAll(handler);
    // Posted items keep waiting for their own wake-up (the sender is released
    // when this returns); make sure one comes.
    HWND hwnd = window.load(std::memory_order_acquire);
    if (!draining && hwnd != nullptr && !posted.LooksEmpty()) Wake(hwnd);
  }
};

namespace {

LRESULT CALLBACK WorkerWndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  // No exception may unwind through the system's frames.
  try {
    auto* impl = reinterpret_cast<MessageWindowImpl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (impl == nullptr) return 0;
    if (message == WM_COMMAND && wparam == impl->token) {
      if (lparam == kSentWake) {
        impl->OnSentWake();
      } else {
        impl->Drain();
      }
      return 0;
    }
    if (message == WM_TIMER) {
      // A tick only when nothing posted waits.
      impl->Drain();
      if (!impl->Quitting() || impl->posted.LooksEmpty()) {
        impl->handler->HandleTimer(static_cast<uintptr_t>(wparam));
      }
      return 0;
    }
    return CallWindowProcW(impl->previous, hwnd, message, wparam, lparam);
  } catch (...) {
    LogDroppedWork("WorkerWndProc");
    return 0;
  }
}

MessageWindowImpl* Impl(void* p) { return static_cast<MessageWindowImpl*>(p); }

}  // namespace

MessageWindow::MessageWindow() : impl_(new MessageWindowImpl) {}

#if defined(STATRELAY_TEST_HOOKS)
bool MessageWindow::SendWaitingForTest() {
  return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
}

void MessageWindow::SetPostCapForTest(uint32_t cap) { g_post_cap.store(cap); }

uint32_t MessageWindow::PostsRefusedForTest() { return g_posts_refused.load(); }

bool MessageWindow::PostForeignCommandForTest(uintptr_t wparam, uintptr_t lparam) {
  MessageWindowImpl* impl = Impl(impl_);
  HWND hwnd = impl->window.load(std::memory_order_acquire);
  return hwnd != nullptr &&
         impl->Post(hwnd, WM_COMMAND, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
}
#endif

MessageWindow::~MessageWindow() {
  MessageWindowImpl* impl = Impl(impl_);
  impl->posted.DeleteAll();
  impl->sends.Close();
  delete impl;
}

bool MessageWindow::Create(Handler* handler) {
  MessageWindowImpl* impl = Impl(impl_);
  HMODULE module = GetModuleHandleW(nullptr);
  if (module == nullptr) return false;
  HWND hwnd =
      CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  if (hwnd == nullptr) return false;
  impl->handler = handler;
  impl->token = NewToken(impl);
  impl->worker = GetCurrentThreadId();
  impl->previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WorkerWndProc)));
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl));
  impl->sends.Open();
  impl->window.store(hwnd, std::memory_order_release);
  return true;
}

void MessageWindow::Loop(const std::atomic<uint8_t>& quit) {
  MessageWindowImpl* impl = Impl(impl_);
  impl->quit = &quit;
  MSG msg;
  while (quit.load(std::memory_order_acquire) == 0) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
#if defined(STATRELAY_TEST_HOOKS)
    if (msg.message == WM_COMMAND) impl->outstanding_posts.fetch_sub(1, std::memory_order_relaxed);
#endif
    DispatchMessageW(&msg);
    // Whatever the message was (a wake-up, a foreign one, one for the thread
    // rather than the window), what is queued runs now.
    impl->Drain();
  }
}

void MessageWindow::Destroy() {
  MessageWindowImpl* impl = Impl(impl_);
  HWND hwnd = impl->window.exchange(nullptr, std::memory_order_acq_rel);
  if (hwnd == nullptr) return;
  impl->sends.Close();  // pending senders fail with error 1400
  // Items still queued will never run. (The queued wake-ups carry nothing:
  // the system drops them with the window.)
  impl->posted.DeleteAll();
  DestroyWindow(hwnd);
  impl->quit = nullptr;
}

bool MessageWindow::Exists() const {
  HWND hwnd = Impl(impl_)->window.load(std::memory_order_acquire);
  return hwnd != nullptr && IsWindow(hwnd);
}

bool MessageWindow::Post(LoopItem* item) {
  MessageWindowImpl* impl = Impl(impl_);
  HWND hwnd = impl->window.load(std::memory_order_acquire);
  if (hwnd == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  impl->posted.Push(item);
  impl->Wake(hwnd);
  return true;
}

bool MessageWindow::Send(LoopItem* item, uint32_t timeout_ms, uint32_t* error) {
  MessageWindowImpl* impl = Impl(impl_);
  HWND hwnd = impl->window.load(std::memory_order_acquire);
  if (hwnd == nullptr) {
    *error = ERROR_INVALID_WINDOW_HANDLE;
    return false;
  }
  if (GetCurrentThreadId() == impl->worker) {  // the worker sends to itself: run it now
    impl->handler->HandleTask(item);
    *error = 0;
    return true;
  }
  impl->wakes_in_flight.fetch_add(1, std::memory_order_acq_rel);
  SendRecord* rec = impl->sends.Add(item);
  if (rec == nullptr) {  // the loop has ended
    impl->wakes_in_flight.fetch_sub(1, std::memory_order_acq_rel);
    *error = ERROR_INVALID_WINDOW_HANDLE;
    return false;
  }
  DWORD_PTR result = 0;
  SetLastError(0);
  DWORD e = 0;
  if (SendMessageTimeoutW(hwnd, WM_COMMAND, impl->token, kSentWake, SMTO_BLOCK, timeout_ms, &result) == 0) {
    e = GetLastError();
    // Not delivered at all: the window is gone.
    if (e == ERROR_INVALID_WINDOW_HANDLE) impl->wakes_in_flight.fetch_sub(1, std::memory_order_acq_rel);
  }
  switch (impl->sends.Finish(rec, 0)) {
    case SendList::State::kDone: *error = 0; return true;
    case SendList::State::kFailed:  // the loop ended first: the item is the caller's again
      *error = ERROR_INVALID_WINDOW_HANDLE;
      return false;
    case SendList::State::kPending:  // it may still run, and then deletes itself
      break;
  }
  // The item stays the loop's: never report the code that hands it back.
  *error = (e == 0 || e == ERROR_INVALID_WINDOW_HANDLE) ? ERROR_TIMEOUT : e;
  return false;
}

bool MessageWindow::StartTimer(uintptr_t id, uint32_t period_ms) {
  HWND hwnd = Impl(impl_)->window.load(std::memory_order_acquire);
  if (hwnd == nullptr) return false;
  return SetTimer(hwnd, id, period_ms, nullptr) != 0;
}

void MessageWindow::StopTimer(uintptr_t id) {
  HWND hwnd = Impl(impl_)->window.load(std::memory_order_acquire);
  if (hwnd != nullptr) KillTimer(hwnd, id);
}

void MessageWindow::PostQuit() {
  MessageWindowImpl* impl = Impl(impl_);
  HWND hwnd = impl->window.load(std::memory_order_acquire);
  // Refused only when the queue is full: the loop then sees quit set after
  // the next of those messages.
  if (hwnd != nullptr) impl->Post(hwnd, WM_QUIT, 0, 0);
}

}  // namespace platform

// The message window of a worker thread: a queue of work items and timers
// served by one thread.
//
// Order of work (the same on both systems):
//  1. items sent with Send run as soon as the worker next waits for work,
//     ahead of any posted item still waiting; a Send from the worker itself
//     runs the item at once, inside the call;
//  2. posted items run one at a time in the order they were posted, from
//     whatever thread;
//  3. a timer tick is produced only when no posted item waits, and at most one
//     per timer is pending: a busy period delays and merges ticks;
//  4. the quit message is queued behind the items posted before it.
//
// Posted items wait in the library's own lock-free queue (LoopItemQueue) on
// both systems: posting takes no lock and makes no system call unless the
// worker sleeps, and no system limit on queued messages applies.
// Windows: a message-only window of the system class "Static" whose procedure
// is replaced; it receives only wake-ups (a WM_COMMAND carrying the loop's
// random token, never an item), ticks as WM_TIMER and quit as WM_QUIT. Any
// other WM_COMMAND, from whatever process, runs nothing.
// POSIX: the worker sleeps on a futex.
#ifndef STATRELAY_PLATFORM_MESSAGE_LOOP_H_
#define STATRELAY_PLATFORM_MESSAGE_LOOP_H_

#include <atomic>
#include <cstdint>

namespace platform {

class MessageWindow;

// A work item that can travel through a MessageWindow. Items that will never
// run (left queued when the loop ended) are deleted through this base. The
// link is used only while the item is in a LoopItemQueue.
class LoopItem {
 public:
  LoopItem() = default;
  virtual ~LoopItem() = default;
  LoopItem(const LoopItem&) = delete;
  LoopItem& operator=(const LoopItem&) = delete;

 private:
  friend class MessageWindow;
  friend class LoopItemQueue;
  std::atomic<LoopItem*> loop_next_{nullptr};
};

class MessageWindow {
 public:
  // Called on the worker thread only.
  class Handler {
   public:
    // Runs the item and deletes it. Neither throws.
    virtual void HandleTask(LoopItem* item) = 0;
    virtual void HandleTimer(uintptr_t id) = 0;

   protected:
    ~Handler() = default;
  };

  MessageWindow();
  // REQUIRES: the worker has left Loop. Items still queued are deleted unrun.
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Worker thread: creates the window, bound to the calling thread and to
  // `handler`. False when it could not be made (Windows: no module handle of
  // the host executable, or CreateWindowExW failed).
  bool Create(Handler* handler);
  // Worker thread: fetches and dispatches work while `quit` is 0; ends when it
  // sees `quit` set after a dispatch, or when it takes the quit message.
  void Loop(const std::atomic<uint8_t>& quit);
  // Worker thread, after Loop: the window is gone. From now on Post and Send
  // fail with error 1400; items still queued are deleted unrun, and pending
  // sends fail.
  void Destroy();

#if defined(STATRELAY_TEST_HOOKS)
  // Test hook, worker thread: true while a Send from another thread waits
  // for this thread's loop to take it.
  static bool SendWaitingForTest();
#if defined(_WIN32)
  // Test hooks emulating what Wine lacks: the system's cap on the posted
  // messages waiting for one thread (10,000). While `cap` is not 0, a post the
  // loop makes fails as at the cap when `cap` posted messages (the loop's own
  // and PostForeignCommandForTest's) wait for its worker. 0 removes the cap.
  static void SetPostCapForTest(uint32_t cap);
  // Posts refused by the emulated cap so far, in every loop.
  static uint32_t PostsRefusedForTest();
  // Posts to the worker's window what any process on the desktop can post: a
  // WM_COMMAND with these parameters. False when there is no window or the
  // emulated cap refuses it.
  bool PostForeignCommandForTest(uintptr_t wparam, uintptr_t lparam);
#endif
#endif

  // Any thread.
  bool Exists() const;
  // Queues an item. False (last error 1400) when the window does not exist;
  // the item then stays the caller's.
  bool Post(LoopItem* item);
  // Runs the item on the worker and waits for it, at most `timeout_ms`.
  // True when it ran (*error = 0). On false, *error is 1400 when there is no
  // window (the item did not run and stays the caller's), or another code, for
  // example 1460 after the time limit (the item may still run later and then
  // deletes itself: the caller must leave it alone).
  bool Send(LoopItem* item, uint32_t timeout_ms, uint32_t* error);
  // Starts or replaces the periodic timer `id`. False when there is no window.
  bool StartTimer(uintptr_t id, uint32_t period_ms);
  void StopTimer(uintptr_t id);
  // Queues the quit message behind the items already posted.
  void PostQuit();

 private:
  void* impl_;  // backend state, owned
};

}  // namespace platform

#endif  // STATRELAY_PLATFORM_MESSAGE_LOOP_H_

// A worker thread with its own message window: runs posted and sent tasks one
// at a time and delivers timers (see platform/message_loop.h for the order).
#ifndef STATRELAY_TASK_TASK_MGR_H_
#define STATRELAY_TASK_TASK_MGR_H_

#include <atomic>
#include <cstdint>

#include "platform/message_loop.h"
#include "platform/thread.h"
#include "task/base_thread.h"
#include "task/task_base.h"

// Lifecycle: constructed (nothing runs) -> StartThread (worker with a window)
// -> StopThread (worker ended, window gone). A StartThread after the end
// starts a thread whose loop ends at once: a task manager is started once and
// stopped once. Any thread may post, send and start or stop timers; only the
// worker runs tasks and timer callbacks.
class CTaskMgr : public CBaseThread, private platform::MessageWindow::Handler {
 public:
  static constexpr uint32_t kStartWaitMs = 3000;
  static constexpr uint32_t kSendTimeoutMs = 6000000;

  CTaskMgr() = default;
  // StopThread, then the handles go.
  ~CTaskMgr() override;

  // Starts the worker; init_com: the worker initialises COM around its loop.
  // Returns 1 when a thread was started and its window was ready within
  // 3000 ms; 0 when a thread already runs (nothing changes), when no thread
  // could be started, or when the window was late (it still serves when it
  // comes).
  int StartThread(int init_com);
  // Asks the worker to end and waits for it without limit. The task in
  // progress and at most the next message taken still run; later tasks never
  // do. Returns 1, at once when no thread was ever started.
  // REQUIRES: not called on the worker itself.
  int StopThread() override;
  int Run() override;
  // Called on the worker for each tick of any timer of this manager.
  virtual int OnTimer(unsigned int id);

  // Takes ownership of the task in every case. Returns 1 when queued; 0 (the
  // task deleted unrun, last error 1400) when the window does not exist.
  int PostTask(CTaskBase* task);
  // Runs the task on the worker and waits, at most 6,000,000 ms; from the
  // worker itself it runs at once. Returns 0 (the worker's result for a task
  // message). The calling thread's last error tells the outcome: 0 when the
  // task ran, 1400 when the window does not exist (the task was deleted
  // unrun), another code when the time limit passed (the task may still run
  // later and then deletes itself).
  int SendTask(CTaskBase* task);
  // Starts or replaces the periodic timer `id` (any thread). Returns 1.
  int StartTimer(unsigned int id, unsigned int period_ms);
  // Stops timer `id`; id 0 does nothing.
  void StopTimer(unsigned int id);

  // Starts a new thread unless one runs. Returns 1 when a thread was started.
  int CreateWorkerThread();
  // Returns 1 when the thread has ended within `ms`.
  int WaitThread(uint32_t ms);

  // For tests: whether the worker's window exists.
  bool HasWindow() const { return window_.Exists(); }
#if defined(STATRELAY_TEST_HOOKS)
  // Test hook: StopThread has asked the worker to end.
  bool QuitRequestedForTest() const { return quit_.load(std::memory_order_acquire) != 0; }
  // Test hook: the worker's message window.
  platform::MessageWindow& WindowForTest() { return window_; }
#endif

 private:
  static void ThreadEntry(void* self);
  void HandleTask(platform::LoopItem* item) override;
  void HandleTimer(uintptr_t id) override;

  platform::MessageWindow window_;
  platform::Event ready_;  // signalled by the worker once its window exists
  int init_com_ = 0;       // written before the thread starts
  std::atomic<uint8_t> quit_{0};
};

#endif  // STATRELAY_TASK_TASK_MGR_H_

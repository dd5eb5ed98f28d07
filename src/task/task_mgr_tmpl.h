// A task manager whose tasks and timer call member functions of an owner.
#ifndef STATRELAY_TASK_TASK_MGR_TMPL_H_
#define STATRELAY_TASK_TASK_MGR_TMPL_H_

#include <cstdint>

#include "task/task_mgr.h"

template <class T>
class CTaskMgrTmpl : public CTaskMgr {
 public:
  // Timer callback: (timer id, reserved = 0) -> result nobody reads.
  using TimerCallback = int (T::*)(unsigned int id, int reserved);
  // Task function: two pointer-sized arguments, passed unchanged; memory they
  // point to is the function's to free.
  using TaskFunction = int (T::*)(uintptr_t first, uintptr_t second);

  // Runs owner->*function(first, second) on the worker.
  class CTaskParam2 : public CTaskBase {
   public:
    CTaskParam2(T* owner, TaskFunction function, uintptr_t first, uintptr_t second)
        : owner_(owner), function_(function), first_(first), second_(second) {}
    int Run() override { return (owner_->*function_)(first_, second_); }

   private:
    T* owner_;  // weak
    TaskFunction function_;
    uintptr_t first_;
    uintptr_t second_;
  };

  // Nothing is started. owner: weak, must outlive this manager's worker.
  explicit CTaskMgrTmpl(T* owner) : owner_(owner) {}

  // REQUIRES: called before the first timer is started. Returns 1.
  int SetTimerCallback(TimerCallback callback) {
    timer_callback_ = callback;
    return 1;
  }

  int OnTimer(unsigned int id) override {
    if (timer_callback_ == nullptr) return 0;
    return (owner_->*timer_callback_)(id, 0);
  }

  // PostTask of a new CTaskParam2. Returns 1 when queued, else 0 (nothing
  // ran; the arguments are still the caller's).
  int PostCall(TaskFunction function, uintptr_t first, uintptr_t second) {
    return PostTask(new CTaskParam2(owner_, function, first, second));
  }
  // SendTask of a new CTaskParam2; see SendTask for the result and last error.
  int SendCall(TaskFunction function, uintptr_t first, uintptr_t second) {
    return SendTask(new CTaskParam2(owner_, function, first, second));
  }

 private:
  T* owner_;  // weak
  TimerCallback timer_callback_ = nullptr;
};

#endif  // STATRELAY_TASK_TASK_MGR_TMPL_H_

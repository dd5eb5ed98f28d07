// A unit of work run on a worker thread.
#ifndef STATRELAY_TASK_TASK_BASE_H_
#define STATRELAY_TASK_TASK_BASE_H_

#include <cstddef>

#include "platform/message_loop.h"
#include "task/task_pool.h"

// The worker deletes a task (through this virtual destructor) after running
// it, and also when it will never run. A task owns what it carries.
class CTaskBase : public platform::LoopItem {
 public:
  ~CTaskBase() override = default;
  virtual int Run() = 0;

  // Tasks live in the task pool (see task_pool.h).
  static void* operator new(size_t size) { return task_pool::Allocate(size); }
  static void operator delete(void* p, size_t size) { task_pool::Free(p, size); }
};

#endif  // STATRELAY_TASK_TASK_BASE_H_

// A unit of work run on a worker thread.
#ifndef STATRELAY_TASK_TASK_BASE_H_
#define STATRELAY_TASK_TASK_BASE_H_

#include "platform/message_loop.h"

// The worker deletes a task (through this virtual destructor) after running
// it, and also when it will never run. A task owns what it carries.
class CTaskBase : public platform::LoopItem {
 public:
  ~CTaskBase() override = default;
  virtual int Run() = 0;
};

#endif  // STATRELAY_TASK_TASK_BASE_H_

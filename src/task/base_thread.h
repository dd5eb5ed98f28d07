// A thread owned by an object: the base of every worker.
#ifndef STATRELAY_TASK_BASE_THREAD_H_
#define STATRELAY_TASK_BASE_THREAD_H_

#include "platform/thread.h"

class CBaseThread {
 public:
  CBaseThread() = default;
  // Closes the thread handle; does not stop the thread (derived classes do).
  virtual ~CBaseThread() = default;
  CBaseThread(const CBaseThread&) = delete;
  CBaseThread& operator=(const CBaseThread&) = delete;

  // Ends the thread and waits for it. Returns 1.
  virtual int StopThread() = 0;
  // The thread body. Returns 0.
  virtual int Run() = 0;

 protected:
  platform::Thread thread_;  // no handle until the worker is started
};

#endif  // STATRELAY_TASK_BASE_THREAD_H_

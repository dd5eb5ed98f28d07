// The library's lock: a critical section with spin count 4000 (a recursive
// mutex on POSIX). When its initialisation failed, Lock and Unlock do nothing.
#ifndef STATRELAY_TASK_CS_WRAP_H_
#define STATRELAY_TASK_CS_WRAP_H_

#include "platform/lock.h"
#include "task/auto_lock_trait.h"

class CCSWrap : public CAutoLockTrait {
 public:
  static constexpr unsigned int kSpinCount = 4000;

  CCSWrap() : initialised_(section_.Init(kSpinCount) ? 1 : 0) {}
  virtual ~CCSWrap() = default;  // the section releases itself when initialised
  CCSWrap(const CCSWrap&) = delete;
  CCSWrap& operator=(const CCSWrap&) = delete;

  void Lock() override {
    if (initialised_) section_.Enter();
  }
  void Unlock() override {
    if (initialised_) section_.Leave();
  }

 private:
  platform::CriticalSection section_;
  int initialised_;
};

#endif  // STATRELAY_TASK_CS_WRAP_H_

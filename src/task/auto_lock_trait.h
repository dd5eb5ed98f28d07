// What a lock offers: Lock and Unlock, paired by the caller.
#ifndef STATRELAY_TASK_AUTO_LOCK_TRAIT_H_
#define STATRELAY_TASK_AUTO_LOCK_TRAIT_H_

class CAutoLockTrait {
 public:
  virtual void Lock() = 0;
  virtual void Unlock() = 0;

 protected:
  ~CAutoLockTrait() = default;
};

#endif  // STATRELAY_TASK_AUTO_LOCK_TRAIT_H_

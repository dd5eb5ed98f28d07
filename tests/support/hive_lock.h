// Linux: another process that holds the registry hive's lock, as any local
// user can (the hive is shared by all of them).
#ifndef STATRELAY_TESTS_SUPPORT_HIVE_LOCK_H_
#define STATRELAY_TESTS_SUPPORT_HIVE_LOCK_H_
#if !defined(_WIN32)

#include <cstdint>
#include <string>

#include "support/child_process.h"

namespace sr_test {

enum class HiveLock {
  kWriteTransaction,  // a write transaction left open: writers wait, readers do not
  kExclusive,         // exclusive locking mode after a write: everyone waits
};

// Sets an HKLM REG_DWORD from another process, so that this one has no
// connection to the hive: an exclusive lock can only be taken while no
// process has the hive open.
bool SetMachineDwordInChild(const std::string& key, const std::string& name, uint32_t value);

// Starts a process that opens the hive of the current system root (which must
// exist) and takes the lock (kExclusive: while no other process has it open); the constructor returns once it
// is held (or the child failed: Holding() says which). The destructor releases it.
class HiveLockHolder {
 public:
  HiveLockHolder(HiveLock kind, const std::string& signal_dir);
  ~HiveLockHolder();
  HiveLockHolder(const HiveLockHolder&) = delete;
  HiveLockHolder& operator=(const HiveLockHolder&) = delete;

  bool Holding() const { return holding_; }
  // Lets go of the lock and waits until the process has ended. True when it
  // held the lock to the end and ended well.
  bool Release();

 private:
  std::string dir_;
  ChildProcess child_;
  bool holding_ = false;
  bool released_ = false;
};

}  // namespace sr_test

#endif  // !_WIN32
#endif  // STATRELAY_TESTS_SUPPORT_HIVE_LOCK_H_

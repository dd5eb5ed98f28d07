#include <pthread.h>

#include "platform/lock.h"

namespace platform {

CriticalSection::~CriticalSection() {
  if (impl_ == nullptr) return;
  pthread_mutex_destroy(static_cast<pthread_mutex_t*>(impl_));
  delete static_cast<pthread_mutex_t*>(impl_);
}

// The spin count has no meaning here: the mutex is recursive, as a critical
// section is, and the kernel decides about spinning.
bool CriticalSection::Init(uint32_t /*spin_count*/) {
  if (impl_ != nullptr) return true;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  auto* m = new pthread_mutex_t;
  int rc = pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    delete m;
    return false;
  }
  impl_ = m;
  return true;
}

void CriticalSection::Enter() { pthread_mutex_lock(static_cast<pthread_mutex_t*>(impl_)); }
void CriticalSection::Leave() { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(impl_)); }

}  // namespace platform

#include <windows.h>

#include "platform/lock.h"

namespace platform {

CriticalSection::~CriticalSection() {
  if (impl_ == nullptr) return;
  DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
  delete static_cast<CRITICAL_SECTION*>(impl_);
}

bool CriticalSection::Init(uint32_t spin_count) {
  if (impl_ != nullptr) return true;
  auto* cs = new CRITICAL_SECTION;
  if (!InitializeCriticalSectionAndSpinCount(cs, spin_count)) {
    delete cs;
    return false;
  }
  impl_ = cs;
  return true;
}

void CriticalSection::Enter() { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }
void CriticalSection::Leave() { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

}  // namespace platform

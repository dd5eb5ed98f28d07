#include "guid/cpu_impl.h"

namespace guid {

uint32_t CpuImpl::Collect() {
  if (TakeCollectedValuesForTest(CollectorKind::kCpu, *this)) return kCollectOk;
  SortUnique(*this);
  return kCollectOk;
}

}  // namespace guid

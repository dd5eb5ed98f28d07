#include "guid/disk_impl.h"

namespace guid {

uint32_t DiskImpl::Collect() {
  if (TakeCollectedValuesForTest(CollectorKind::kDisk, *this)) return kCollectOk;
  SortUnique(*this);
  return kCollectOk;
}

}  // namespace guid

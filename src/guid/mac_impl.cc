#include "guid/mac_impl.h"

namespace guid {

uint32_t MacImpl::Collect() {
  if (TakeCollectedValuesForTest(CollectorKind::kMac, *this)) return kCollectOk;
  SortUnique(*this);
  return kCollectOk;
}

}  // namespace guid

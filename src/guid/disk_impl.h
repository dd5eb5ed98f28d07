// Disk collector: up to three drive serial numbers, one from each kind of
// device query.
#ifndef STATRELAY_GUID_DISK_IMPL_H_
#define STATRELAY_GUID_DISK_IMPL_H_

#include <cstdint>
#include <string>

#include "guid/hardware_manager_base.h"

namespace guid {

class DiskImpl : public HardwareManagerBase {
 public:
  uint32_t Collect() override;
};

}  // namespace guid

#endif  // STATRELAY_GUID_DISK_IMPL_H_

// Processor collector: the brand string and, where the processor has one, its
// serial number.
#ifndef STATRELAY_GUID_CPU_IMPL_H_
#define STATRELAY_GUID_CPU_IMPL_H_

#include <cstdint>
#include <string>

#include "guid/hardware_manager_base.h"

namespace guid {

class CpuImpl : public HardwareManagerBase {
 public:
  uint32_t Collect() override;
};

}  // namespace guid

#endif  // STATRELAY_GUID_CPU_IMPL_H_

// Network adapter collector: the hardware addresses of the computer's physical
// (PCI) Ethernet and wireless adapters.
#ifndef STATRELAY_GUID_MAC_IMPL_H_
#define STATRELAY_GUID_MAC_IMPL_H_

#include <cstdint>
#include <vector>

#include "guid/hardware_manager_base.h"
#include "platform/text.h"

namespace guid {

struct AdapterRecord {
  SrString mac;   // each address byte as two upper-case hex digits, no separators
  SrString name;  // the adapter's name (Windows: its instance GUID in braces)
};

class MacImpl : public HardwareManagerBase {
 public:
  uint32_t Collect() override;

  // The adapter table of the latest collection; cleared at the start of each fill.
  std::vector<AdapterRecord> adapters;
};

}  // namespace guid

#endif  // STATRELAY_GUID_MAC_IMPL_H_

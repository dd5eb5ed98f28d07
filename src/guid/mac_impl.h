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
  // Digests of GetPhysicalMacs; always kCollectOk.
  uint32_t Collect() override;

  // The adapter table of the latest collection; cleared at the start of each fill.
  std::vector<AdapterRecord> adapters;
};

// Registry keys of the network adapters (HKEY_LOCAL_MACHINE).
inline constexpr SrStringView kNetworkKey =
    SRT("SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}");
inline constexpr SrStringView kClassKey =
    SRT("SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}");

// The sorted MAC texts of the physical PCI adapters, each once per registry
// view it was found in. Windows: the IPv4 adapters found as PCI devices by
// either registry view (GetMacsByNetworkKey, GetMacsByClassKey). Linux: the
// PCI (or virtio-on-PCI) Ethernet interfaces the system lists.
std::vector<SrString> GetPhysicalMacs(MacImpl& collector);

// Fills collector.adapters with the IPv4 Ethernet (6) and wireless (71)
// adapters that have a hardware address; true when there is one.
bool GetNetworkAdapters(MacImpl& collector);

// MACs of the table's adapters whose network key has a PCI "PnpInstanceID"
// under one of its subkeys; and of those whose class key's "DeviceInstanceID"
// is PCI. Names are matched exactly (case-sensitive). May repeat.
std::vector<SrString> GetMacsByNetworkKey(const std::vector<AdapterRecord>& adapters);
std::vector<SrString> GetMacsByClassKey(const std::vector<AdapterRecord>& adapters);

// The names of the key's direct subkeys (empty when it cannot be opened).
std::vector<SrString> EnumSubKeys(SrStringView path);
// True when the key has a REG_SZ "PnpInstanceID" that starts with "PCI" (any case).
bool HasPciPnpInstance(SrStringView path);
// True when the key's REG_SZ "DeviceInstanceID" starts with "PCI" (any case);
// *guid gets its "NetCfgInstanceId" (empty when it has none).
bool ReadPciAdapterGuid(SrStringView path, SrString* guid);

}  // namespace guid

#endif  // STATRELAY_GUID_MAC_IMPL_H_

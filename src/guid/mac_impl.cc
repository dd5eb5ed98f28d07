#include "guid/mac_impl.h"

#include <algorithm>
#include <iterator>

#include "platform/hardware.h"
#include "platform/hardware_text.h"
#include "platform/registry.h"

namespace guid {

namespace {

constexpr uint32_t kIfTypeEthernet = 6;
constexpr uint32_t kIfTypeIeee80211 = 71;
constexpr uint32_t kNameRoom = 260;   // code units, with the NUL
constexpr uint32_t kDataRoom = 1024;  // bytes

SrString Join(SrStringView parent, SrStringView child) {
  SrString path(parent);
  path += SRT('\\');
  path += child;
  return path;
}

bool StartsWithPci(SrStringView text) {
  return text.size() >= 3 && text::EqualsIgnoreAsciiCase(text.substr(0, 3), SRT("PCI"));
}

// Calls visit(name, text) for each REG_SZ value of the key with a non-empty
// name and more than 3 bytes of data, the text cut at its first NUL; stops
// when visit returns true. A value whose name or data does not fit the
// buffers is passed over (it cannot be one of the short values looked for).
template <typename Visit>
void ForEachTextValue(const platform::RegistryKey& key, Visit visit) {
  for (uint32_t index = 0;; ++index) {
    SRCHAR name[kNameRoom] = {};
    SRCHAR data[kDataRoom / sizeof(SRCHAR) + 1] = {};
    uint32_t name_length = kNameRoom;
    uint32_t type = 0;
    uint32_t size = kDataRoom;
    long rc = key.EnumValue(index, name, &name_length, &type, data, &size);
    if (rc == platform::kErrMoreData) continue;
    if (rc != platform::kErrSuccess) return;
    if (type != platform::kRegSz || name_length == 0 || size <= 3) continue;
    SrStringView text(data, std::min<size_t>(size / sizeof(SRCHAR), kDataRoom / sizeof(SRCHAR)));
    text = text.substr(0, text.find(SRCHAR(0)));
    if (visit(SrStringView(name, name_length), text)) return;
  }
}

const AdapterRecord* FindAdapter(const std::vector<AdapterRecord>& adapters, SrStringView name) {
  for (const AdapterRecord& a : adapters) {
    if (a.name == name) return &a;
  }
  return nullptr;
}

std::string Narrow(SrStringView mac) {
  std::string text;
  for (SRCHAR c : mac) text.push_back(static_cast<char>(c));
  return text;
}

}  // namespace

std::vector<SrString> EnumSubKeys(SrStringView path) {
  std::vector<SrString> names;
  platform::RegistryKey key;
  if (key.Open(platform::RegRoot::kLocalMachine, path, false) != platform::kErrSuccess) {
    return names;
  }
  SrString name;
  for (uint32_t index = 0; key.EnumSubKey(index, &name) == platform::kErrSuccess; ++index) {
    names.push_back(name);
  }
  return names;
}

bool HasPciPnpInstance(SrStringView path) {
  platform::RegistryKey key;
  if (key.Open(platform::RegRoot::kLocalMachine, path, false) != platform::kErrSuccess) {
    return false;
  }
  bool pci = false;
  ForEachTextValue(key, [&](SrStringView name, SrStringView text) {
    pci = text::EqualsIgnoreAsciiCase(name, SRT("PnpInstanceID")) && StartsWithPci(text);
    return pci;
  });
  return pci;
}

bool ReadPciAdapterGuid(SrStringView path, SrString* guid) {
  platform::RegistryKey key;
  if (key.Open(platform::RegRoot::kLocalMachine, path, false) != platform::kErrSuccess) {
    return false;
  }
  SrString instance;
  guid->clear();
  ForEachTextValue(key, [&](SrStringView name, SrStringView text) {
    if (text::EqualsIgnoreAsciiCase(name, SRT("NetCfgInstanceId"))) {
      *guid = SrString(text);
    } else if (text::EqualsIgnoreAsciiCase(name, SRT("DeviceInstanceID"))) {
      instance = SrString(text);
    }
    return false;
  });
  return StartsWithPci(instance);
}

bool GetNetworkAdapters(MacImpl& collector) {
  collector.adapters.clear();
  for (const platform::IpAdapter& a : platform::QueryIpv4Adapters()) {
    if (a.address.empty() || (a.if_type != kIfTypeEthernet && a.if_type != kIfTypeIeee80211)) {
      continue;
    }
    std::string mac = platform::FormatMacText(a.address.data(), a.address.size());
    collector.adapters.push_back(AdapterRecord{SrString(mac.begin(), mac.end()), a.name});
  }
  return !collector.adapters.empty();
}

std::vector<SrString> GetMacsByNetworkKey(const std::vector<AdapterRecord>& adapters) {
  std::vector<SrString> macs;
  for (const SrString& adapter : EnumSubKeys(kNetworkKey)) {
    const SrString adapter_path = Join(kNetworkKey, adapter);
    for (const SrString& sub : EnumSubKeys(adapter_path)) {
      if (!HasPciPnpInstance(Join(adapter_path, sub))) continue;
      if (const AdapterRecord* a = FindAdapter(adapters, adapter)) macs.push_back(a->mac);
    }
  }
  return macs;
}

std::vector<SrString> GetMacsByClassKey(const std::vector<AdapterRecord>& adapters) {
  std::vector<SrString> macs;
  for (const SrString& sub : EnumSubKeys(kClassKey)) {
    SrString guid;
    if (!ReadPciAdapterGuid(Join(kClassKey, sub), &guid)) continue;
    if (const AdapterRecord* a = FindAdapter(adapters, guid)) macs.push_back(a->mac);
  }
  return macs;
}

std::vector<SrString> GetPhysicalMacs(MacImpl& collector) {
  if constexpr (!platform::kHardwareFromDeviceControls) {
    // Linux decides the bus from the device itself; there is no registry view.
    collector.adapters.clear();
    std::vector<SrString> macs;
    for (const std::string& mac : platform::QueryPciEthernetAddresses()) {
      macs.emplace_back(mac.begin(), mac.end());
      collector.adapters.push_back(AdapterRecord{macs.back(), SrString()});
    }
    std::stable_sort(macs.begin(), macs.end());
    return macs;
  }
  GetNetworkAdapters(collector);
  std::vector<SrString> a = GetMacsByNetworkKey(collector.adapters);
  std::vector<SrString> b = GetMacsByClassKey(collector.adapters);
  std::stable_sort(a.begin(), a.end());
  std::stable_sort(b.begin(), b.end());
  std::vector<SrString> merged;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(merged));
  return merged;
}

uint32_t MacImpl::Collect() {
  if (TakeReplacedValues(CollectorKind::kMac, *this)) return kCollectOk;
  std::vector<SrString> macs = GetPhysicalMacs(*this);
  macs.erase(std::unique(macs.begin(), macs.end()), macs.end());
  for (const SrString& mac : macs) AddDigest(*this, Narrow(mac));
  std::stable_sort(values.begin(), values.end());
  return kCollectOk;
}

}  // namespace guid

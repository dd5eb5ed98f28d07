// Hardware answers on Windows: CPUID, device I/O controls on the drives and
// SCSI ports, and the IP helper's adapter list. The Linux stand-ins answer
// nothing here.
#include "platform/hardware.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cpuid.h>

#include <cstdlib>
#include <memory>

namespace platform {

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

bool ExecuteCpuid(uint32_t leaf, CpuidRegisters* out) {
  *out = CpuidRegisters();
  if (CpuidHook hook = internal::CpuidReplacement()) return hook(leaf, out);
  unsigned int a = 0, b = 0, c = 0, d = 0;
  __cpuid_count(leaf, 0, a, b, c, d);
  out->eax = a;
  out->ebx = b;
  out->ecx = c;
  out->edx = d;
  return true;
}

bool IoDevice::Open(SrStringView path, uint32_t access) {
  Close();
  path_ = SrString(path);
  if (DeviceAnswers* answers = internal::DeviceReplacement()) {
    replaced_ = answers->Open(path_, access);
    return replaced_;
  }
  HANDLE h = CreateFileW(path_.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

void IoDevice::Close() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  replaced_ = false;
}

int IoDevice::Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                      uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  if (replaced_) {
    DeviceAnswers* answers = internal::DeviceReplacement();
    if (answers == nullptr) return 0;
    uint32_t got = 0;
    int result = answers->Control(path_, code, in, in_size, out, out_size, &got);
    if (returned != nullptr) *returned = got;
    return result;
  }
  if (handle_ == nullptr) return 0;
  DWORD got = 0;
  BOOL result = DeviceIoControl(static_cast<HANDLE>(handle_), code, const_cast<void*>(in), in_size, out,
                                out_size, &got, nullptr);
  if (returned != nullptr) *returned = got;
  return result;
}

std::vector<IpAdapter> QueryIpv4Adapters() {
  if (const std::vector<IpAdapter>* replaced = internal::Ipv4AdaptersReplacement()) {
    return *replaced;
  }
  std::vector<IpAdapter> adapters;
  ULONG size = 0;
  if (GetAdaptersAddresses(AF_INET, 0, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW) {
    return adapters;
  }
  std::unique_ptr<void, FreeDeleter> buffer(std::malloc(size));
  if (!buffer) return adapters;
  auto* list = static_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
  if (GetAdaptersAddresses(AF_INET, 0, nullptr, list, &size) != NO_ERROR) return adapters;
  for (IP_ADAPTER_ADDRESSES* a = list; a != nullptr; a = a->Next) {
    IpAdapter adapter;
    ULONG length = a->PhysicalAddressLength;
    if (length > MAX_ADAPTER_ADDRESS_LENGTH) length = MAX_ADAPTER_ADDRESS_LENGTH;
    adapter.address.assign(a->PhysicalAddress, a->PhysicalAddress + length);
    adapter.if_type = a->IfType;
    if (a->AdapterName != nullptr) {
      int n = MultiByteToWideChar(CP_ACP, 0, a->AdapterName, -1, nullptr, 0);
      if (n > 1) {
        adapter.name.resize(static_cast<size_t>(n));
        MultiByteToWideChar(CP_ACP, 0, a->AdapterName, -1, adapter.name.data(), n);
        adapter.name.resize(static_cast<size_t>(n) - 1);
      }
    }
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

std::string QueryAtaIdentifySerial() { return std::string(); }
std::string QueryKernelDiskSerial() { return std::string(); }
std::string QueryScsiUnitSerial() { return std::string(); }
std::vector<std::string> QueryPciEthernetAddresses() { return std::vector<std::string>(); }
bool QueryCpuInfoField(std::string_view, std::string*) { return false; }

}  // namespace platform

// Hardware answers for the machine identity collectors: the processor
// identification instruction, device I/O controls and the IPv4 adapter list
// (Windows), and the disk serials, network addresses and processor fields that
// Linux publishes (sysfs, procfs, the udev database, device queries).
//
// Every query is quiet: a device or file that is missing, refused or malformed
// gives no answer, never an error. Test builds can replace each source.
#ifndef STATRELAY_PLATFORM_HARDWARE_H_
#define STATRELAY_PLATFORM_HARDWARE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace platform {

// True where disks are queried with device I/O controls and adapters are
// judged through the network registry keys (Windows); false where the Linux
// queries below stand in for them.
#if defined(_WIN32)
inline constexpr bool kHardwareFromDeviceControls = true;
#else
inline constexpr bool kHardwareFromDeviceControls = false;
#endif

struct CpuidRegisters {
  uint32_t eax = 0;
  uint32_t ebx = 0;
  uint32_t ecx = 0;
  uint32_t edx = 0;
};

// Executes the processor identification instruction for leaf (sub-leaf 0).
// False, with *out zeroed, where the processor has no such instruction or the
// system makes it fault (Linux: arch_prctl(ARCH_GET_CPUID) says it is off).
bool ExecuteCpuid(uint32_t leaf, CpuidRegisters* out);

// Access rights for OpenDevice.
inline constexpr uint32_t kDeviceRead = 0x80000000u;   // GENERIC_READ
inline constexpr uint32_t kDeviceWrite = 0x40000000u;  // GENERIC_WRITE

// A device opened for I/O controls (Windows: CreateFileW on a path such as
// "\\.\PhysicalDrive0", shared for reading and writing). Move-only; closes
// itself. Other systems have no such devices: Open fails.
class IoDevice {
 public:
  IoDevice() = default;
  ~IoDevice();
  IoDevice(IoDevice&& other) noexcept;
  IoDevice& operator=(IoDevice&& other) noexcept;
  IoDevice(const IoDevice&) = delete;
  IoDevice& operator=(const IoDevice&) = delete;

  bool Open(SrStringView path, uint32_t access);
  void Close();
  // Sends an I/O control; returns the system's BOOL result (1 on success).
  // *returned (may be null) gets the bytes written to out.
  int Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
              uint32_t* returned);

 private:
  void* handle_ = nullptr;
  SrString path_;
  bool replaced_ = false;  // opened through the test's device answers
};

// One IPv4-capable adapter as the IP helper lists it.
struct IpAdapter {
  std::vector<uint8_t> address;  // PhysicalAddress, PhysicalAddressLength bytes
  uint32_t if_type = 0;          // 6 Ethernet, 71 IEEE 802.11
  SrString name;                 // AdapterName, from the ANSI code page
};

// Windows: GetAdaptersAddresses(AF_INET, 0) in list order; empty when the
// query fails. Other systems: empty.
std::vector<IpAdapter> QueryIpv4Adapters();

// Linux stand-ins for the three disk queries. Each scans the identity disks
// (IsIdentityDiskName; ordered by their resolved sysfs device path, at most 16)
// on its own and returns the serial of the first disk that gives one:
// - QueryAtaIdentifySerial: the serial words of the drive's cached ATA
//   IDENTIFY data (HDIO_GET_IDENTITY), as IdentifyWordsToString gives them;
// - QueryKernelDiskSerial: the serial the kernel reports for the device (NVMe
//   device/serial, virtio serial, SCSI device/vpd_pg80), trimmed;
// - QueryScsiUnitSerial: the SCSI unit serial number page as the udev database
//   recorded it (ID_SCSI_SERIAL), trimmed.
// Empty when no disk answers. Other systems: empty.
std::string QueryAtaIdentifySerial();
std::string QueryKernelDiskSerial();
std::string QueryScsiUnitSerial();

// Linux: the 6-byte hardware addresses, as 12 upper-case hexadecimal digits, of
// every network interface (up or down) of ARP type Ethernet with IPv4 on,
// whose device is a PCI function or a virtio device on one; the permanent
// address, else the current one when the kernel reports it as permanent.
// In interface name order; may repeat. Other systems: empty.
std::vector<std::string> QueryPciEthernetAddresses();

// Linux: the first /proc/cpuinfo field of that name, trimmed. False when there
// is none (and on other systems).
bool QueryCpuInfoField(std::string_view name, std::string* value);

// Test hooks (test builds only). Each replaces one source for the whole
// process; null (or an empty root) restores the real one. Not for use while a
// collection runs. A shipping build has no replacement.
using CpuidHook = bool (*)(uint32_t leaf, CpuidRegisters* out);
#if defined(STATRELAY_TEST_HOOKS)
void SetCpuidForTest(CpuidHook hook);
#endif

// Answers of fake devices: Open decides whether a path opens; Control answers
// an I/O control sent to an opened path (the BOOL result).
class DeviceAnswers {
 public:
  virtual ~DeviceAnswers() = default;
  virtual bool Open(SrStringView path, uint32_t access) = 0;
  virtual int Control(SrStringView path, uint32_t code, const void* in, uint32_t in_size, void* out,
                      uint32_t out_size, uint32_t* returned) = 0;
};
#if defined(STATRELAY_TEST_HOOKS)
void SetDeviceAnswersForTest(DeviceAnswers* answers);  // weak
#endif

#if defined(STATRELAY_TEST_HOOKS)
void SetIpv4AdaptersForTest(const std::vector<IpAdapter>* adapters);  // weak
#endif

// Linux: the folder that stands for "/" when sysfs, procfs and the udev
// database are read.
#if defined(STATRELAY_TEST_HOOKS)
void SetHardwareRootForTest(const std::string& root);
#endif

// Linux: the answer of HDIO_GET_IDENTITY for a disk (kernel name such as
// "sda"): false when the device refuses, else the 512 bytes.
using AtaIdentifyHook = bool (*)(std::string_view disk, uint8_t out[512]);
#if defined(STATRELAY_TEST_HOOKS)
void SetAtaIdentifyForTest(AtaIdentifyHook hook);
#endif

// Linux: the permanent address of an interface: false when the system gives
// none, else *size bytes (at most 32) in out.
using PermanentAddressHook = bool (*)(std::string_view interface_name, uint8_t out[32], uint32_t* size);
#if defined(STATRELAY_TEST_HOOKS)
void SetPermanentAddressForTest(PermanentAddressHook hook);
#endif

namespace internal {
// The replacements in force (null or empty when none).
CpuidHook CpuidReplacement();
DeviceAnswers* DeviceReplacement();
const std::vector<IpAdapter>* Ipv4AdaptersReplacement();
std::string HardwareRoot();  // "" for the real "/"
AtaIdentifyHook AtaIdentifyReplacement();
PermanentAddressHook PermanentAddressReplacement();
}  // namespace internal

}  // namespace platform

#endif  // STATRELAY_PLATFORM_HARDWARE_H_

// Linux hardware answers: CPUID where the processor has it, and what sysfs,
// procfs and the udev database publish about disks, network interfaces and
// processors, all read below the hardware root ("/" outside tests). Nothing here
// needs privilege except the drive identity query, which is quiet when refused.
#include "platform/hardware.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/ethtool.h>
#include <linux/hdreg.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#if defined(__x86_64__) || defined(__i386__)
#include <asm/prctl.h>
#include <cpuid.h>
#endif

#include "platform/hardware_text.h"

namespace platform {

namespace {

constexpr size_t kMaxDisks = 16;
constexpr size_t kSmallFile = 4096;        // a sysfs attribute is at most a page
constexpr size_t kCpuInfoFile = 1u << 20;  // /proc/cpuinfo of a large machine

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// Reads a regular file of at most max bytes. False when it is missing,
// unreadable, not a regular file or larger than max.
bool ReadFile(const std::string& path, size_t max, std::string* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  out->clear();
  char buf[4096];
  while (ok) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) ok = false;
    if (n <= 0) break;
    out->append(buf, static_cast<size_t>(n));
    if (out->size() > max) ok = false;
  }
  close(fd);
  return ok;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> ListNames(const std::string& dir) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, DirCloser> d(opendir(dir.c_str()));
  if (!d) return names;
  while (struct dirent* e = readdir(d.get())) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// path with "." and ".." parts taken out by their text. Sound where no folder
// on the way is a link.
std::string Lexical(const std::string& path) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    at = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  return out.empty() ? std::string("/") : out;
}

// The real path of a sysfs entry whose last part may be a link while its
// folders are not (as /sys/block/<disk>, /sys/class/net/<name> and a device's
// "device" are): one readlink per link followed, where realpath would ask
// about every part of the path. Empty when the entry is missing or the links
// go on too long.
std::string ResolveLast(const std::string& path) {
  std::string at = path;
  for (int hops = 0; hops < 8; ++hops) {
    char buf[PATH_MAX];
    ssize_t n = readlink(at.c_str(), buf, sizeof buf - 1);
    if (n < 0) return errno == EINVAL ? Lexical(at) : std::string();  // EINVAL: not a link
    std::string link(buf, static_cast<size_t>(n));
    at = !link.empty() && link[0] == '/' ? link : at.substr(0, at.rfind('/') + 1) + link;
  }
  return std::string();
}

// The name of the bus a sysfs device sits on: the last part of its
// "subsystem" link ("pci", "virtio", "scsi", "usb", ...).
std::string SubsystemOf(const std::string& device_dir) {
  char buf[PATH_MAX];
  ssize_t n = readlink((device_dir + "/subsystem").c_str(), buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string link(buf, static_cast<size_t>(n));
  size_t slash = link.rfind('/');
  return slash == std::string::npos ? link : link.substr(slash + 1);
}

std::string Root() { return internal::HardwareRoot(); }

struct Disk {
  std::string name;  // kernel name, "sda"
  std::string dir;   // <root>/sys/block/<name>
  std::string bus_path;
};

// The disks that can hold a serial, ordered by the position of their device
// on its bus (kernel names follow probe order and can swap between boots).
std::vector<Disk> IdentityDisks() {
  const std::string block = Root() + "/sys/block";
  std::vector<Disk> disks;
  for (const std::string& name : ListNames(block)) {
    if (!IsIdentityDiskName(name)) continue;
    Disk disk{name, block + "/" + name, ResolveLast(block + "/" + name)};
    if (!disk.bus_path.empty()) disks.push_back(std::move(disk));
  }
  std::sort(disks.begin(), disks.end(),
            [](const Disk& a, const Disk& b) { return BusPathLess(a.bus_path, b.bus_path); });
  if (disks.size() > kMaxDisks) disks.resize(kMaxDisks);
  return disks;
}

bool DriveIdentity(const Disk& disk, uint8_t out[512]) {
  if (AtaIdentifyHook hook = internal::AtaIdentifyReplacement()) return hook(disk.name, out);
  const std::string root = Root();
  if (!root.empty()) return false;  // a fixture tree has no device nodes
  // The kernel answers from the identity it read when it found the drive: no
  // command reaches the drive, so a sleeping disk stays asleep. Opening the
  // node needs read access to it (root or the disk group).
  // Sysfs writes a "/" of a device name as "!" ("cciss!c0d0").
  std::string node = "/dev/" + disk.name;
  std::replace(node.begin(), node.end(), '!', '/');
  int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ioctl(fd, HDIO_GET_IDENTITY, out) == 0;
  close(fd);
  return ok;
}

std::string KernelSerial(const Disk& disk) {
  std::string text;
  const std::string bus = SubsystemOf(disk.dir + "/device");
  if (bus == "nvme" || bus == "nvme-subsystem") {
    if (ReadFile(disk.dir + "/device/serial", kSmallFile, &text)) return TrimSerialText(text);
  } else if (bus == "virtio") {
    if (ReadFile(disk.dir + "/serial", kSmallFile, &text)) return TrimSerialText(text);
  } else if (bus == "scsi") {
    if (ReadFile(disk.dir + "/device/vpd_pg80", kSmallFile, &text)) return ParseUnitSerialPage(text);
  }
  return std::string();
}

std::string UdevScsiSerial(const Disk& disk) {
  std::string dev, record;
  if (!ReadFile(disk.dir + "/dev", kSmallFile, &dev)) return std::string();
  if (!dev.empty() && dev.back() == '\n') dev.pop_back();
  if (dev.empty() || dev.find('/') != std::string::npos) return std::string();
  if (!ReadFile(Root() + "/run/udev/data/b" + dev, 1u << 16, &record)) return std::string();
  return TrimSerialText(FindUdevProperty(record, "ID_SCSI_SERIAL"));
}

bool PermanentAddress(const std::string& name, uint8_t out[32], uint32_t* size) {
  if (PermanentAddressHook hook = internal::PermanentAddressReplacement()) {
    return hook(name, out, size);
  }
  if (!Root().empty() || name.size() >= IFNAMSIZ) return false;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // ETHTOOL_GPERMADDR needs no privilege. The request is its head (command,
  // room) followed by the room for the address.
  alignas(struct ethtool_perm_addr) uint8_t request[sizeof(struct ethtool_perm_addr) + 32] = {};
  struct ethtool_perm_addr head = {};
  head.cmd = ETHTOOL_GPERMADDR;
  head.size = 32;
  std::memcpy(request, &head, sizeof head);
  struct ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  std::memcpy(ifr.ifr_name, name.c_str(), name.size());
  ifr.ifr_data = reinterpret_cast<char*>(request);
  bool ok = ioctl(fd, SIOCETHTOOL, &ifr) == 0;
  close(fd);
  std::memcpy(&head, request, sizeof head);
  if (!ok || head.size > 32) return false;
  std::memcpy(out, request + sizeof head, head.size);
  *size = head.size;
  return true;
}

// A PCI function, or a virtio device whose parent is one: the network cards
// Windows would enumerate with a PCI instance. Decided by the buses the
// devices are registered on, not by the text of their paths.
bool OnPciBus(const std::string& interface_dir) {
  const std::string interface = ResolveLast(interface_dir);
  if (interface.empty()) return false;
  const std::string device = ResolveLast(interface + "/device");
  if (device.empty()) return false;
  const std::string bus = SubsystemOf(device);
  if (bus == "pci") return true;
  if (bus != "virtio") return false;
  const std::string parent = device.substr(0, device.rfind('/'));
  return !parent.empty() && SubsystemOf(parent) == "pci";
}

bool IsNonZero(const uint8_t* bytes, size_t size) {
  return std::any_of(bytes, bytes + size, [](uint8_t b) { return b != 0; });
}

}  // namespace

bool ExecuteCpuid(uint32_t leaf, CpuidRegisters* out) {
  *out = CpuidRegisters();
  if (CpuidHook hook = internal::CpuidReplacement()) return hook(leaf, out);
#if defined(__x86_64__) || defined(__i386__)
  // Where the kernel has turned on CPUID faulting for this process, the
  // instruction would raise SIGSEGV. 1: CPUID runs; an error: the kernel knows
  // no faulting, so it runs too.
  if (syscall(SYS_arch_prctl, ARCH_GET_CPUID, 0) == 0) return false;
  unsigned int a = 0, b = 0, c = 0, d = 0;
  __cpuid_count(leaf, 0, a, b, c, d);
  out->eax = a;
  out->ebx = b;
  out->ecx = c;
  out->edx = d;
  return true;
#else
  (void)leaf;
  return false;
#endif
}

bool IoDevice::Open(SrStringView path, uint32_t access) {
  Close();
  DeviceAnswers* answers = internal::DeviceReplacement();
  if (answers == nullptr || !answers->Open(path, access)) return false;
  replaced_ = true;
  path_ = SrString(path);
  return true;
}

void IoDevice::Close() {
  replaced_ = false;
  path_.clear();
}

int IoDevice::Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                      uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  DeviceAnswers* answers = internal::DeviceReplacement();
  if (!replaced_ || answers == nullptr) return 0;
  uint32_t got = 0;
  int result = answers->Control(path_, code, in, in_size, out, out_size, &got);
  if (returned != nullptr) *returned = got;
  return result;
}

std::vector<IpAdapter> QueryIpv4Adapters() {
  const std::vector<IpAdapter>* replaced = internal::Ipv4AdaptersReplacement();
  return replaced != nullptr ? *replaced : std::vector<IpAdapter>();
}

std::string QueryAtaIdentifySerial() {
  for (const Disk& disk : IdentityDisks()) {
    uint8_t identity[512] = {};
    if (!DriveIdentity(disk, identity)) continue;
    std::string serial = DriveIdentitySerial(identity, sizeof identity);
    if (!serial.empty()) return serial;
  }
  return std::string();
}

std::string QueryKernelDiskSerial() {
  for (const Disk& disk : IdentityDisks()) {
    std::string serial = KernelSerial(disk);
    if (!serial.empty()) return serial;
  }
  return std::string();
}

std::string QueryScsiUnitSerial() {
  for (const Disk& disk : IdentityDisks()) {
    std::string serial = UdevScsiSerial(disk);
    if (!serial.empty()) return serial;
  }
  return std::string();
}

std::vector<std::string> QueryPciEthernetAddresses() {
  const std::string root = Root();
  const std::string net = root + "/sys/class/net";
  std::vector<std::string> result;
  for (const std::string& name : ListNames(net)) {
    const std::string dir = net + "/" + name;
    std::string text;
    uint32_t type = 0, length = 0;
    if (!ReadFile(dir + "/type", kSmallFile, &text) || !ParseSysfsNumber(text, &type) || type != 1) {
      continue;
    }
    if (!ReadFile(dir + "/addr_len", kSmallFile, &text) || !ParseSysfsNumber(text, &length) || length != 6) {
      continue;
    }
    // An interface without IPv4 (its MTU is too small, for one) has no IPv4
    // configuration folder.
    if (!IsDirectory(root + "/proc/sys/net/ipv4/conf/" + name)) continue;
    if (!OnPciBus(dir)) continue;

    uint8_t address[32] = {};
    uint32_t size = 0;
    if (!PermanentAddress(name, address, &size) || size != 6 || !IsNonZero(address, 6)) {
      // Without a permanent address, the current one counts only when the
      // kernel reports it as the hardware's own (not random, not set, not
      // taken from another device, as a bond's is).
      uint32_t assign_type = 0;
      if (!ReadFile(dir + "/addr_assign_type", kSmallFile, &text) || !ParseSysfsNumber(text, &assign_type) ||
          assign_type != 0) {
        continue;
      }
      if (!ReadFile(dir + "/address", kSmallFile, &text) || !ParseMacAddressText(text, address) ||
          !IsNonZero(address, 6)) {
        continue;
      }
    }
    result.push_back(FormatMacText(address, 6));
  }
  return result;
}

bool QueryCpuInfoField(std::string_view name, std::string* value) {
  std::string text;
  if (!ReadFile(Root() + "/proc/cpuinfo", kCpuInfoFile, &text)) return false;
  return FindCpuInfoField(text, name, value);
}

}  // namespace platform

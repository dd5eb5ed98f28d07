// The Linux collectors over a fixture machine (tests/guid/fixtures/machine):
// sysfs, procfs and the udev database of a computer with SATA, NVMe and virtio
// disks, a CD drive, a loop device and a hidden NVMe path; PCI, virtio, USB,
// InfiniBand, bonded and platform network interfaces. Each test works on its
// own copy, so that a case can break one file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "guid/cpu_impl.h"
#include "guid/disk_impl.h"
#include "guid/mac_impl.h"
#include "platform/hardware.h"
#include "support/sandbox.h"

namespace guid {
namespace {

namespace fs = std::filesystem;

// The identity answers of the fake drives, by kernel name, and the names the
// collector asked about.
std::map<std::string, std::string> g_identity;
std::vector<std::string> g_identity_asked;

bool FakeIdentity(std::string_view disk, uint8_t out[512]) {
  g_identity_asked.emplace_back(disk);
  auto it = g_identity.find(std::string(disk));
  if (it == g_identity.end()) return false;
  // HDIO_GET_IDENTITY gives the serial in reading order at bytes 20 to 39.
  std::string padded = (it->second + std::string(20, ' ')).substr(0, 20);
  std::copy(padded.begin(), padded.end(), out + 20);
  return true;
}

std::map<std::string, std::vector<uint8_t>> g_permanent;

bool FakePermanentAddress(std::string_view name, uint8_t out[32], uint32_t* size) {
  auto it = g_permanent.find(std::string(name));
  if (it == g_permanent.end()) return false;
  std::copy(it->second.begin(), it->second.end(), out);
  *size = static_cast<uint32_t>(it->second.size());
  return true;
}

bool NoCpuid(uint32_t, platform::CpuidRegisters*) { return false; }

std::vector<std::string> Digests(std::vector<std::string> texts) {
  std::vector<std::string> values;
  for (const std::string& t : texts) values.push_back(SaltedDigest(t));
  std::sort(values.begin(), values.end());
  return values;
}

class MachineTree : public ::testing::Test {
 protected:
  void SetUp() override {
    if constexpr (platform::kHardwareFromDeviceControls) {
      GTEST_SKIP() << "Windows asks devices, the IP helper and the registry";
    }
    root_ = sandbox_.Path("machine");
    fs::copy(SR_GUID_FIXTURES "/machine", root_,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    platform::SetHardwareRootForTest(root_);
    g_identity = {{"sda", "SDA-IDENT"}, {"sr0", "CDROM-IDENT"}, {"loop0", "LOOP-IDENT"}};
    g_identity_asked.clear();
    platform::SetAtaIdentifyForTest(FakeIdentity);
    g_permanent.clear();
    platform::SetPermanentAddressForTest(FakePermanentAddress);
  }

  void TearDown() override {
    platform::SetHardwareRootForTest("");
    platform::SetAtaIdentifyForTest(nullptr);
    platform::SetPermanentAddressForTest(nullptr);
    platform::SetCpuidForTest(nullptr);
  }

  std::string At(const std::string& relative) const { return root_ + "/" + relative; }

  sr_test::Sandbox sandbox_;
  std::string root_;
};

constexpr const char* kEth0 = "sys/devices/pci0000:00/0000:00:1f.6/net/eth0/";
constexpr const char* kVda = "sys/devices/pci0000:00/0000:00:04.0/virtio1/block/vda/";
constexpr const char* kSdb = "sys/devices/pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/";

TEST_F(MachineTree, DiskStepsTakeTheFirstDiskInBusOrder) {
  // Bus order: vda (00:04.0), sdb (ata2), sda (ata10), nvme0n1 (1d.0); kernel
  // names would put sda before sdb. The CD drive (00:00.1) and the hidden NVMe
  // path (00:01.0) sit first on the bus and have serials: they are left out,
  // like the loop device.
  EXPECT_EQ(ReadSmartSerial(), "SDA-IDENT");
  EXPECT_EQ(g_identity_asked, (std::vector<std::string>{"vda", "sdb", "sda"}));
  EXPECT_EQ(ReadStorageSerial(), "VIRTIO-SERIAL");
  EXPECT_EQ(ReadScsiMiniportSerial(), "WD-WCC4N0000002-UNIT");
  DiskImpl disk;
  EXPECT_EQ(disk.Collect(), kCollectOk);
  EXPECT_EQ(disk.values, Digests({"SDA-IDENT", "VIRTIO-SERIAL", "WD-WCC4N0000002-UNIT"}));

  // Each step goes on to the next disk on its own.
  fs::remove(At("sys/block/vda"));
  EXPECT_EQ(ReadStorageSerial(), "WD-WCC4N0000002");  // the SCSI unit serial page
  fs::remove(At("sys/block/sdb"));
  EXPECT_EQ(ReadStorageSerial(), "WD-WCC4N0000010");
  EXPECT_EQ(ReadScsiMiniportSerial(), "WD-WCC4N0000010-UNIT");
  fs::remove(At("sys/block/sda"));
  EXPECT_EQ(ReadSmartSerial(), "");
  EXPECT_EQ(ReadStorageSerial(), "S4EWNX0R123456");  // NVMe, padding trimmed
  EXPECT_EQ(ReadScsiMiniportSerial(), "");
}

TEST_F(MachineTree, DiskStepsAskAtMostSixteenDisks) {
  for (const fs::directory_entry& e : fs::directory_iterator(At("sys/block"))) fs::remove(e.path());
  // Seventeen virtio disks on bus 01; only the last one has a serial.
  for (int i = 0; i < 17; ++i) {
    char slot[8];
    std::snprintf(slot, sizeof slot, "%02x", i);
    const std::string device =
        "devices/pci0000:00/0000:01:" + std::string(slot) + ".0/virtio" + std::to_string(i);
    const std::string name = "vd" + std::string(1, static_cast<char>('a' + i));
    fs::create_directories(At("sys/" + device + "/block/" + name));
    fs::create_directory_symlink("../../../../bus/virtio", At("sys/" + device + "/subsystem"));
    fs::create_directory_symlink("../..", At("sys/" + device + "/block/" + name + "/device"));
    fs::create_directory_symlink("../" + device + "/block/" + name, At("sys/block/" + name));
    if (i >= 15) {
      ASSERT_TRUE(sr_test::WriteFileBytes(At("sys/" + device + "/block/" + name + "/serial"),
                                          "SERIAL-" + std::to_string(i) + "\n"));
    }
  }
  EXPECT_EQ(ReadStorageSerial(), "SERIAL-15");
  fs::remove(At("sys/block/vdp/serial"));  // the sixteenth's: the seventeenth's is not read
  EXPECT_EQ(ReadStorageSerial(), "");
}

TEST_F(MachineTree, AdaptersOnPciWithTheirOwnAddresses) {
  // eth0: a PCI function; ens4: virtio on a PCI function. Left out: wlan0 (a
  // random address and no permanent one), enp5s0 (no IPv4), ib0 (not
  // Ethernet), usb0 (USB), eth9 (virtio on a platform device), bond0 (virtual).
  EXPECT_EQ(platform::QueryPciEthernetAddresses(),
            (std::vector<std::string>{"525400123456", "AAAAAAAAAA01"}));

  // The permanent address wins over the current one; an all-zero or short
  // permanent address does not count.
  g_permanent = {{"eth0", {0x00, 0x1B, 0x21, 0x00, 0x00, 0x01}},
                 {"wlan0", {0x0C, 0x11, 0x22, 0x33, 0x44, 0x55}},
                 {"ens4", {0, 0, 0, 0, 0, 0}},
                 {"usb0", {0x00, 0x50, 0xB6, 0x00, 0x00, 0x01}},
                 {"bond0", {0x00, 0x1B, 0x21, 0x00, 0x00, 0x01}}};
  EXPECT_EQ(platform::QueryPciEthernetAddresses(),
            (std::vector<std::string>{"525400123456", "001B21000001", "0C1122334455"}));
  g_permanent = {{"eth0", {0x00, 0x1B, 0x21, 0x00, 0x00}}};
  EXPECT_EQ(platform::QueryPciEthernetAddresses(),
            (std::vector<std::string>{"525400123456", "AAAAAAAAAA01"}));

  MacImpl collector;
  EXPECT_EQ(collector.Collect(), kCollectOk);
  EXPECT_EQ(collector.values, Digests({"525400123456", "AAAAAAAAAA01"}));
}

// Broken, missing, empty, oversized and unreadable files: the interface or
// disk they describe gives nothing, and the others are unaffected.
TEST_F(MachineTree, DamagedFilesGiveNothing) {
  enum Action { kRemove, kWrite, kFolder, kDanglingLink };
  static const struct {
    std::string file;
    Action action;
    std::string bytes;
    std::vector<std::string> macs;
    std::string kernel_serial;
    std::string unit_serial;
    std::string also_removed = "";
  } kCases[] = {
      // Network interface files (eth0).
      {std::string(kEth0) + "address", kRemove, "", {"525400123456"}, "", ""},
      {std::string(kEth0) + "address", kWrite, "", {"525400123456"}, "", ""},
      {std::string(kEth0) + "address", kWrite, "aa:aa:aa:aa:aa\n", {"525400123456"}, "", ""},
      {std::string(kEth0) + "address", kWrite, "aa:aa:aa:aa:aa:01:02\n", {"525400123456"}, "", ""},
      {std::string(kEth0) + "address", kWrite, "00:00:00:00:00:00\n", {"525400123456"}, "", ""},
      {std::string(kEth0) + "address", kWrite, std::string(1 << 20, 'a'), {"525400123456"}, "", ""},
      {std::string(kEth0) + "address", kFolder, "", {"525400123456"}, "", ""},
      {std::string(kEth0) + "address", kDanglingLink, "", {"525400123456"}, "", ""},
      {std::string(kEth0) + "addr_assign_type", kRemove, "", {"525400123456"}, "", ""},
      {std::string(kEth0) + "addr_assign_type", kWrite, "", {"525400123456"}, "", ""},
      {std::string(kEth0) + "addr_len", kWrite, "20\n", {"525400123456"}, "", ""},
      {std::string(kEth0) + "type", kWrite, std::string(5000, '1'), {"525400123456"}, "", ""},
      {"proc/sys/net/ipv4/conf/eth0", kRemove, "", {"525400123456"}, "", ""},
      {"sys/devices/pci0000:00/0000:00:1f.6/subsystem", kRemove, "", {"525400123456"}, "", ""},
      // Disk files: the next disk in bus order answers.
      {std::string(kVda) + "serial", kWrite, "", {}, "WD-WCC4N0000002", ""},
      {std::string(kVda) + "serial", kWrite, std::string(5000, 'S'), {}, "WD-WCC4N0000002", ""},
      {std::string(kVda) + "serial", kWrite, "BAD\x01SERIAL", {}, "WD-WCC4N0000002", ""},
      {std::string(kVda) + "serial", kFolder, "", {}, "WD-WCC4N0000002", ""},
      {std::string(kSdb) + "vpd_pg80",
       kWrite,
       std::string("\0\x80\0", 3),
       {},
       "WD-WCC4N0000010",
       "",
       "sys/block/vda"},
      {std::string(kSdb) + "block/sdb/dev", kRemove, "", {}, "", "WD-WCC4N0000010-UNIT"},
      {std::string(kSdb) + "block/sdb/dev", kWrite, "../../etc\n", {}, "", "WD-WCC4N0000010-UNIT"},
      {"run/udev/data/b8:16", kWrite, std::string(1 << 17, 'E'), {}, "", "WD-WCC4N0000010-UNIT"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file + " " + std::to_string(c.action) + " " + c.bytes.substr(0, 24));
    const std::string path = At(c.file);
    const std::string saved = sandbox_.Path("saved");
    fs::rename(path, saved);
    const std::string also_saved = sandbox_.Path("also-saved");
    if (!c.also_removed.empty()) fs::rename(At(c.also_removed), also_saved);
    if (c.action == kWrite) {
      ASSERT_TRUE(sr_test::WriteFileBytes(path, c.bytes));
    }
    if (c.action == kFolder) fs::create_directory(path);
    if (c.action == kDanglingLink) fs::create_symlink("no-such-file", path);
    if (!c.macs.empty()) {
      EXPECT_EQ(platform::QueryPciEthernetAddresses(), c.macs);
    }
    if (!c.kernel_serial.empty()) {
      EXPECT_EQ(ReadStorageSerial(), c.kernel_serial);
    }
    if (!c.unit_serial.empty()) {
      EXPECT_EQ(ReadScsiMiniportSerial(), c.unit_serial);
    }
    fs::remove_all(path);
    fs::rename(saved, path);
    if (!c.also_removed.empty()) fs::rename(also_saved, At(c.also_removed));
  }
}

TEST_F(MachineTree, ProcessorFromCpuInfoWithoutTheInstruction) {
  platform::SetCpuidForTest(NoCpuid);
  EXPECT_EQ(GetCpuBrandString(), "Fixture CPU @ 1.00GHz");
  EXPECT_EQ(GetCpuSerialNumber(), "00000000abcdef01");
  ASSERT_TRUE(sr_test::WriteFileBytes(At("proc/cpuinfo"), "processor\t: 0\nSerial\t\t: 0000000000000000\n"));
  EXPECT_EQ(GetCpuBrandString(), "");
  EXPECT_EQ(GetCpuSerialNumber(), "");  // a serial of zeros is no serial
  fs::remove(At("proc/cpuinfo"));
  CpuImpl cpu;
  EXPECT_EQ(cpu.Collect(), kCollectOk);
  EXPECT_TRUE(cpu.values.empty());
}

}  // namespace
}  // namespace guid

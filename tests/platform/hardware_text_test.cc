#include "platform/hardware_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

namespace platform {
namespace {

std::string Bytes(const char* s, size_t n) { return std::string(s, n); }

// IDENTIFY words hold two characters each, the first in the high byte.
TEST(HardwareText, IdentifyWordsToString) {
  uint8_t data[512] = {};
  const char serial[] = "WD-WCC4E1234567     ";  // 20 characters, ATA-padded
  for (int i = 0; i < 20; i += 2) {
    data[20 + i] = static_cast<uint8_t>(serial[i + 1]);
    data[20 + i + 1] = static_cast<uint8_t>(serial[i]);
  }
  EXPECT_EQ(IdentifyWordsToString(data, sizeof data, 10, 19), "WD-WCC4E1234567");
  // Zero bytes stay part of the text; only trailing spaces go.
  data[39] = 0;
  EXPECT_EQ(IdentifyWordsToString(data, sizeof data, 10, 19), std::string("WD-WCC4E1234567   ") + '\0');
  // Words beyond the data are left out, never read.
  EXPECT_EQ(IdentifyWordsToString(data, 24, 10, 19), "WD-W");
  EXPECT_EQ(IdentifyWordsToString(data, 23, 10, 19), "WD");
  EXPECT_EQ(IdentifyWordsToString(data, 0, 10, 19), "");
}

TEST(HardwareText, DriveIdentitySerial) {
  uint8_t data[512] = {};
  std::memcpy(data + 20, "  S21NNXAG123456    ", 20);
  EXPECT_EQ(DriveIdentitySerial(data, sizeof data), "  S21NNXAG123456");
  EXPECT_EQ(DriveIdentitySerial(data, 39), "");
}

TEST(HardwareText, UnitSerialPage) {
  static const struct {
    std::string page;
    const char* serial;
  } kCases[] = {
      {Bytes("\x00\x80\x00\x0c  WD-ABC123\x00", 16), "WD-ABC123"},
      {Bytes("\x00\x80\x00\x40"
             "SHORT",
             9),
       "SHORT"},  // length past the data
      {Bytes("\x00\x83\x00\x04"
             "ABCD",
             8),
       ""},  // another page
      {Bytes("\x00\x80\x00\x04"
             "AB\x01"
             "D",
             8),
       ""},                            // control byte
      {Bytes("\x00\x80\x00", 3), ""},  // truncated head
      {Bytes("\x00\x80\x00\x00"
             "IGNORED",
             11),
       ""},  // zero length
  };
  for (const auto& c : kCases) EXPECT_EQ(ParseUnitSerialPage(c.page), c.serial);
}

TEST(HardwareText, TrimSerialText) {
  EXPECT_EQ(TrimSerialText("  S4EWNX0R123456      \n"), "S4EWNX0R123456");
  EXPECT_EQ(TrimSerialText(Bytes("AB CD\0\0", 7)), "AB CD");
  EXPECT_EQ(TrimSerialText("AB\x7f"
                           "CD"),
            "");
  EXPECT_EQ(TrimSerialText("\n"), "");
}

TEST(HardwareText, MacAddressText) {
  static const struct {
    const char* text;
    bool ok;
  } kCases[] = {
      {"00:1a:2B:3c:4d:5e\n", true},
      {"00:1a:2b:3c:4d:5e", true},
      {"00:1a:2b:3c:4d\n", false},
      {"00:1a:2b:3c:4d:5e:6f\n", false},
      {"00-1a-2b-3c-4d-5e\n", false},
      {"00:1a:2b:3c:4d:5g\n", false},
      {"", false},
      {"00:1a:2b:3c:4d:5e\n\n", false},
  };
  for (const auto& c : kCases) {
    uint8_t mac[6] = {};
    EXPECT_EQ(ParseMacAddressText(c.text, mac), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(FormatMacText(mac, 6), "001A2B3C4D5E");
    }
  }
}

TEST(HardwareText, SysfsNumber) {
  uint32_t v = 99;
  EXPECT_TRUE(ParseSysfsNumber("1\n", &v));
  EXPECT_EQ(v, 1u);
  EXPECT_TRUE(ParseSysfsNumber("772", &v));
  EXPECT_EQ(v, 772u);
  for (const char* bad : {"", "\n", "-1", "1 ", "0x1", "99999999999"}) {
    EXPECT_FALSE(ParseSysfsNumber(bad, &v)) << bad;
  }
}

TEST(HardwareText, UdevAndCpuInfoFields) {
  const std::string record =
      "S:disk/by-id/x\nE:ID_SERIAL=long\nE:ID_SCSI_SERIAL_X=no\nE:ID_SCSI_SERIAL=  AB12 \n";
  EXPECT_EQ(FindUdevProperty(record, "ID_SCSI_SERIAL"), "  AB12 ");
  EXPECT_EQ(FindUdevProperty(record, "ID_MISSING"), "");
  EXPECT_EQ(FindUdevProperty("E:ID_SCSI_SERIAL", "ID_SCSI_SERIAL"), "");

  const std::string cpuinfo =
      "processor\t: 0\nmodel name\t:  Test CPU @ 2.00GHz \nSerial\t\t: 00000000abcdef01";
  std::string value;
  EXPECT_TRUE(FindCpuInfoField(cpuinfo, "model name", &value));
  EXPECT_EQ(value, "Test CPU @ 2.00GHz");
  EXPECT_TRUE(FindCpuInfoField(cpuinfo, "Serial", &value));
  EXPECT_EQ(value, "00000000abcdef01");
  EXPECT_FALSE(FindCpuInfoField(cpuinfo, "model", &value));
}

TEST(HardwareText, IdentityDiskNames) {
  for (const char* yes : {"sda", "sdab", "vda", "xvda", "nvme0n1", "nvme12n3", "mmcblk0", "hda"}) {
    EXPECT_TRUE(IsIdentityDiskName(yes)) << yes;
  }
  for (const char* no : {"loop0", "ram1", "zram0", "dm-0", "md127", "nbd3", "sr0", "fd0", "mmcblk0boot0",
                         "mmcblk1boot1", "mmcblk0rpmb", "nvme0c0n1", "nvme1c12n2", ""}) {
    EXPECT_FALSE(IsIdentityDiskName(no)) << no;
  }
}

TEST(HardwareText, BusPathOrder) {
  static const struct {
    const char* a;
    const char* b;
  } kLess[] = {
      {"/sys/devices/pci0000:00/0000:00:17.0/ata2/host1", "/sys/devices/pci0000:00/0000:00:17.0/ata10/host9"},
      {"/sys/devices/pci0000:00/0000:00:09.0/x", "/sys/devices/pci0000:00/0000:00:0a.0/x"},
      {"/sys/devices/pci0000:00/0000:00:1f.2/x", "/sys/devices/pci0000:00/0000:00:20.0/x"},
      {"/sys/devices/pci0000:00/x", "/sys/devices/pci0000:00/x/y"},
      {"host2", "host02"},
  };
  for (const auto& c : kLess) {
    EXPECT_TRUE(BusPathLess(c.a, c.b)) << c.a << " < " << c.b;
    EXPECT_FALSE(BusPathLess(c.b, c.a)) << c.b << " < " << c.a;
  }
  EXPECT_FALSE(BusPathLess("same/1", "same/1"));

  // std::sort needs a strict weak order: with a digit run compared by value
  // but against other characters by code, "f" < "10" < ":" < "f" would loop.
  const char* const kMixed[] = {"f",     "10",  ":", "f:", "10:", "0f", "a.0", "ata2",
                                "ata10", "ATA", "/", "",   "00",  "0",  "z9",  "zz"};
  for (const char* a : kMixed) {
    EXPECT_FALSE(BusPathLess(a, a)) << a;
    for (const char* b : kMixed) {
      if (std::string_view(a) != b) {
        EXPECT_NE(BusPathLess(a, b), BusPathLess(b, a)) << a << " " << b;
      }
      for (const char* c : kMixed) {
        if (BusPathLess(a, b) && BusPathLess(b, c)) {
          EXPECT_TRUE(BusPathLess(a, c)) << a << " < " << b << " < " << c;
        }
      }
    }
  }
}

}  // namespace
}  // namespace platform

#include "guid/disk_impl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/hardware.h"

namespace guid {
namespace {

std::string Repeat(const std::string& s, size_t times) {
  std::string r;
  for (size_t i = 0; i < times; ++i) r += s;
  return r;
}

TEST(DiskImpl, StripTrailingHexSpaces) {
  static const struct {
    const char* in;
    const char* out;
  } kCases[] = {
      {"AB2020", "AB"}, {"X2020", "X"}, {"2020", ""},     {"ABC0", "ABC0"}, {"ABC1220", "ABC12"}, {"20", ""},
      {"0", "0"},       {"", ""},       {"A20B", "A20B"}, {"202", "202"},   {"12020", "1"},
  };
  for (const auto& c : kCases) EXPECT_EQ(StripTrailingHexSpaces(c.in), c.out) << c.in;

  DiskImpl disk;
  AddDiskSerial(disk, "2020");
  AddDiskSerial(disk, "");
  EXPECT_TRUE(disk.values.empty());
  AddDiskSerial(disk, "WD12342020");
  EXPECT_EQ(disk.values, std::vector<std::string>{SaltedDigest("WD1234")});
}

// The descriptor text sits at an offset the device reports; each case is the
// data after that offset (the buffer is sized exactly, so that a read or write
// past it shows under the address sanitizer).
TEST(DiskImpl, DecodeDescriptorSerial) {
  static const struct {
    std::string text;
    std::string serial;
  } kCases[] = {
      // Hexadecimal text of byte-swapped characters, padded with spaces.
      {std::string("20204457312d3332\0", 17), "WD-123"},
      // " D" decodes to 0x0D: taken as plain text instead.
      {std::string("2020445731 D3332\0", 17), "0202447513D 3323"},
      {std::string("4457312D3332\0", 13), "WD-123"},
      // Plain text is swapped too; an odd count loses its last character.
      {std::string("ABCD\0", 5), "BADC"},
      {std::string("ABCDE\0", 6), "BADC"},
      {std::string("DW1-32\0", 7), "WD-123"},
      {std::string("  zz  \0", 7), "zz"},
      {std::string("AB\x01"
                   "CD\0",
                   6),
       ""},
      // A pair decoding to a byte that is neither NUL nor printable: plain pass.
      {std::string("0141\0", 5), "1014"},
      // White space counts as "0" in the hexadecimal pass.
      {std::string("    \0", 5), ""},
      // No terminator: the text ends with the data.
      {std::string("AB", 2), "BA"},
      {std::string("A", 1), ""},
      {std::string("", 0), ""},
  };
  for (const auto& c : kCases) {
    std::vector<uint8_t> buffer(8 + c.text.size(), 0xEE);
    std::memcpy(buffer.data() + 8, c.text.data(), c.text.size());
    char out[kDescriptorSerialSize];
    std::memset(out, 'X', sizeof out);
    DecodeDescriptorSerial(buffer.data(), buffer.size(), 8, out);
    EXPECT_EQ(std::string(out), c.serial) << c.text;
  }
}

TEST(DiskImpl, DecodeDescriptorSerialBounds) {
  std::vector<uint8_t> buffer(64, 'A');
  char out[kDescriptorSerialSize];
  for (size_t offset : {size_t{64}, size_t{65}, size_t{5000}}) {
    std::memset(out, 'X', sizeof out);
    DecodeDescriptorSerial(buffer.data(), buffer.size(), offset, out);
    EXPECT_STREQ(out, "") << offset;
  }

  // Serials of 254 to 256 characters, plain and hexadecimal: at most 255 are
  // taken; 255 is odd, so the swap leaves 254.
  static const struct {
    size_t length;
    size_t kept;
  } kLong[] = {{254, 254}, {255, 254}, {256, 254}, {300, 254}};
  for (const auto& c : kLong) {
    std::string plain = Repeat("AB", c.length).substr(0, c.length);
    std::string hex = Repeat("4142", c.length).substr(0, 2 * c.length);
    for (const std::string& text : {plain, hex}) {
      std::vector<uint8_t> data(text.begin(), text.end());  // no terminator
      std::memset(out, 'X', sizeof out);
      DecodeDescriptorSerial(data.data(), data.size(), 0, out);
      EXPECT_EQ(std::string(out), Repeat("BA", c.kept / 2)) << c.length << " " << text.size();
    }
  }
}

// IDENTIFY data whose serial words (10 to 19) hold serial, ATA-ordered, and
// whose model number starts with "XY".
std::vector<uint8_t> Identify(const std::string& serial) {
  std::vector<uint8_t> data(512, 0);
  std::string padded = (serial + std::string(20, ' ')).substr(0, 20);
  for (int i = 0; i < 20; i += 2) {
    data[20 + i] = static_cast<uint8_t>(padded[i + 1]);
    data[21 + i] = static_cast<uint8_t>(padded[i]);
  }
  data[54] = 'Y';
  data[55] = 'X';
  return data;
}

// Fake devices: a path opens when it has a handler; the handler answers each
// I/O control (code, input, output) with the BOOL result.
using Handler =
    std::function<int(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size)>;

class FakeDevices : public platform::DeviceAnswers {
 public:
  FakeDevices() { platform::SetDeviceAnswersForTest(this); }
  ~FakeDevices() override { platform::SetDeviceAnswersForTest(nullptr); }

  void Add(const std::string& path, Handler handler) {
    handlers_[SrString(path.begin(), path.end())] = std::move(handler);
  }
  // The byte count a device reports as returned (default: the whole output).
  void SetReturned(const std::string& path, uint32_t bytes) {
    returned_[SrString(path.begin(), path.end())] = bytes;
  }
  bool Open(SrStringView path, uint32_t access) override {
    accesses_.push_back(access);
    return handlers_.count(SrString(path)) != 0;
  }
  int Control(SrStringView path, uint32_t code, const void* in, uint32_t in_size, void* out,
              uint32_t out_size, uint32_t* returned) override {
    auto it = returned_.find(SrString(path));
    *returned = it != returned_.end() ? it->second : out_size;
    return handlers_[SrString(path)](code, static_cast<const uint8_t*>(in), in_size,
                                     static_cast<uint8_t*>(out), out_size);
  }
  std::vector<uint32_t> accesses_;

 private:
  std::map<SrString, Handler> handlers_;
  std::map<SrString, uint32_t> returned_;
};

struct SmartDrive {
  uint8_t map;
  int result;
  uint32_t size;
  std::string serial;
  uint8_t command = 0, head = 0, number = 0xFF;  // what the request asked
};

TEST(DiskImpl, SmartStepTakesTheFirstDriveThatAnswers) {
  FakeDevices devices;
  SmartDrive drives[] = {
      {0x00, 1, 512, "NOMAP"},           // 1: no IDE map
      {0x40, 2, 512, "NOTTRUE"},         // 2: packet device; result not exactly TRUE
      {0x01, 1, 46, "SHORT"},            // 3: answer too short
      {0x01, 1, 512, "  WD-SMART1   "},  // 4: answers
      {0x01, 1, 512, "LATER"},           // 5: never asked
  };
  for (int i = 0; i < 5; ++i) {
    SmartDrive* drive = &drives[i];
    devices.Add("\\\\.\\PhysicalDrive" + std::to_string(i + 1),
                [drive](uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size) {
                  if (code == kSmartGetVersion) {
                    EXPECT_EQ(out_size, 24u);
                    out[3] = drive->map;
                    return 1;
                  }
                  EXPECT_EQ(code, kSmartRcvDriveData);
                  EXPECT_EQ(in_size, 32u);
                  EXPECT_EQ(out_size, 528u);
                  uint32_t buffer_size;
                  std::memcpy(&buffer_size, in, 4);
                  EXPECT_EQ(buffer_size, 512u);
                  EXPECT_EQ(in[5], 1);  // sector count
                  drive->head = in[9];
                  drive->command = in[10];
                  drive->number = in[12];
                  std::memcpy(out, &drive->size, 4);
                  std::vector<uint8_t> id = Identify(drive->serial);
                  std::memcpy(out + 16, id.data(), 512);
                  return drive->result;
                });
  }
  EXPECT_EQ(ReadSmartSerialFromDrives(), "  WD-SMART1");
  EXPECT_EQ(drives[0].number, 0xFF);  // no IDE map: no IDENTIFY sent
  EXPECT_EQ(drives[1].command, kAtaIdentifyPacketDevice);
  EXPECT_EQ(drives[1].head, 0xA0);
  EXPECT_EQ(drives[2].command, kAtaIdentifyDevice);
  EXPECT_EQ(drives[2].head, 0xB0);
  EXPECT_EQ(drives[3].number, 4);
  EXPECT_EQ(drives[4].number, 0xFF);
  EXPECT_EQ(devices.accesses_.front(), platform::kDeviceRead | platform::kDeviceWrite);
}

// A descriptor answer of 2048 bytes with the serial text at offset.
std::vector<uint8_t> Descriptor(uint32_t offset, const std::string& text) {
  std::vector<uint8_t> d(2048, 0);
  std::memcpy(d.data() + 24, &offset, 4);
  if (offset < d.size()) {
    std::memcpy(d.data() + offset, text.data(), std::min(text.size(), d.size() - offset));
  }
  return d;
}

TEST(DiskImpl, StorageStepDecodesAndChecksTheDescriptor) {
  FakeDevices devices;
  const std::vector<uint8_t> answers[] = {
      Descriptor(0, "5757"),           // 0: no serial offset
      Descriptor(4000, "5757"),        // 1: offset outside the answer
      Descriptor(64, "4457312d3332"),  // 2: serial past the 40 bytes returned
      Descriptor(2046, "ABCD"),        // 3: unterminated at the edge: "BA" is accepted
      Descriptor(64, "4457312d3332"),  // 4: never asked
  };
  devices.Add("\\\\.\\PhysicalDrive0", [](uint32_t, const uint8_t*, uint32_t, uint8_t*, uint32_t) {
    return 0;  // the query fails
  });
  devices.SetReturned("\\\\.\\PhysicalDrive3", 40);
  for (int i = 0; i < 5; ++i) {
    const std::vector<uint8_t>* answer = &answers[i];
    devices.Add(
        "\\\\.\\PhysicalDrive" + std::to_string(i + 1),
        [answer](uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size) {
          EXPECT_EQ(code, kStorageQueryProperty);
          EXPECT_EQ(in_size, 12u);
          EXPECT_EQ(in[0] | in[4], 0);
          EXPECT_EQ(out_size, 2048u);
          std::memcpy(out, answer->data(), 2048);
          return 1;
        });
  }
  EXPECT_EQ(ReadStorageSerialFromDrives(), "BA");
  EXPECT_EQ(devices.accesses_.front(), 0u);
}

TEST(DiskImpl, StorageStepAcceptsByFirstOrTwentiethCharacter) {
  static const struct {
    std::string text;  // plain, as the device gives it (pairs swapped)
    const char* serial;
  } kCases[] = {
      {"--------------------", ""},                      // neither is alphanumeric
      {"------------------X-", "-------------------X"},  // byte 19 is
      {"-A", "A-"},                                      // byte 0 is
  };
  for (const auto& c : kCases) {
    FakeDevices devices;
    std::vector<uint8_t> answer = Descriptor(100, c.text);
    devices.Add("\\\\.\\PhysicalDrive0", [&](uint32_t, const uint8_t*, uint32_t, uint8_t* out, uint32_t) {
      std::memcpy(out, answer.data(), 2048);
      return 1;
    });
    EXPECT_EQ(ReadStorageSerialFromDrives(), c.serial) << c.text;
  }
}

TEST(DiskImpl, ScsiMiniportStepAsksBothTargets) {
  FakeDevices devices;
  struct Target {
    int result;
    std::string serial;
    bool present;
  };
  // Scsi0: target 0 has no model byte, target 1 fails; Scsi1: target 1's
  // serial replaces target 0's.
  std::map<std::pair<int, int>, Target> targets = {
      {{0, 0}, {1, "ABSENT", false}},
      {{0, 1}, {0, "FAILED", true}},
      {{1, 0}, {1, "FIRST", true}},
      {{1, 1}, {1, "SECOND", true}},
  };
  for (int c = 0; c < 2; ++c) {
    devices.Add(
        "\\\\.\\Scsi" + std::to_string(c) + ":",
        [&targets, c](uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size) {
          EXPECT_EQ(code, kScsiMiniport);
          EXPECT_EQ(in, out);  // one buffer for both
          EXPECT_EQ(in_size, 60u);
          EXPECT_EQ(out_size, 557u);
          uint32_t header[7];
          std::memcpy(header, in, 28);
          EXPECT_EQ(header[0], 28u);
          EXPECT_EQ(std::memcmp(in + 4, "SCSIDISK", 8), 0);
          EXPECT_EQ(header[3], 10000u);
          EXPECT_EQ(header[4], kScsiMiniportIdentify);
          EXPECT_EQ(header[6], 529u);
          EXPECT_EQ(in[38], kAtaIdentifyDevice);
          const Target& t = targets.at({c, in[40]});
          std::vector<uint8_t> id = Identify(t.serial);
          if (!t.present) id[54] = 0;
          std::memcpy(out + 44, id.data(), 512);
          return t.result;
        });
  }
  EXPECT_EQ(ReadScsiMiniportSerialFromControllers(), "SECOND");
}

TEST(DiskImpl, CollectMergesOneDiskSeenByEveryStep) {
  if constexpr (!platform::kHardwareFromDeviceControls) {
    GTEST_SKIP() << "the Linux disk queries are tested over fixture trees";
  }
  FakeDevices devices;
  devices.Add("\\\\.\\PhysicalDrive0", [](uint32_t code, const uint8_t*, uint32_t, uint8_t* out, uint32_t) {
    if (code == kSmartGetVersion) {
      out[3] = 1;
    } else if (code == kSmartRcvDriveData) {
      uint32_t size = 512;
      std::memcpy(out, &size, 4);
      std::vector<uint8_t> id = Identify("WD-SAME");
      std::memcpy(out + 16, id.data(), 512);
    } else {
      std::vector<uint8_t> d = Descriptor(64, "2020442d57414553");  // "  D-WASE" swapped
      std::memcpy(out, d.data(), 2048);
    }
    return 1;
  });
  DiskImpl disk;
  EXPECT_EQ(disk.Collect(), kCollectOk);
  EXPECT_EQ(disk.values, std::vector<std::string>{SaltedDigest("WD-SAME")});
}

}  // namespace
}  // namespace guid

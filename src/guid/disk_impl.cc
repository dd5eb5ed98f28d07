#include "guid/disk_impl.h"

#include <algorithm>
#include <cstring>

#include "platform/hardware.h"
#include "platform/hardware_text.h"

namespace guid {

namespace {

constexpr int kMaxDrives = 16;
constexpr size_t kIdentifySize = 512;
constexpr size_t kMaxSerialText = kDescriptorSerialSize - 1;

bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }
bool IsAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

SrString DevicePath(const char* prefix, int number, const char* suffix) {
  std::string path = std::string(prefix) + std::to_string(number) + suffix;
  return SrString(path.begin(), path.end());
}

template <typename T>
void Put(uint8_t* buffer, const T& value) {
  std::memcpy(buffer, &value, sizeof value);
}

template <typename T>
T Get(const uint8_t* buffer) {
  T value;
  std::memcpy(&value, buffer, sizeof value);
  return value;
}

// The hexadecimal pass: k decoded bytes, or false when a byte is not a digit
// (white space counts as "0") or a pair decodes to a byte neither NUL nor
// printable. Stops once out holds kMaxSerialText bytes.
bool DecodeHexPass(std::string_view s, char* out, size_t* k) {
  size_t at = 0;
  int n = 0;
  out[0] = 0;
  for (char raw : s) {
    if (at == kMaxSerialText) break;
    unsigned char c = static_cast<unsigned char>(raw);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (IsSpace(c)) c = '0';
    uint8_t value = static_cast<uint8_t>(static_cast<uint8_t>(out[at]) << 4);
    ++n;
    if (c >= '0' && c <= '9') {
      value = static_cast<uint8_t>(value + (c - '0'));
    } else if (c >= 'a' && c <= 'f') {
      value = static_cast<uint8_t>(value + (c - 'a' + 10));
    } else {
      return false;
    }
    out[at] = static_cast<char>(value);
    if (n == 2) {
      if (value != 0 && !IsPrintable(value)) return false;
      ++at;
      n = 0;
      out[at] = 0;
    }
  }
  *k = at;
  return true;
}

// The serial of a storage device descriptor answer, when its first or
// twentieth byte is a letter or digit.
std::string AcceptDescriptorSerial(const uint8_t* answer, size_t size) {
  char text[kDescriptorSerialSize] = {};
  constexpr size_t kOffsetField = offsetof(StorageDeviceDescriptor, SerialNumberOffset);
  if (size < kOffsetField + sizeof(uint32_t)) return std::string();
  uint32_t offset = Get<uint32_t>(answer + kOffsetField);
  if (offset > 0) DecodeDescriptorSerial(answer, size, offset, text);
  if (!IsAlnum(static_cast<unsigned char>(text[0])) && !IsAlnum(static_cast<unsigned char>(text[19]))) {
    return std::string();
  }
  return std::string(text);
}

}  // namespace

std::string StripTrailingHexSpaces(std::string_view text) {
  std::ptrdiff_t i = static_cast<std::ptrdiff_t>(text.size()) - 1;
  const std::ptrdiff_t last = i;
  while (i > 0 && text[static_cast<size_t>(i)] == '0' && text[static_cast<size_t>(i - 1)] == '2') {
    i -= 2;
  }
  if (i == last) return std::string(text);
  return std::string(text.substr(0, static_cast<size_t>(i + 1)));
}

void AddDiskSerial(DiskImpl& disk, std::string_view serial) {
  if (serial.empty()) return;
  std::string stripped = StripTrailingHexSpaces(serial);
  if (!stripped.empty()) AddDigest(disk, stripped);
}

void DecodeDescriptorSerial(const uint8_t* buffer, size_t size, size_t offset,
                            char out[kDescriptorSerialSize]) {
  out[0] = 0;
  if (offset >= size) return;
  const char* start = reinterpret_cast<const char*>(buffer) + offset;
  const size_t room = size - offset;
  const void* nul = std::memchr(start, 0, room);
  std::string_view s(start,
                     nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - start) : room);

  size_t k = 0;
  if (!DecodeHexPass(s, out, &k)) {
    // Plain pass: printable bytes as they are; any other byte empties it.
    k = 0;
    for (char c : s) {
      if (!IsPrintable(static_cast<unsigned char>(c))) {
        k = 0;
        break;
      }
      if (k == kMaxSerialText) break;
      out[k++] = c;
    }
  }
  out[k] = 0;
  // The device gives the characters of each pair swapped. For an odd count the
  // last swap moves the last character behind the terminator.
  if (k > 0) {
    for (size_t pair = 0; pair <= (k - 1) / 2; ++pair) std::swap(out[2 * pair], out[2 * pair + 1]);
  }
  size_t length = std::strlen(out);
  size_t first = 0;
  while (first < length && IsSpace(static_cast<unsigned char>(out[first]))) ++first;
  if (first == length) return;  // white space only (or empty) stays as it is
  size_t end = length;
  while (IsSpace(static_cast<unsigned char>(out[end - 1]))) --end;
  std::memmove(out, out + first, end - first);
  out[end - first] = 0;
}

std::string ReadSmartSerialFromDrives() {
  for (int d = 0; d < kMaxDrives; ++d) {
    platform::IoDevice drive;
    if (!drive.Open(DevicePath("\\\\.\\PhysicalDrive", d, ""),
                    platform::kDeviceRead | platform::kDeviceWrite)) {
      continue;
    }
    uint8_t version[sizeof(GetVersionInParams)] = {};
    drive.Control(kSmartGetVersion, nullptr, 0, version, sizeof version, nullptr);
    const uint8_t map = version[offsetof(GetVersionInParams, bIDEDeviceMap)];
    if (map == 0) continue;

    SendCmdInParams in;
    std::memset(&in, 0, sizeof in);
    in.cBufferSize = kIdentifySize;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bDriveHeadReg = (d & 1) == 0 ? 0xA0 : 0xB0;
    in.irDriveRegs.bCommandReg = ((map >> d) & 0x10) != 0 ? kAtaIdentifyPacketDevice : kAtaIdentifyDevice;
    in.bDriveNumber = static_cast<uint8_t>(d);
    uint8_t request[sizeof in];
    Put(request, in);
    uint8_t answer[offsetof(SendCmdOutParams, bBuffer) + kIdentifySize] = {};
    if (drive.Control(kSmartRcvDriveData, request, sizeof request - 1, answer, sizeof answer, nullptr) != 1 ||
        Get<uint32_t>(answer) <= 46) {
      continue;
    }
    return platform::IdentifyWordsToString(answer + offsetof(SendCmdOutParams, bBuffer), kIdentifySize, 10,
                                           19);
  }
  return std::string();
}

std::string ReadStorageSerialFromDrives() {
  for (int d = 0; d < kMaxDrives; ++d) {
    platform::IoDevice drive;
    if (!drive.Open(DevicePath("\\\\.\\PhysicalDrive", d, ""), 0)) continue;
    uint8_t query[sizeof(StoragePropertyQuery)] = {};
    uint8_t answer[2048] = {};
    uint32_t returned = 0;
    if (drive.Control(kStorageQueryProperty, query, sizeof query, answer, sizeof answer, &returned) == 0) {
      continue;
    }
    // The serial offset is the device's word: only the bytes it returned count.
    std::string serial = AcceptDescriptorSerial(answer, std::min<size_t>(returned, sizeof answer));
    if (!serial.empty()) return serial;
  }
  return std::string();
}

std::string ReadScsiMiniportSerialFromControllers() {
  constexpr size_t kHead = sizeof(SrbIoControl);
  constexpr size_t kData = kHead + offsetof(SendCmdOutParams, bBuffer);  // 44
  constexpr size_t kSize = kData + kIdentifySize + 1;                    // 557
  static_assert(kData == 44 && kSize == 557);
  for (int c = 0; c < kMaxDrives; ++c) {
    platform::IoDevice controller;
    if (!controller.Open(DevicePath("\\\\.\\Scsi", c, ":"), platform::kDeviceRead | platform::kDeviceWrite)) {
      continue;
    }
    std::string serial;
    for (uint8_t j = 0; j < 2; ++j) {
      uint8_t buffer[kSize] = {};
      SrbIoControl srb = {};
      srb.HeaderLength = kHead;
      std::memcpy(srb.Signature, "SCSIDISK", 8);
      srb.Timeout = 10000;
      srb.ControlCode = kScsiMiniportIdentify;
      srb.Length = kSize - kHead;
      Put(buffer, srb);
      buffer[kHead + offsetof(SendCmdInParams, irDriveRegs) + offsetof(IdeRegisters, bCommandReg)] =
          kAtaIdentifyDevice;
      buffer[kHead + offsetof(SendCmdInParams, bDriveNumber)] = j;
      if (controller.Control(kScsiMiniport, buffer, kHead + offsetof(SendCmdInParams, bBuffer), buffer, kSize,
                             nullptr) != 0 &&
          buffer[kData + 54] != 0) {
        serial = platform::IdentifyWordsToString(buffer + kData, kIdentifySize, 10, 19);
      }
    }
    if (!serial.empty()) return serial;
  }
  return std::string();
}

std::string ReadSmartSerial() {
  if constexpr (platform::kHardwareFromDeviceControls) return ReadSmartSerialFromDrives();
  return platform::QueryAtaIdentifySerial();
}

std::string ReadStorageSerial() {
  if constexpr (platform::kHardwareFromDeviceControls) return ReadStorageSerialFromDrives();
  return platform::QueryKernelDiskSerial();
}

std::string ReadScsiMiniportSerial() {
  if constexpr (platform::kHardwareFromDeviceControls) {
    return ReadScsiMiniportSerialFromControllers();
  }
  return platform::QueryScsiUnitSerial();
}

uint32_t DiskImpl::Collect() {
  if (TakeReplacedValues(CollectorKind::kDisk, *this)) return kCollectOk;
  AddDiskSerial(*this, ReadSmartSerial());
  AddDiskSerial(*this, ReadStorageSerial());
  AddDiskSerial(*this, ReadScsiMiniportSerial());
  SortUnique(*this);
  return kCollectOk;
}

}  // namespace guid

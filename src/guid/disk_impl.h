// Disk collector: up to three drive serial numbers, one from each kind of
// device query.
#ifndef STATRELAY_GUID_DISK_IMPL_H_
#define STATRELAY_GUID_DISK_IMPL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "guid/hardware_manager_base.h"

namespace guid {

class DiskImpl : public HardwareManagerBase {
 public:
  // Digests of the serials of ReadSmartSerial, ReadStorageSerial and
  // ReadScsiMiniportSerial (usually fewer than three once equal ones are
  // merged); always kCollectOk.
  uint32_t Collect() override;
};

// The text without trailing "20" pairs (hexadecimal spaces), never touching
// its first character: AB2020 -> AB, X2020 -> X, 2020 -> "", ABC0 unchanged.
std::string StripTrailingHexSpaces(std::string_view text);

// StripTrailingHexSpaces, then AddDigest unless nothing is left.
void AddDiskSerial(DiskImpl& disk, std::string_view serial);

// Decodes the serial text of a storage device descriptor: the NUL-terminated
// bytes at offset in buffer (size bytes), read as hexadecimal digit pairs when
// they all are and each pair gives a printable byte or NUL, else as plain
// printable text; then every pair of characters swapped back and the result
// trimmed of white space. out receives a NUL-terminated text of at most 255
// characters. Bounds: an offset at or past size gives the empty text; a text
// without a NUL before the end of the buffer ends there; a text longer than
// 255 characters (decoded) is cut to 255 before the swap.
inline constexpr size_t kDescriptorSerialSize = 256;
void DecodeDescriptorSerial(const uint8_t* buffer, size_t size, size_t offset,
                            char out[kDescriptorSerialSize]);

// The answers of each disk query: the serial of the first drive (or
// controller) that answers, empty when none does. Windows asks the drives with
// device I/O controls (the *FromDrives forms below); Linux asks the drive's
// cached identity, sysfs and the udev database (platform/hardware.h).
std::string ReadSmartSerial();
std::string ReadStorageSerial();
std::string ReadScsiMiniportSerial();

// The device I/O control forms, over "\\.\PhysicalDrive0" to 15 and
// "\\.\Scsi0:" to 15.
std::string ReadSmartSerialFromDrives();
std::string ReadStorageSerialFromDrives();
std::string ReadScsiMiniportSerialFromControllers();

// Device I/O control codes and ATA commands of the queries.
inline constexpr uint32_t kSmartGetVersion = 0x00074080;
inline constexpr uint32_t kSmartRcvDriveData = 0x0007C088;
inline constexpr uint32_t kStorageQueryProperty = 0x002D1400;
inline constexpr uint32_t kScsiMiniport = 0x0004D008;
inline constexpr uint32_t kScsiMiniportIdentify = 0x001B0501;
inline constexpr uint8_t kAtaIdentifyDevice = 0xEC;
inline constexpr uint8_t kAtaIdentifyPacketDevice = 0xA1;

// Byte layouts of the requests and answers (packed, as the driver interface
// declares them; the same on 32- and 64-bit Windows).
#pragma pack(push, 1)
struct IdeRegisters {  // IDEREGS
  uint8_t bFeaturesReg;
  uint8_t bSectorCountReg;
  uint8_t bSectorNumberReg;
  uint8_t bCylLowReg;
  uint8_t bCylHighReg;
  uint8_t bDriveHeadReg;
  uint8_t bCommandReg;
  uint8_t bReserved;
};
struct GetVersionInParams {  // GETVERSIONINPARAMS
  uint8_t bVersion;
  uint8_t bRevision;
  uint8_t bReserved;
  uint8_t bIDEDeviceMap;
  uint32_t fCapabilities;
  uint32_t dwReserved[4];
};
struct SendCmdInParams {  // SENDCMDINPARAMS
  uint32_t cBufferSize;
  IdeRegisters irDriveRegs;
  uint8_t bDriveNumber;
  uint8_t bReserved[3];
  uint32_t dwReserved[4];
  uint8_t bBuffer[1];
};
struct DriverStatusBlock {  // DRIVERSTATUS
  uint8_t bDriverError;
  uint8_t bIDEError;
  uint8_t bReserved[2];
  uint32_t dwReserved[2];
};
struct SendCmdOutParams {  // SENDCMDOUTPARAMS
  uint32_t cBufferSize;
  DriverStatusBlock DriverStatus;
  uint8_t bBuffer[1];
};
struct SrbIoControl {  // SRB_IO_CONTROL
  uint32_t HeaderLength;
  uint8_t Signature[8];
  uint32_t Timeout;
  uint32_t ControlCode;
  uint32_t ReturnCode;
  uint32_t Length;
};
#pragma pack(pop)
struct StoragePropertyQuery {  // STORAGE_PROPERTY_QUERY
  uint32_t PropertyId;         // StorageDeviceProperty = 0
  uint32_t QueryType;          // PropertyStandardQuery = 0
  uint8_t AdditionalParameters[1];
};
struct StorageDeviceDescriptor {  // STORAGE_DEVICE_DESCRIPTOR
  uint32_t Version;
  uint32_t Size;
  uint8_t DeviceType;
  uint8_t DeviceTypeModifier;
  uint8_t RemovableMedia;
  uint8_t CommandQueueing;
  uint32_t VendorIdOffset;
  uint32_t ProductIdOffset;
  uint32_t ProductRevisionOffset;
  uint32_t SerialNumberOffset;
  uint32_t BusType;
  uint32_t RawPropertiesLength;
  uint8_t RawDeviceProperties[1];
};

static_assert(sizeof(IdeRegisters) == 8);
static_assert(sizeof(GetVersionInParams) == 24 && offsetof(GetVersionInParams, bIDEDeviceMap) == 3);
static_assert(sizeof(SendCmdInParams) == 33 && offsetof(SendCmdInParams, irDriveRegs) == 4 &&
              offsetof(SendCmdInParams, bDriveNumber) == 12 && offsetof(SendCmdInParams, bBuffer) == 32);
static_assert(offsetof(IdeRegisters, bDriveHeadReg) == 5 && offsetof(IdeRegisters, bCommandReg) == 6);
static_assert(sizeof(SendCmdOutParams) == 17 && offsetof(SendCmdOutParams, bBuffer) == 16);
static_assert(sizeof(SrbIoControl) == 28 && offsetof(SrbIoControl, Signature) == 4 &&
              offsetof(SrbIoControl, Timeout) == 12 && offsetof(SrbIoControl, ControlCode) == 16 &&
              offsetof(SrbIoControl, Length) == 24);
static_assert(sizeof(StoragePropertyQuery) == 12);
static_assert(sizeof(StorageDeviceDescriptor) == 40 &&
              offsetof(StorageDeviceDescriptor, SerialNumberOffset) == 24);

}  // namespace guid

#endif  // STATRELAY_GUID_DISK_IMPL_H_

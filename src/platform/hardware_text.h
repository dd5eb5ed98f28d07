// Pure, bounded parsers of hardware answers: ATA IDENTIFY data, the SCSI unit
// serial number page, and the texts Linux publishes about disks, network
// interfaces and processors. None of them trusts a length it is given inside
// the data; all of them read only within [data, data + size).
#ifndef STATRELAY_PLATFORM_HARDWARE_TEXT_H_
#define STATRELAY_PLATFORM_HARDWARE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// IDENTIFY data is 256 little-endian 16-bit words; ATA strings store two
// characters per word, the first in the high byte. Appends, for word index
// first to last inclusive, the high and then the low byte of each word (zero
// bytes too), then removes trailing spaces. Words that lie outside the size
// bytes of data are left out.
std::string IdentifyWordsToString(const uint8_t* data, size_t size, int first, int last);

// The serial field of the drive identity Linux returns for HDIO_GET_IDENTITY
// (bytes 20 to 39; the kernel stores its strings in reading order, not as ATA
// words), with trailing spaces removed: the same text IdentifyWordsToString
// makes of words 10 to 19 of the raw IDENTIFY data.
std::string DriveIdentitySerial(const uint8_t* data, size_t size);

// The product serial number of a SCSI unit serial number page (page code 0x80:
// byte 1 the page code, bytes 2-3 the big-endian length, the text from byte 4),
// with leading and trailing spaces and NULs removed. Empty when the page is not
// that page, or the text holds a byte that is not printable ASCII. A length
// that runs past the data is cut at the data's end.
std::string ParseUnitSerialPage(std::string_view page);

// A serial text as Linux publishes it in sysfs or the udev database: surrounding
// white space and NULs removed; empty when what is left holds a byte that is
// not printable ASCII.
std::string TrimSerialText(std::string_view text);

// Parses "aa:bb:cc:dd:ee:ff" (either case, optionally followed by one line
// feed) into 6 bytes. False for any other length or form.
bool ParseMacAddressText(std::string_view text, uint8_t out[6]);

// The bytes as two upper-case hexadecimal digits each, no separators.
std::string FormatMacText(const uint8_t* bytes, size_t size);

// A small decimal number as sysfs gives it ("1\n"). False when the text is not
// digits (optionally followed by one line feed) or the number exceeds 1,000,000.
bool ParseSysfsNumber(std::string_view text, uint32_t* value);

// The value of "E:<key>=<value>" in a udev database record; empty when absent.
std::string FindUdevProperty(std::string_view record, std::string_view key);

// The value of the first "<name> : <value>" line of /proc/cpuinfo whose name,
// trimmed of spaces and tabs, equals name; trimmed of surrounding white space.
// False when there is none.
bool FindCpuInfoField(std::string_view cpuinfo, std::string_view name, std::string* value);

// True for a block device name that can hold a drive serial: not loop, ram,
// zram, dm-, md, nbd, sr, fd, mmcblkNbootM, mmcblkNrpmb, nor a hidden NVMe path
// nvmeXcYnZ.
bool IsIdentityDiskName(std::string_view name);

// Order of device paths by bus position: runs of lower-case hexadecimal digits
// compare by value ("ata2" before "ata10", "0000:00:09.0" before
// "0000:00:0a.0") and after any other character; everything else byte by
// byte. A strict total order, fit for std::sort.
bool BusPathLess(std::string_view a, std::string_view b);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_HARDWARE_TEXT_H_

// Profile (INI) files, read and written as the library does with
// GetPrivateProfileStringW, GetPrivateProfileIntW, GetPrivateProfileSectionW,
// GetPrivateProfileSectionNamesW and WritePrivateProfileStringW.
//
// Windows: those calls. Linux: our own reader and writer giving the same
// results for the same file and buffer size:
// - section and key names compared without regard to ASCII case; the first
//   section of a name is the one read, and within it the first key;
// - blanks around names and values are trimmed; a value in matching single or
//   double quotes is returned without them by ReadProfileString;
// - results are cut to the buffer: a text to size-1 units plus its NUL
//   (returning size-1); a list to size-2 units plus two NULs (returning size-2);
// - a missing file, section or key gives the default;
// - files are UTF-8 (a UTF-8 byte order mark is skipped); unreadable input
//   (a folder, no permission, bytes that are not UTF-8, NUL bytes) gives a
//   defined result, never a crash;
// - writes create the file and the section, replace a key's value in place,
//   keep every other line byte for byte, and replace the file atomically
//   (another process reads the old file or the new one, never a mix).
// Writers of one file in several processes must serialise among themselves
// (as on Windows, two concurrent writers may lose one of the updates).
//
// All texts are NUL-terminated; section and key must not be null.
#ifndef STATRELAY_PLATFORM_PROFILE_H_
#define STATRELAY_PLATFORM_PROFILE_H_

#include <cstdint>
#include <memory>

#include "platform/text.h"

namespace platform {

// GetPrivateProfileStringW(section, key, default, buffer, size, file): copies
// the value (or the default, whose trailing blanks are dropped; null = "") into
// buffer and returns the units copied without the NUL. size 0 copies nothing.
uint32_t ReadProfileString(const SRCHAR* section, const SRCHAR* key, const SRCHAR* default_value,
                           SRCHAR* buffer, uint32_t size, const SRCHAR* file);

// GetPrivateProfileIntW: the value read as a number (leading blanks and a sign
// allowed, "0x" hexadecimal, digits up to the first other character; no digits
// give 0), or default_value when the key is missing or empty.
uint32_t ReadProfileInt(const SRCHAR* section, const SRCHAR* key, int32_t default_value, const SRCHAR* file);

// GetPrivateProfileSectionW: the lines of the first section of that name as
// "key=value" texts (a line without "=" as it stands; comments starting with
// ";" and blank lines left out), each NUL-terminated, the list ending with a
// second NUL. Returns the units written without the final NUL.
uint32_t ReadProfileSection(const SRCHAR* section, SRCHAR* buffer, uint32_t size, const SRCHAR* file);

// GetPrivateProfileSectionNamesW: every section name in file order (a name
// that occurs twice is listed twice), as a NUL-separated list ending with a
// second NUL. Returns the units written without the final NUL.
uint32_t ReadProfileSectionNames(SRCHAR* buffer, uint32_t size, const SRCHAR* file);

// The section names and sections of one file, answered as the two calls
// above answer them. Linux reads and parses the file once, when the snapshot
// is made, so that every answer comes from one version of it; Windows asks
// the system at each call, as the calls above do.
class ProfileSnapshot {
 public:
  explicit ProfileSnapshot(const SRCHAR* file);
  ~ProfileSnapshot();
  ProfileSnapshot(const ProfileSnapshot&) = delete;
  ProfileSnapshot& operator=(const ProfileSnapshot&) = delete;

  uint32_t SectionNames(SRCHAR* buffer, uint32_t size) const;
  uint32_t Section(const SRCHAR* section, SRCHAR* buffer, uint32_t size) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// WritePrivateProfileStringW(section, key, value, file) with a value: sets the
// key (leading blanks of the value are not kept). Linux refuses texts with a
// line break or a NUL, which would change other lines. False on failure.
bool WriteProfileEntry(const SRCHAR* section, const SRCHAR* key, const SRCHAR* value, const SRCHAR* file);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_PROFILE_H_

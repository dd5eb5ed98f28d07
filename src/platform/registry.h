// Registry service: HKLM and HKCU keys holding typed values.
//
// Windows: the real registry. HKLM is always reached in the view a 32-bit
// process sees by default, also from a 64-bit build, so that 32- and 64-bit
// hosts and the upload process share one set of lists; HKCU as it is.
// Linux: a SQLite hive at <system root>/registry.db; key and value names are
// compared without regard to ASCII case, values are enumerated in creation
// order, HKCU is kept per user id, and every change is one transaction. Any
// local user may lock the hive: a read waits at most 250 ms and a write at
// most 2 s for other processes, then fails with kErrBusy.
//
// Every result is a Win32 error code (the same numbers on both systems).
//
// Names: a path is key names joined by '\' (a leading '\' is refused with
// kErrBadPathname; repeated and trailing ones count as one); a key name holds
// at most 255 code units, a value name 16,383 (kErrInvalidParameter beyond).
// The empty value name is the key's default value.
// A name keeps the spelling it was first written with.
#ifndef STATRELAY_PLATFORM_REGISTRY_H_
#define STATRELAY_PLATFORM_REGISTRY_H_

#include <cstdint>

#include "platform/text.h"

namespace platform {

enum class RegRoot { kLocalMachine, kCurrentUser };

// Which view of a 64-bit Windows registry a call reaches: the library's (HKLM
// in the 32-bit view, HKCU as it is), or the 32-bit or 64-bit view of both
// roots (for tools). Linux has one view.
enum class RegView { kLibrary, k32, k64 };

inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegQword = 11;

inline constexpr long kErrSuccess = 0;
inline constexpr long kErrFileNotFound = 2;  // key or value missing
inline constexpr long kErrAccessDenied = 5;
inline constexpr long kErrInvalidHandle = 6;  // the key object is not open
inline constexpr long kErrInvalidParameter = 87;
inline constexpr long kErrBadPathname = 161;  // a path that starts with '\'
inline constexpr long kErrMoreData = 234;     // name or data does not fit
inline constexpr long kErrNoMoreItems = 259;  // enumeration index past the end
inline constexpr long kErrKeyDeleted = 1018;  // the open key was deleted meanwhile
inline constexpr long kErrRegistryIo = 1016;  // the store failed (Linux: the hive file)
inline constexpr long kErrBusy = 170;         // Linux: the hive stayed locked by another process

// An open key. Move-only; closes itself. Not for concurrent use of one object.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens an existing key for reading, or for reading and writing.
  long Open(RegRoot root, SrStringView path, bool writable, RegView view = RegView::kLibrary);
  // Opens the key, creating it and its missing parents first (with the open
  // security attributes, so that every user may change them).
  long Create(RegRoot root, SrStringView path, RegView view = RegView::kLibrary);
  bool IsOpen() const { return handle_ != nullptr; }
  void Close();

  // Stores a value (an existing value of that name keeps its place in the
  // enumeration order and its spelling). REG_SZ / REG_EXPAND_SZ data is the
  // code units, a NUL is not required: text data of an even size >= 2 whose
  // last code unit is not NUL is stored with a NUL added (as Windows does when
  // a NUL follows the given size, which a C string always has), so that both
  // systems report the same size. Other data is stored exactly.
  // kErrAccessDenied on a key opened for reading.
  long SetValue(SrStringView name, uint32_t type, const void* data, uint32_t size);
  // Reads a value. *size: in = room in bytes, out = bytes of the value. With no
  // data buffer, only type and size are returned. kErrMoreData when it does not fit.
  long QueryValue(SrStringView name, uint32_t* type, void* data, uint32_t* size) const;
  long DeleteValue(SrStringView name);
  long CountValues(uint32_t* count) const;
  long CountSubKeys(uint32_t* count) const;
  // The index-th value in enumeration order. *name_length: in = room in code
  // units including the NUL, out = code units written without the NUL. *size as
  // for QueryValue. kErrMoreData when the name or the data does not fit,
  // kErrNoMoreItems past the last value. type, data and size may be null.
  long EnumValue(uint32_t index, SRCHAR* name, uint32_t* name_length, uint32_t* type, void* data,
                 uint32_t* size) const;
  // The index-th direct subkey's name, kErrNoMoreItems past the last. Subkeys
  // come sorted by name, compared code unit by code unit after ASCII letters are
  // made upper case (the order of the Windows registry).
  long EnumSubKey(uint32_t index, SrString* name) const;

 private:
  void* handle_ = nullptr;  // HKEY on Windows, backend key record on Linux
};

// One-call helpers in the manner of SHGetValueW / SHSetValueW / SHDeleteValueW,
// with the results of the RegistryKey calls (REG_EXPAND_SZ data is returned
// as stored, never expanded).
long GetRegistryValue(RegRoot root, SrStringView path, SrStringView name, uint32_t* type, void* data,
                      uint32_t* size);
// Creates the key when missing, with the default security as SHSetValueW does
// (Windows: the creator's; Linux: key and value in one transaction).
long SetRegistryValue(RegRoot root, SrStringView path, SrStringView name, uint32_t type, const void* data,
                      uint32_t size);
long DeleteRegistryValue(RegRoot root, SrStringView path, SrStringView name);
// Deletes a key with all its subkeys and values. An empty path is refused
// (kErrInvalidParameter): a root is never emptied.
long DeleteRegistryTree(RegRoot root, SrStringView path, RegView view = RegView::kLibrary);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_REGISTRY_H_

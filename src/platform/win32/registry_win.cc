// Registry service on Windows: the real registry. HKLM is reached in the 32-bit
// view from every build (KEY_WOW64_32KEY; a 32-bit process is in that view
// anyway, and 32-bit Windows ignores the flag).
#include "platform/registry.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/security.h"

namespace platform {
namespace {

HKEY RootKey(RegRoot root) { return root == RegRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// The view flag for an access below `root`. Calls that take no access mask
// (RegDeleteTreeW, SHGetValueW) must open the key with it first.
REGSAM ViewFlag(RegRoot root, RegView view) {
  switch (view) {
    case RegView::k32: return KEY_WOW64_32KEY;
    case RegView::k64: return KEY_WOW64_64KEY;
    case RegView::kLibrary: break;
  }
  return root == RegRoot::kLocalMachine ? KEY_WOW64_32KEY : 0;
}

HKEY KeyOf(void* handle) { return static_cast<HKEY>(handle); }

std::wstring Wide(SrStringView s) { return std::wstring(s.data(), s.size()); }

bool IsText(uint32_t type) { return type == kRegSz || type == kRegExpandSz; }

// The bytes handed to RegSetValueExW. Text of an even size whose last code unit
// is not NUL gets one. The copy ends in non-NUL padding beyond the size given,
// because the system itself extends text data by a NUL it finds just past the
// given size: with the padding, what is stored depends on the arguments alone.
std::vector<BYTE> StoredData(uint32_t type, const void* data, uint32_t size, DWORD* stored) {
  std::vector<BYTE> bytes(static_cast<size_t>(size) + 4, 0xFF);
  if (size != 0) std::memcpy(bytes.data(), data, size);
  *stored = size;
  if (IsText(type) && size >= 2 && size % 2 == 0 && (bytes[size - 1] != 0 || bytes[size - 2] != 0)) {
    bytes[size] = 0;
    bytes[size + 1] = 0;
    *stored += 2;
  }
  return bytes;  // bytes past *stored are 0xFF
}

// Larger than the system stores (and, in a 32-bit process, than the copy below
// could hold without its size wrapping).
constexpr uint32_t kMaxValueBytes = 0x7FFFFFF0;

long SetValueOn(HKEY key, SrStringView name, uint32_t type, const void* data, uint32_t size) {
  if (data == nullptr && size != 0) return kErrInvalidParameter;
  if (size > kMaxValueBytes) return kErrInvalidParameter;
  DWORD stored = 0;
  std::vector<BYTE> bytes = StoredData(type, data, size, &stored);
  return RegSetValueExW(key, Wide(name).c_str(), 0, type, bytes.data(), stored);
}

// Opens the key, creating what is missing with `security` (null: the default
// security, the creator's).
long CreateKey(RegRoot root, SrStringView path, RegView view, SECURITY_ATTRIBUTES* security, HKEY* key) {
  // Windows refuses a leading backslash; Wine does not in every view.
  if (!path.empty() && path.front() == '\\') return kErrBadPathname;
  return RegCreateKeyExW(RootKey(root), Wide(path).c_str(), 0, nullptr, 0,
                         KEY_ALL_ACCESS | ViewFlag(root, view), security, key, nullptr);
}

}  // namespace

void RegistryKey::Close() {
  if (handle_ != nullptr) RegCloseKey(KeyOf(handle_));
  handle_ = nullptr;
}

long RegistryKey::Open(RegRoot root, SrStringView path, bool writable, RegView view) {
  Close();
  if (!path.empty() && path.front() == '\\') return kErrBadPathname;
  HKEY key = nullptr;
  REGSAM access = (writable ? (KEY_READ | KEY_WRITE) : KEY_READ) | ViewFlag(root, view);
  long r = RegOpenKeyExW(RootKey(root), Wide(path).c_str(), 0, access, &key);
  if (r == ERROR_SUCCESS) handle_ = key;
  return r;
}

long RegistryKey::Create(RegRoot root, SrStringView path, RegView view) {
  Close();
  OpenSecurity security;
  HKEY key = nullptr;
  long r = CreateKey(root, path, view, reinterpret_cast<SECURITY_ATTRIBUTES*>(security.Get()), &key);
  if (r == ERROR_SUCCESS) handle_ = key;
  return r;
}

long RegistryKey::SetValue(SrStringView name, uint32_t type, const void* data, uint32_t size) {
  if (handle_ == nullptr) return kErrInvalidHandle;
  return SetValueOn(KeyOf(handle_), name, type, data, size);
}

long RegistryKey::QueryValue(SrStringView name, uint32_t* type, void* data, uint32_t* size) const {
  if (handle_ == nullptr) return kErrInvalidHandle;
  if (data != nullptr && size == nullptr) return kErrInvalidParameter;
  DWORD t = 0;
  DWORD n = size ? *size : 0;
  long r = RegQueryValueExW(KeyOf(handle_), Wide(name).c_str(), nullptr, &t, static_cast<BYTE*>(data),
                            size ? &n : nullptr);
  if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) {
    if (type != nullptr) *type = t;
    if (size != nullptr) *size = n;
  }
  return r;
}

long RegistryKey::DeleteValue(SrStringView name) {
  if (handle_ == nullptr) return kErrInvalidHandle;
  return RegDeleteValueW(KeyOf(handle_), Wide(name).c_str());
}

long RegistryKey::CountValues(uint32_t* count) const {
  if (handle_ == nullptr) return kErrInvalidHandle;
  if (count == nullptr) return kErrInvalidParameter;
  DWORD n = 0;
  long r = RegQueryInfoKeyW(KeyOf(handle_), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &n, nullptr,
                            nullptr, nullptr, nullptr);
  if (r == ERROR_SUCCESS) *count = n;
  return r;
}

long RegistryKey::CountSubKeys(uint32_t* count) const {
  if (handle_ == nullptr) return kErrInvalidHandle;
  if (count == nullptr) return kErrInvalidParameter;
  DWORD n = 0;
  long r = RegQueryInfoKeyW(KeyOf(handle_), nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr);
  if (r == ERROR_SUCCESS) *count = n;
  return r;
}

long RegistryKey::EnumValue(uint32_t index, SRCHAR* name, uint32_t* name_length, uint32_t* type, void* data,
                            uint32_t* size) const {
  if (handle_ == nullptr) return kErrInvalidHandle;
  if (name == nullptr || name_length == nullptr) return kErrInvalidParameter;
  if (data != nullptr && size == nullptr) return kErrInvalidParameter;
  DWORD name_room = *name_length;
  DWORD t = 0;
  DWORD n = size ? *size : 0;
  long r = RegEnumValueW(KeyOf(handle_), index, name, &name_room, nullptr, &t, static_cast<BYTE*>(data),
                         size ? &n : nullptr);
  if (r == ERROR_SUCCESS) *name_length = name_room;
  if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) {
    if (type != nullptr) *type = t;
    if (size != nullptr) *size = n;
  }
  return r;
}

long RegistryKey::EnumSubKey(uint32_t index, SrString* name) const {
  if (handle_ == nullptr) return kErrInvalidHandle;
  if (name == nullptr) return kErrInvalidParameter;
  wchar_t buf[256];
  DWORD length = 256;
  long r = RegEnumKeyExW(KeyOf(handle_), index, buf, &length, nullptr, nullptr, nullptr, nullptr);
  if (r == ERROR_SUCCESS) name->assign(buf, length);
  return r;
}

long GetRegistryValue(RegRoot root, SrStringView path, SrStringView name, uint32_t* type, void* data,
                      uint32_t* size) {
  RegistryKey key;
  long r = key.Open(root, path, false);
  if (r != kErrSuccess) return r;
  return key.QueryValue(name, type, data, size);
}

long SetRegistryValue(RegRoot root, SrStringView path, SrStringView name, uint32_t type, const void* data,
                      uint32_t size) {
  if (data == nullptr && size != 0) return kErrInvalidParameter;
  // As SHSetValueW does: a missing key gets the default security (the
  // creator's), never the open descriptor of RegistryKey::Create.
  HKEY key = nullptr;
  long r = CreateKey(root, path, RegView::kLibrary, nullptr, &key);
  if (r != ERROR_SUCCESS) return r;
  r = SetValueOn(key, name, type, data, size);
  RegCloseKey(key);
  return r;
}

long DeleteRegistryTree(RegRoot root, SrStringView path, RegView view) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return kErrInvalidParameter;
  // RegDeleteTreeW takes no view: empty the key through a handle opened in the
  // view, then delete the key itself in that view.
  const REGSAM flag = ViewFlag(root, view);
  const std::wstring wide = Wide(path);
  HKEY key = nullptr;
  long r = RegOpenKeyExW(RootKey(root), wide.c_str(), 0,
                         DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | flag, &key);
  if (r != ERROR_SUCCESS) return r;
  r = RegDeleteTreeW(key, nullptr);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return r;
  return RegDeleteKeyExW(RootKey(root), wide.c_str(), flag, 0);
}

}  // namespace platform

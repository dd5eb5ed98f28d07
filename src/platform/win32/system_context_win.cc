#include "platform/system_context.h"

#include <windows.h>

#include <vector>

namespace platform::internal {
namespace {

// At least major.minor, each compared as greater or equal.
bool AtLeast(DWORD major, DWORD minor) {
  OSVERSIONINFOEXW wanted;
  ZeroMemory(&wanted, sizeof wanted);
  wanted.dwOSVersionInfoSize = sizeof wanted;
  wanted.dwMajorVersion = major;
  wanted.dwMinorVersion = minor;
  DWORDLONG mask = 0;
  mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}

// Major and minor of kernel32.dll's file version in the system folder.
bool Kernel32Version(DWORD* major, DWORD* minor) {
  wchar_t path[MAX_PATH + 16] = {};
  UINT n = GetSystemDirectoryW(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  lstrcatW(path, L"\\kernel32.dll");
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return false;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path, 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  *major = HIWORD(fixed->dwFileVersionMS);
  *minor = LOWORD(fixed->dwFileVersionMS);
  return true;
}

}  // namespace

bool QueryOsVersionImpl(OsVersion* version) {
  OSVERSIONINFOEXW info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  BOOL ok = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
  version->major = info.dwMajorVersion;
  version->minor = info.dwMinorVersion;
  version->build = info.dwBuildNumber;
  if (AtLeast(6, 3)) {
    DWORD major = 0, minor = 0;
    if (Kernel32Version(&major, &minor)) {
      version->major = major;
      version->minor = minor;
    }
  }
  return ok != FALSE;
}

bool CurrentUserNameImpl(SrString* name) {
  wchar_t buf[260] = {};
  DWORD size = 260;
  if (!GetUserNameW(buf, &size)) return false;
  *name = buf;
  return true;
}

bool CurrentSessionIdImpl(uint32_t* session) {
  DWORD id = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &id)) return false;
  *session = id;
  return true;
}

bool InSystemServiceGroupImpl(const std::string& /*cgroup_file*/) { return false; }

}  // namespace platform::internal

// Shared files on Windows: CreateFileW with CREATE_NEW, MoveFileExW.
#include "platform/shared_file.h"

#include <windows.h>
#include <shlwapi.h>

#include <atomic>
#include <string>

#include "platform/file.h"
#include "platform/path.h"
#include "platform/security.h"

namespace platform {

PathKind GetPathKind(SrStringView path) {
  DWORD attributes = GetFileAttributesW(SrString(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::kNothing
                                                                          : PathKind::kOther;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::kOther;
  return PathKind::kFile;
}

bool CanReadFile(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRead, path, nullptr)) return false;
  HANDLE h = CreateFileW(SrString(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool regular = GetFileType(h) == FILE_TYPE_DISK;
  CloseHandle(h);
  return regular;
}

bool CreateSharedFolders(SrStringView path) {
  SrString full(path);
  if (full.size() <= 2 || full[1] != L':') return false;
  if (!IsPathSeparator(full.back())) full.push_back(L'\\');
  for (size_t i = 0; i < full.size(); ++i) {
    if (!IsPathSeparator(full[i]) || i < 3) continue;  // "C:\" itself is never made
    SrString prefix = full.substr(0, i);
    if (PathIsDirectoryW(prefix.c_str())) continue;
    OpenSecurity security;
    if (!CreateDirectoryW(prefix.c_str(), reinterpret_cast<LPSECURITY_ATTRIBUTES>(security.Get())) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return PathIsDirectoryW(full.c_str()) != FALSE;
}

bool CreateNewSharedFile(SrStringView folder, SrStringView stem, SrString* path) {
  if (!internal::FileFaultAllows(FileOp::kCreate, folder, nullptr)) return false;
  static std::atomic<unsigned> counter{0};
  SrString base(folder);
  if (!base.empty() && !IsPathSeparator(base.back())) base.push_back(L'\\');
  base += SrString(stem) + L"." + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    SrString name = base + std::to_wstring(counter++) + L"-" + std::to_wstring(GetTickCount() % 1000000);
    OpenSecurity security;
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                           reinterpret_cast<LPSECURITY_ATTRIBUTES>(security.Get()), CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    CloseHandle(h);
    *path = std::move(name);
    return true;
  }
  return false;
}

bool ReplaceSharedFile(SrStringView from, SrStringView to) {
  if (!internal::FileFaultAllows(FileOp::kRename, from, nullptr)) return false;
  return MoveFileExW(SrString(from).c_str(), SrString(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool RemoveNonFile(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRemoveTree, path, nullptr)) return false;
  SrString p(path);
  DWORD attributes = GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // The link itself; a junction or a folder link is removed as a folder,
    // which leaves its target alone.
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(p.c_str()) != FALSE
                                                   : DeleteFileW(p.c_str()) != FALSE;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveFolderTree(path);
  return true;
}

}  // namespace platform

#include "platform/file.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "platform/security.h"

namespace platform {
namespace {

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

void File::Close() {
  if (handle_ == kInvalid) return;
  CloseHandle(H(handle_));
  handle_ = kInvalid;
  path_.clear();
}

bool File::CreateExclusive(SrStringView path, uint32_t* error) {
  Close();
  if (!internal::FileFaultAllows(FileOp::kCreate, path, nullptr)) {
    if (error != nullptr) *error = kFileErrAccessDenied;
    return false;
  }
  SrString p(path);
  OpenSecurity security;
  HANDLE h = CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                         reinterpret_cast<LPSECURITY_ATTRIBUTES>(security.Attributes()),
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = GetLastError();
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  path_ = std::move(p);
  return true;
}

bool File::Write(const void* data, uint32_t size, uint32_t* written) {
  if (written != nullptr) *written = 0;
  if (!IsOpen()) return false;
  uint32_t allowed = size;
  if (!internal::FileFaultAllows(FileOp::kWrite, path_, &allowed)) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  if (allowed > size) allowed = size;
  DWORD n = 0;
  BOOL ok = WriteFile(H(handle_), data, allowed, &n, nullptr);
  if (written != nullptr) *written = n;
  return ok != FALSE;
}

bool File::Seek(uint64_t offset) {
  if (!IsOpen() || !internal::FileFaultAllows(FileOp::kSeek, path_, nullptr)) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(H(handle_), to, nullptr, FILE_BEGIN) != FALSE;
}

bool File::Flush() {
  if (!IsOpen() || !internal::FileFaultAllows(FileOp::kFlush, path_, nullptr)) return false;
  return FlushFileBuffers(H(handle_)) != FALSE;
}

bool File::Size(uint64_t* size) const {
  if (!IsOpen() || !internal::FileFaultAllows(FileOp::kSize, path_, nullptr)) return false;
  LARGE_INTEGER s;
  if (!GetFileSizeEx(H(handle_), &s)) return false;
  *size = static_cast<uint64_t>(s.QuadPart);
  return true;
}

bool File::Truncate() {
  if (!IsOpen() || !internal::FileFaultAllows(FileOp::kTruncate, path_, nullptr)) return false;
  return SetEndOfFile(H(handle_)) != FALSE;
}

bool FileExists(SrStringView path) { return PathFileExistsW(SrString(path).c_str()) != FALSE; }

bool RenameFile(SrStringView from, SrStringView to) {
  if (!internal::FileFaultAllows(FileOp::kRename, from, nullptr)) return false;
  return MoveFileW(SrString(from).c_str(), SrString(to).c_str()) != FALSE;
}

bool RemoveFile(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRemove, path, nullptr)) return false;
  return DeleteFileW(SrString(path).c_str()) != FALSE;
}

}  // namespace platform

namespace platform {

bool ReadWholeFile(SrStringView path, uint32_t max_bytes, std::string* bytes) {
  bytes->clear();
  if (!internal::FileFaultAllows(FileOp::kRead, path, nullptr)) return false;
  HANDLE h = CreateFileW(SrString(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(h, &size) && static_cast<uint64_t>(size.QuadPart) <= max_bytes;
  if (ok) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD done = 0;
    while (done < bytes->size()) {
      DWORD n = 0;
      if (!ReadFile(h, bytes->data() + done, static_cast<DWORD>(bytes->size() - done), &n,
                    nullptr) ||
          n == 0) {
        break;
      }
      done += n;
    }
    bytes->resize(done);
  }
  CloseHandle(h);
  if (!ok) bytes->clear();
  return ok;
}

bool CopyFileTo(SrStringView from, SrStringView to) {
  if (!internal::FileFaultAllows(FileOp::kCopy, from, nullptr)) return false;
  return CopyFileW(SrString(from).c_str(), SrString(to).c_str(), FALSE) != FALSE;
}

bool RemoveFolderTree(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRemoveTree, path, nullptr)) return false;
  SrString from(path);
  from.push_back(L'\0');  // the list ends with a second NUL
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted &&
         !PathFileExistsW(SrString(path).c_str());
}

bool CreateTempFile(SrStringView prefix, SrString* path) {
  if (!internal::FileFaultAllows(FileOp::kCreateTemp, prefix, nullptr)) return false;
  wchar_t dir[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH) return false;
  wchar_t name[MAX_PATH];
  if (GetTempFileNameW(dir, SrString(prefix).c_str(), 0, name) == 0) return false;
  path->assign(name);
  return true;
}

}  // namespace platform

#include "platform/file.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstring>
#include <vector>

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
                         reinterpret_cast<LPSECURITY_ATTRIBUTES>(security.Get()), CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = GetLastError();
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  path_ = std::move(p);
  return true;
}

// WriteFileGather takes only page-sized pieces of a file opened without
// buffering: small runs are gathered into one buffer instead, large ones (and
// a lone run) are written as they stand.
bool File::WriteSome(const ByteRun* runs, int count, uint32_t* written) {
  *written = 0;
  constexpr size_t kGather = 64 * 1024;
  std::vector<uint8_t> gather;
  bool failed = false;
  // False when the file took less than all (short write or failure).
  auto put = [&](const void* data, size_t size) {
    DWORD n = 0;
    if (!WriteFile(H(handle_), data, static_cast<DWORD>(size), &n, nullptr)) failed = true;
    *written += n;
    return !failed && n == size;
  };
  auto flush = [&] {
    bool ok = gather.empty() || put(gather.data(), gather.size());
    gather.clear();
    return ok;
  };
  for (int k = 0; k < count; ++k) {
    if (runs[k].size >= kGather || count == 1) {
      if (!flush() || !put(runs[k].data, runs[k].size)) return !failed;
      continue;
    }
    if (gather.size() + runs[k].size > kGather && !flush()) return !failed;
    if (gather.capacity() == 0) gather.reserve(kGather);
    const auto* p = static_cast<const uint8_t*>(runs[k].data);
    gather.insert(gather.end(), p, p + runs[k].size);
  }
  return flush() || !failed;
}

namespace internal {
void SetDiskFullError() { SetLastError(ERROR_DISK_FULL); }
uint32_t SystemErrorCode() { return GetLastError(); }
}  // namespace internal

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

bool RenameFileHeld(SrStringView from, SrStringView to, bool (*before)(void* arg), void* arg, bool* ran) {
  *ran = false;
  if (!internal::FileFaultAllows(FileOp::kRename, from, nullptr)) return false;
  // Opened without sharing: nobody else can open, rename or delete the file
  // until it is renamed through this handle.
  HANDLE h = CreateFileW(SrString(from).c_str(), DELETE | SYNCHRONIZE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (before != nullptr && !before(arg)) {
    CloseHandle(h);
    return false;
  }
  *ran = true;
  const SrString target(to);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + (target.size() + 1) * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
  const BOOL ok = SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buffer.size()));
  const DWORD error = GetLastError();
  CloseHandle(h);
  SetLastError(error);
  return ok != FALSE;
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
  HANDLE h = CreateFileW(SrString(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(h, &size) && static_cast<uint64_t>(size.QuadPart) <= max_bytes;
  if (ok) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD done = 0;
    while (done < bytes->size()) {
      DWORD n = 0;
      if (!ReadFile(h, bytes->data() + done, static_cast<DWORD>(bytes->size() - done), &n, nullptr) ||
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
  return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted && !PathFileExistsW(SrString(path).c_str());
}

bool FileSize(SrStringView path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(SrString(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool ListFolderFiles(SrStringView dir, std::vector<SrString>* names) {
  names->clear();
  if (!internal::FileFaultAllows(FileOp::kList, dir, nullptr)) return false;
  SrString pattern(dir);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
      names->emplace_back(found.cFileName);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return true;
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

bool CopyToTempFile(SrStringView from, SrStringView prefix, SrString* path) {
  path->clear();
  SrString temp;
  if (!CreateTempFile(prefix, &temp)) return false;
  if (!CopyFileTo(from, temp)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  *path = std::move(temp);
  return true;
}

}  // namespace platform

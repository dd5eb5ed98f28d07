#include "platform/path.h"

#include <windows.h>
#include <shlwapi.h>

namespace platform {
namespace {

// Runs a shell path function over a MAX_PATH copy of *path. Some of them may
// fill the very last unit of MAX_PATH and put the NUL past it, hence the spare
// room; such a result does not fit the caller's MAX_PATH buffers and is refused.
template <typename Fn>
bool InBuffer(SrString* path, Fn fn) {
  if (path->size() >= kMaxPath) return false;
  wchar_t buf[kMaxPath + 2] = {};
  path->copy(buf, path->size());
  bool ok = fn(buf);
  buf[kMaxPath + 1] = 0;
  SrString result(buf);
  if (ok && result.size() >= kMaxPath) return false;
  if (ok) *path = std::move(result);
  return ok;
}

}  // namespace

bool IsPathSeparator(SRCHAR c) { return c == L'\\' || c == L'/'; }

namespace internal {

SrString RealHostExecutablePath() {
  wchar_t buf[kMaxPath];
  DWORD n = GetModuleFileNameW(nullptr, buf, kMaxPath);
  if (n == 0 || n >= kMaxPath) return SrString();
  return SrString(buf, n);
}

}  // namespace internal

bool AppendPath(SrString* path, SrStringView more) {
  SrString m(more);
  return InBuffer(path, [&](wchar_t* b) { return PathAppendW(b, m.c_str()) != FALSE; });
}

bool RemoveFileSpec(SrString* path) {
  bool removed = false;
  InBuffer(path, [&](wchar_t* b) {
    removed = PathRemoveFileSpecW(b) != FALSE;
    return true;
  });
  return removed;
}

bool AddTrailingSeparator(SrString* path) {
  return InBuffer(path, [](wchar_t* b) { return PathAddBackslashW(b) != nullptr; });
}

SrString FindFileName(SrStringView path) {
  SrString p(path);
  return SrString(PathFindFileNameW(p.c_str()));
}

void RemoveExtension(SrString* path) {
  InBuffer(path, [](wchar_t* b) {
    PathRemoveExtensionW(b);
    return true;
  });
}

bool RenameExtension(SrString* path, SrStringView extension) {
  SrString e(extension);
  return InBuffer(path, [&](wchar_t* b) { return PathRenameExtensionW(b, e.c_str()) != FALSE; });
}

bool IsDirectory(SrStringView path) {
  return !path.empty() && PathIsDirectoryW(SrString(path).c_str()) != FALSE;
}

bool PathExists(SrStringView path) {
  return !path.empty() && PathFileExistsW(SrString(path).c_str()) != FALSE;
}

}  // namespace platform

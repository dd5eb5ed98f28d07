// Path helpers over "/" with the meaning of the Windows shell functions of the
// same purpose (a "\" counts as a separator, see platform/path.h).
#include "platform/path.h"

#include <unistd.h>

#include "platform/file.h"
#include "platform/posix/os_path.h"
#include "platform/posix/walk.h"

namespace platform {
namespace {

// Index of the last separator, or npos.
size_t LastSeparator(SrStringView path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return i - 1;
  }
  return SrStringView::npos;
}

// Index where the extension of the last component starts, or path.size().
size_t ExtensionStart(SrStringView path) {
  size_t dot = path.size();
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsPathSeparator(path[i]) || path[i] == u' ') {
      dot = path.size();
    } else if (path[i] == u'.') {
      dot = i;
    }
  }
  return dot;
}

}  // namespace

bool IsPathSeparator(SRCHAR c) { return c == u'/' || c == u'\\'; }

namespace internal {

SrString RealHostExecutablePath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf)) return SrString();
  return text::FromUtf8(std::string_view(buf, static_cast<size_t>(n)));
}

}  // namespace internal

bool AppendPath(SrString* path, SrStringView more) {
  while (!more.empty() && IsPathSeparator(more.front())) more.remove_prefix(1);
  SrString joined = *path;
  if (!joined.empty() && !more.empty() && !IsPathSeparator(joined.back())) {
    joined += kPathSeparator;
  }
  joined += more;
  if (joined.size() >= kMaxPath) return false;
  *path = std::move(joined);
  return true;
}

bool RemoveFileSpec(SrString* path) {
  size_t sep = LastSeparator(*path);
  if (sep == SrStringView::npos) {
    if (path->empty()) return false;
    path->clear();
    return true;
  }
  // Keep a leading root separator ("/a" -> "/").
  size_t keep = sep == 0 ? 1 : sep;
  if (keep >= path->size()) return false;
  path->resize(keep);
  return true;
}

bool AddTrailingSeparator(SrString* path) {
  if (path->empty() || IsPathSeparator(path->back())) return true;
  if (path->size() + 1 >= kMaxPath) return false;
  *path += kPathSeparator;
  return true;
}

SrString FindFileName(SrStringView path) {
  size_t sep = LastSeparator(path);
  return SrString(sep == SrStringView::npos ? path : path.substr(sep + 1));
}

void RemoveExtension(SrString* path) { path->resize(ExtensionStart(*path)); }

bool RenameExtension(SrString* path, SrStringView extension) {
  size_t at = ExtensionStart(*path);
  if (at + extension.size() >= kMaxPath) return false;
  path->resize(at);
  *path += extension;
  return true;
}

// Both look through the walk of platform/posix/walk.h: what the library could
// not reach (through a refused link) does not exist for it.
bool IsDirectory(SrStringView path) {
  if (path.empty()) return false;
  posix::UniqueFd dir(posix::OpenFolder(posix::OsPath(path), false));
  return dir.get() >= 0;
}

bool PathExists(SrStringView path) { return !path.empty() && FileExists(path); }

}  // namespace platform

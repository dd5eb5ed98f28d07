#include "platform/shell_folder.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/path.h"

namespace platform {
bool ShellFolderPath(int csidl, bool create, SrString* path) {
  if (!internal::ShellFolderFaultAllows(csidl)) return false;
  wchar_t buf[kMaxPath] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buf, csidl, create ? TRUE : FALSE)) return false;
  path->assign(buf);
  return true;
}

int CreateFolderTree(SrStringView path) { return SHCreateDirectory(nullptr, SrString(path).c_str()); }

}  // namespace platform

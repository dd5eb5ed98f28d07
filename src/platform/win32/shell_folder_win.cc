#include "platform/shell_folder.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>

#include "platform/path.h"

namespace platform {
namespace internal {
extern std::atomic<ShellFolderFaultHook> g_shell_folder_hook;
}  // namespace internal

bool ShellFolderPath(int csidl, bool create, SrString* path) {
  ShellFolderFaultHook hook = internal::g_shell_folder_hook.load();
  if (hook != nullptr && !hook(csidl)) return false;
  wchar_t buf[kMaxPath] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buf, csidl, create ? TRUE : FALSE)) return false;
  path->assign(buf);
  return true;
}

int CreateFolderTree(SrStringView path) {
  return SHCreateDirectory(nullptr, SrString(path).c_str());
}

}  // namespace platform

#include "env/comm_func.h"

#include "platform/log_sink.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/shell_folder.h"

namespace COMM_FUNC {
namespace {

// Copies dir into the caller's MAX_PATH buffer; false when it does not fit.
bool CopyOut(const SrString& dir, SRCHAR* buffer) {
  if (dir.size() >= platform::kMaxPath) return false;
  dir.copy(buffer, dir.size());
  buffer[dir.size()] = 0;
  return true;
}

}  // namespace

bool GetAppDataDir(SRCHAR* buffer, bool trailing_backslash) {
  SrString dir;
  SrString ini = platform::HostExecutableFolder();
  // Without the host's folder there is no "dir.ini" to read (a bare file name
  // would make Windows look in its own folder).
  if (!ini.empty() && platform::AppendPath(&ini, SRT("dir.ini"))) {
    SRCHAR value[platform::kMaxPath] = {};
    platform::ReadProfileString(SRT("dir"), SRT("COMMON_APPDATA"), SRT(""), value, platform::kMaxPath,
                                ini.c_str());
    if (value[0] != 0) {
      platform::CreateFolderTree(value);
      if (platform::IsDirectory(value)) dir = value;
    }
  }
  if (dir.empty()) {
    if (!platform::ShellFolderPath(platform::kCsidlCommonAppData, true, &dir)) {
      SR_LOG(8, "COMM_FUNC::GetAppDataDir", "COMM_FUNC::GetAppDataDir, SHGetSpecialFolderPath(%d)",
             platform::kCsidlCommonAppData);
      return false;
    }
    platform::AppendPath(&dir, SRT("Lumora"));
    platform::CreateFolderTree(dir);
  }
  if (trailing_backslash) platform::AddTrailingSeparator(&dir);
  return CopyOut(dir, buffer);
}

}  // namespace COMM_FUNC

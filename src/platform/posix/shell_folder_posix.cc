#include "platform/shell_folder.h"

#include <cerrno>

#include "platform/file.h"
#include "platform/path.h"
#include "platform/posix/os_path.h"
#include "platform/posix/system_root.h"

namespace platform {
bool ShellFolderPath(int csidl, bool create, SrString* path) {
  if (!internal::ShellFolderFaultAllows(csidl)) return false;
  const char* relative = nullptr;
  if (csidl == kCsidlCommonAppData) {
    relative = "ProgramData";
  } else if (csidl == kCsidlCommonDocuments) {
    relative = "Public/Documents";
  } else {
    return false;
  }
  std::string os = posix::SystemPath(relative, false);
  if (os.empty() || os[0] != '/') return false;
  if (create && !posix::MakeSharedDirs(os)) return false;
  *path = text::FromUtf8(os);
  return true;
}

int CreateFolderTree(SrStringView path) {
  std::string os = posix::OsPath(path);
  if (os.empty() || os[0] != '/') return kFolderBadPathname;
  if (path.size() >= kMaxPath) return kFolderNameTooLong;
  // The system answers the same for a file in the way as for a folder.
  if (FileExists(path)) return kFolderAlreadyExists;
  errno = 0;
  if (posix::MakeSharedDirs(os)) return kFolderCreated;
  return (errno == EACCES || errno == EPERM || errno == EROFS || errno == ELOOP) ? kFolderAccessDenied
                                                                                 : kFolderPathNotFound;
}

}  // namespace platform

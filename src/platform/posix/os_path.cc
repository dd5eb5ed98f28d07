#include "platform/posix/os_path.h"

#include <cerrno>

namespace platform::posix {

std::string OsPath(SrStringView path) {
  std::string out = text::ToUtf8(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

uint32_t Win32ErrorOf(int err) {
  switch (err) {
    case 0: return 0;
    case ENOENT: return 2;   // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EISDIR:
    case ELOOP:
    case EROFS: return 5;  // ERROR_ACCESS_DENIED
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY: return 32;  // ERROR_SHARING_VIOLATION
    case ENOSPC:
    case EDQUOT: return 112;        // ERROR_DISK_FULL
    case EEXIST: return 183;        // ERROR_ALREADY_EXISTS
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EINVAL: return 87;         // ERROR_INVALID_PARAMETER
    case EMFILE:
    case ENFILE: return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EXDEV: return 17;  // ERROR_NOT_SAME_DEVICE
    default: return 31;     // ERROR_GEN_FAILURE
  }
}

}  // namespace platform::posix

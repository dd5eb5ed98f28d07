#include "platform/posix/system_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform::posix {

std::string SystemRoot() {
  const char* root = std::getenv("STATRELAY_ROOT");
  if (root != nullptr && *root != 0) return root;
  struct stat st;
  if (stat("/var/lib/statrelay", &st) == 0 && S_ISDIR(st.st_mode) &&
      access("/var/lib/statrelay", W_OK) == 0) {
    return "/var/lib/statrelay";
  }
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && *state != 0) return std::string(state) + "/statrelay";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/state/statrelay";
}

bool MakeSharedDirs(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) MakeSharedDirs(path.substr(0, slash));
  if (mkdir(path.c_str(), 0777) == 0) {
    chmod(path.c_str(), 0777);  // the umask must not narrow a shared folder
  } else if (errno != EEXIST) {
    return false;
  }
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string SystemPath(const std::string& relative_dir, bool create) {
  std::string path = SystemRoot();
  if (!relative_dir.empty()) path += "/" + relative_dir;
  if (create) MakeSharedDirs(path);
  return path;
}

}  // namespace platform::posix

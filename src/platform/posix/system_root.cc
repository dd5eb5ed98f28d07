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

namespace {

// Creates `path` and its missing parents with mode 0777 whatever the umask,
// except the folders above the system root (say ~/.local/state when the root
// falls back to the user's state folder): those get the ordinary 0755, so that
// no other user may change what lies outside the root.
bool MakeDirs(const std::string& path, const std::string& root) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) MakeDirs(path.substr(0, slash), root);
  const bool above_root = root.size() > path.size() && root.compare(0, path.size(), path) == 0 &&
                          root[path.size()] == '/';
  if (mkdir(path.c_str(), above_root ? 0755 : 0777) == 0) {
    if (!above_root) chmod(path.c_str(), 0777);  // the umask must not narrow a shared folder
  } else if (errno != EEXIST) {
    return false;
  }
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool MakeSharedDirs(const std::string& path) { return MakeDirs(path, SystemRoot()); }

std::string SystemPath(const std::string& relative_dir, bool create) {
  std::string path = SystemRoot();
  if (!relative_dir.empty()) path += "/" + relative_dir;
  if (create) MakeSharedDirs(path);
  return path;
}

}  // namespace platform::posix

#include "platform/posix/system_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix/walk.h"

namespace platform::posix {

std::string SystemRoot(bool* per_user) {
  *per_user = false;
  const char* root = std::getenv("STATRELAY_ROOT");
  if (root != nullptr && *root != 0) return root;
  struct stat st;
  if (stat("/var/lib/statrelay", &st) == 0 && S_ISDIR(st.st_mode) &&
      access("/var/lib/statrelay", W_OK) == 0) {
    return "/var/lib/statrelay";
  }
  *per_user = true;
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && *state != 0) return std::string(state) + "/statrelay";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/state/statrelay";
}

std::string SystemRoot() {
  bool per_user = false;
  return SystemRoot(&per_user);
}

bool MakeSharedDirs(const std::string& path) {
  UniqueFd dir(OpenFolder(path, true));
  return dir.get() >= 0;
}

std::string SystemPath(const std::string& relative_dir, bool create) {
  std::string path = SystemRoot();
  if (!relative_dir.empty()) path += "/" + relative_dir;
  if (create) MakeSharedDirs(path);
  return path;
}

}  // namespace platform::posix

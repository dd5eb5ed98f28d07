// The folder that holds, on Linux, every place Windows provides per computer:
// the registry hive, ProgramData, Public/Documents and the named-mutex locks.
#ifndef STATRELAY_PLATFORM_POSIX_SYSTEM_ROOT_H_
#define STATRELAY_PLATFORM_POSIX_SYSTEM_ROOT_H_

#include <string>

namespace platform::posix {

// $STATRELAY_ROOT when set and not empty; else /var/lib/statrelay when it is a
// writable folder; else ${XDG_STATE_HOME:-$HOME/.local/state}/statrelay.
// Read afresh at each call (tests point it elsewhere). Not created here.
std::string SystemRoot();
// The same, and in *per_user whether it is the per-user fallback (the user's
// alone) rather than a root every local user shares.
std::string SystemRoot(bool* per_user);

// SystemRoot() + "/" + relative_dir, created with MakeSharedDirs when `create`
// is set. Returns the joined path either way.
std::string SystemPath(const std::string& relative_dir, bool create);

// Creates `path` and its missing parents, walked and moded as
// platform/posix/walk.h says (below a shared root 0777 whatever the umask, so
// that every local user can use them; below the per-user root 0700; folders
// above the root itself 0755). True when `path` is a folder afterwards,
// reached without a refused link.
bool MakeSharedDirs(const std::string& path);

}  // namespace platform::posix

#endif  // STATRELAY_PLATFORM_POSIX_SYSTEM_ROOT_H_

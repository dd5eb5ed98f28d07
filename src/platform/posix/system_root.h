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

// SystemRoot() + "/" + relative_dir, created with MakeSharedDirs when `create`
// is set. Returns the joined path either way.
std::string SystemPath(const std::string& relative_dir, bool create);

// Creates `path` and its missing parents with mode 0777 whatever the umask, so
// that every local user can use them; only folders above the system root itself
// are made with the ordinary mode 0755. True when `path` is a
// folder afterwards.
bool MakeSharedDirs(const std::string& path);

}  // namespace platform::posix

#endif  // STATRELAY_PLATFORM_POSIX_SYSTEM_ROOT_H_

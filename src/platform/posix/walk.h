// The one way the POSIX backends reach a path: folder by folder with openat,
// so that nobody can redirect a path by putting a symbolic link in the place
// of a folder or a file while the library uses it.
//
// Below the system root, the root itself is opened however it is reached (the
// machine's owner may have put it behind a link) and every component below it
// is opened with O_NOFOLLOW (O_DIRECTORY at every folder): a link there is
// refused. Every user may write the shared tree, so a link in it may be
// anyone's. Outside the root (a folder a host's "dir.ini" names, the
// temporary folder, a path listed in the registry) the walk starts at "/" and
// follows a link only where no other user can have put it: in a folder that
// only its owner may write, owned by root or by this process's user. A
// refused link is logged at level 8, once per process for each cause.
//
// Folders and files created through the walk get their mode with fchmod on
// their descriptor, whatever the umask: in a shared root, 0777 and 0666 (no
// sticky bit: every user's hosts seal each other's leftovers, as on Windows);
// in the per-user fallback root, 0700 and 0600 (the user's alone); outside the
// root, 0777 and 0666. Folders made on the way to the root itself get 0755.
#ifndef STATRELAY_PLATFORM_POSIX_WALK_H_
#define STATRELAY_PLATFORM_POSIX_WALK_H_

#include <sys/types.h>

#include <string>

namespace platform::posix {

// Owns a descriptor; closes it on destruction.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(-1); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd);

 private:
  int fd_;
};

// Where a walked path lies, which decides the modes of what is made there.
struct Place {
  bool below_root = false;    // the system root or a path inside it
  bool private_root = false;  // the root is the per-user fallback
  mode_t FolderMode() const { return below_root && private_root ? 0700 : 0777; }
  mode_t FileMode() const { return below_root && private_root ? 0600 : 0666; }
};

// Opens the folder `path` ("/" separators; a relative path starts at the
// working folder) for use with the *at calls. With `create`, missing folders
// are made on the way (mkdirat, then fchmod on the new folder's descriptor).
// Returns the descriptor, or -1 with errno set (ELOOP for a refused link,
// EINVAL for an empty path or a "..").
int OpenFolder(const std::string& path, bool create, Place* place = nullptr);

// Opens the folder holding `path` (walked as OpenFolder does, never created)
// and gives the last component in *name. -1 with errno set when the folder
// cannot be had or there is no last component.
int OpenParent(const std::string& path, std::string* name, Place* place = nullptr);

// A path split into its folder, walked and held open, and its last component.
struct Located {
  UniqueFd dir;
  std::string name;
  Place place;
  std::string path;  // as given (trailing "/" dropped), for the log
};
// OpenParent into *at. False with errno set.
bool Locate(const std::string& path, Located* at);

// How OpenFileAt treats a link at the file itself.
enum class FileLink {
  kRefuse,         // always refused (anything that writes, renames or deletes)
  kFollowTrusted,  // a read outside the root follows a link the walk trusts
};

// Opens `name` in the folder `dir` (from OpenFolder or OpenParent at `place`)
// with `flags` | O_NOFOLLOW | O_CLOEXEC; `path` is the full path, for the log.
// With O_CREAT, a file this process's user owns gets place's file mode with
// fchmod when it has another. A link there is refused with ELOOP and logged.
int OpenFileAt(int dir, const std::string& name, int flags, const Place& place, const std::string& path,
               FileLink link = FileLink::kRefuse);

// True when a link found in the folder `dir` may be followed: outside the
// root, in a folder only its owner may write, owned by root or by us. (The
// walk uses it; callers that look at an entry with fstatat use it too.)
bool TrustsLinksIn(int dir, const Place& place);

// What a refused link stood for, each logged once per process.
enum class LinkCause { kFolder, kFile };
// Logs at level 8 that the link at `path` was refused (once per cause) and
// sets errno to ELOOP.
void RefuseLink(LinkCause cause, const std::string& path);
#if defined(STATRELAY_TEST_HOOKS)
// Test hook: the next refusal of each cause is logged again.
void ForgetRefusedLinksForTest();
#endif

}  // namespace platform::posix

#endif  // STATRELAY_PLATFORM_POSIX_WALK_H_
